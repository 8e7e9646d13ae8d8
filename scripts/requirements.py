"""Prints, one a line, the Python packages that a set of groups needs.

Every requirement is declared once, in pyproject.toml; the set-up scripts
read them from there. Groups:
  build    what `pip wheel --no-build-isolation` needs: the build system's
           requirements and the CMake and Ninja versions the build asks for
  runtime  the package's own dependencies
  NAME     any optional extra of the package (test, dask, ci, ...); an extra
           that names the package itself (zellik_sim[dask]) is expanded

Usage: python scripts/requirements.py GROUP...
Runs under every supported interpreter, including 3.10, which has no tomllib.
"""

import pathlib
import re
import sys

try:
    import tomllib
except ImportError:  # Python 3.10: pip carries the same parser.
    from pip._vendor import tomli as tomllib  # type: ignore[no-redef]

PYPROJECT = pathlib.Path(__file__).resolve().parents[1] / "pyproject.toml"
SELF_REFERENCE = re.compile(r"^\s*zellik[-_]sim\s*\[([^\]]*)\]\s*$", re.IGNORECASE)


def requirements(project: dict, group: str, seen: set[str]) -> list[str]:
    if group in seen:
        return []
    seen.add(group)
    if group == "build":
        scikit = project.get("tool", {}).get("scikit-build", {})
        found = list(project["build-system"]["requires"])
        found.append("cmake" + scikit.get("cmake", {}).get("version", ""))
        found.append("ninja" + scikit.get("ninja", {}).get("version", ""))
        return found
    if group == "runtime":
        return list(project["project"].get("dependencies", []))
    extras = project["project"].get("optional-dependencies", {})
    if group not in extras:
        raise SystemExit(f"pyproject.toml declares no group {group!r}")
    found = []
    for requirement in extras[group]:
        self_reference = SELF_REFERENCE.match(requirement)
        if self_reference:
            for extra in self_reference.group(1).split(","):
                found += requirements(project, extra.strip(), seen)
        else:
            found.append(requirement)
    return found


def main(groups: list[str]) -> None:
    project = tomllib.loads(PYPROJECT.read_text())
    seen: set[str] = set()
    for group in groups:
        for requirement in requirements(project, group, seen):
            print(requirement)


if __name__ == "__main__":
    main(sys.argv[1:])
