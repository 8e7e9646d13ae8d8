import argparse
from collections.abc import Sequence
from types import ModuleType

__all__ = ["COMMANDS", "build_parser", "main"]

COMMANDS: list[ModuleType]

def build_parser() -> argparse.ArgumentParser: ...
def main(argv: Sequence[str] | None = None) -> int: ...
