"""What the wheel carries and what the set-up scripts read from pyproject.toml."""

import importlib.metadata
import pathlib
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parents[2]


def requirements(*groups: str) -> list[str]:
    result = subprocess.run([sys.executable, str(ROOT / "scripts" / "requirements.py"), *groups],
                            capture_output=True, text=True, check=True, timeout=60)
    return result.stdout.split()


def test_requirements_are_read_from_pyproject():
    build = requirements("build")
    assert "cmake>=3.26" in build and any(r.startswith("scikit-build-core") for r in build)
    test = requirements("runtime", "test")
    assert any(r.startswith("python-ulid") for r in test)
    assert any(r.startswith("pytest") for r in test) and any(r.startswith("mypy") for r in test)
    # The test extra names the dask extra of the package itself: expanded.
    assert any(r.startswith("dask[distributed]") for r in test)
    assert not any(r.lower().startswith("zellik") for r in test)


def test_unknown_requirement_group_fails():
    result = subprocess.run([sys.executable, str(ROOT / "scripts" / "requirements.py"), "nonesuch"],
                            capture_output=True, text=True, timeout=60)
    assert result.returncode != 0 and "nonesuch" in result.stderr


def test_wheel_ships_one_module_and_its_stub_package():
    files = {str(f) for f in importlib.metadata.files("zellik_sim") or []}
    modules = [f for f in files if f.startswith("zellik_sim.") and f.endswith(".so")]
    assert modules == ["zellik_sim.abi3.so"]
    assert "zellik_sim-stubs/__init__.pyi" in files
    extras = importlib.metadata.metadata("zellik_sim").get_all("Provides-Extra") or []
    assert {"test", "dask"} <= set(extras)
