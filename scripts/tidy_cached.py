#!/usr/bin/env python3
"""Runs clang-tidy over sources with the compile commands of a build, and
skips every source that a clean run has seen before exactly as it is now.

"Exactly as it is now" is a digest of what clang-tidy reads: the source
preprocessed (every header it includes, without line markers, so the
checkout's folder does not count), its compile flags with the checkout's
folder taken out, the .clang-tidy configuration and clang-tidy's version.
A source whose digest has a mark in the cache folder was clean with those
inputs and is not run again; a clean run leaves a mark. Findings are never
cached: a source with findings runs every time until it is clean.

Usage: tidy_cached.py -p BUILD --log FILE [--jobs N] SOURCE...
The cache folder is $ZELLIK_TIDY_CACHE, or ~/.cache/zellik_sim/clang-tidy.
Exits 1 when any source has findings (their output is in the log file).
"""

from __future__ import annotations

import argparse
import concurrent.futures
import hashlib
import json
import os
import pathlib
import shlex
import subprocess
import sys

# Flags that name an output (with the value after them) or ask for one.
_OUTPUT_FLAGS_WITH_VALUE = {"-o", "-MF", "-MT", "-MQ"}
_OUTPUT_FLAGS = {"-c", "-MD", "-MMD"}


def cache_folder() -> pathlib.Path:
    given = os.environ.get("ZELLIK_TIDY_CACHE")
    if given:
        return pathlib.Path(given)
    return pathlib.Path.home() / ".cache" / "zellik_sim" / "clang-tidy"


def compile_commands(build: pathlib.Path) -> dict[str, dict[str, object]]:
    entries = json.loads((build / "compile_commands.json").read_text())
    by_file = {}
    for entry in entries:
        path = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
        by_file[path] = entry
    return by_file


def arguments(entry: dict[str, object]) -> list[str]:
    if "arguments" in entry:
        return list(entry["arguments"])  # type: ignore[arg-type]
    return shlex.split(str(entry["command"]))


def digest(source: str, entry: dict[str, object], root: str, fixed: bytes) -> str | None:
    """The digest of what clang-tidy reads for `source`, or None when the
    source does not preprocess (clang-tidy then runs and says why)."""
    args = arguments(entry)
    preprocess: list[str] = []
    skip_next = False
    for arg in args:
        if skip_next:
            skip_next = False
            continue
        if arg in _OUTPUT_FLAGS_WITH_VALUE:
            skip_next = True
            continue
        if arg in _OUTPUT_FLAGS:
            continue
        preprocess.append(arg)
    preprocess += ["-E", "-P", "-o", "-"]
    done = subprocess.run(preprocess, cwd=str(entry["directory"]), capture_output=True)
    if done.returncode != 0:
        return None
    h = hashlib.sha256(fixed)
    h.update(os.path.relpath(source, root).encode())
    h.update("\0".join(a.replace(root, "<root>") for a in preprocess).encode())
    h.update(done.stdout)
    return h.hexdigest()


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-p", dest="build", required=True, type=pathlib.Path)
    parser.add_argument("--log", required=True, type=pathlib.Path)
    parser.add_argument("--jobs", type=int, default=int(os.environ.get("JOBS", "2")))
    parser.add_argument("sources", nargs="+")
    options = parser.parse_args()

    root = os.getcwd()
    commands = compile_commands(options.build)
    version = subprocess.run(["clang-tidy", "--version"], capture_output=True, check=True).stdout
    fixed = version + pathlib.Path(".clang-tidy").read_bytes()
    cache = cache_folder()
    cache.mkdir(parents=True, exist_ok=True)

    def check(source: str) -> tuple[str, bool, bool, str]:
        """(source, clean, from the cache, clang-tidy's output)."""
        entry = commands.get(os.path.realpath(source))
        key = digest(source, entry, root, fixed) if entry is not None else None
        if key is not None and (cache / key).exists():
            return source, True, True, ""
        done = subprocess.run(
            ["clang-tidy", "-p", str(options.build), "--quiet", source], capture_output=True, text=True
        )
        clean = done.returncode == 0
        if clean and key is not None:
            (cache / key).touch()
        return source, clean, False, done.stdout + done.stderr

    ran = cached = 0
    failed = False
    with options.log.open("w") as log, concurrent.futures.ThreadPoolExecutor(options.jobs) as pool:
        for source, clean, from_cache, output in pool.map(check, options.sources):
            cached += from_cache
            ran += not from_cache
            failed |= not clean
            if output and not clean:
                log.write(output)
    print(f"clang-tidy: {ran} sources checked, {cached} unchanged since a clean run")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
