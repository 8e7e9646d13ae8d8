"""Sphinx configuration of the zellik_sim documentation.

Built by scripts/build_docs.sh against the installed module: the reference
comes from the stubs and the module's docstrings (_ext/stub_reference.py),
and the guides' examples run as doctests (`sphinx-build -b doctest`).
"""

from __future__ import annotations

import pathlib
import subprocess
import sys

import zellik_sim

DOCS = pathlib.Path(__file__).resolve().parent
ROOT = DOCS.parent
sys.path.insert(0, str(DOCS / "_ext"))

project = "zellik_sim"
author = "the zellik_sim developers"
copyright = "2026, the zellik_sim developers"
# The version is declared once, in pyproject.toml; the installed module
# carries it.
release = version = zellik_sim.__version__

extensions = ["sphinx.ext.doctest", "sphinx.ext.napoleon", "myst_parser", "stub_reference"]
exclude_patterns = ["_build", "tests", "README.md"]
nitpicky = True
# `ulid.ULID` belongs to the python-ulid package, and the runtime's and the
# command line's signatures name classes of the standard library, whose
# inventories cannot be fetched while building; everything else must resolve.
nitpick_ignore = [("py:class", "ULID"), ("py:class", "os.PathLike"),
                  ("py:class", "multiprocessing.context.BaseContext"),
                  ("py:class", "argparse.ArgumentParser"), ("py:class", "ModuleType")]
add_module_names = False
# Each class has a section of its own; the sidebar lists those, not members.
toc_object_entries = False
napoleon_google_docstring = True
napoleon_numpy_docstring = False

html_theme = "furo"
html_title = f"zellik_sim {release}"
html_static_path: list[str] = []
html_show_sourcelink = False

# Every guide's doctest starts from the module's names, with the examples
# importable and their folder as EXAMPLES.
doctest_global_setup = f"""
import pathlib
import sys
EXAMPLES = pathlib.Path({str(ROOT / "examples")!r})
sys.path.insert(0, str(EXAMPLES))
from zellik_sim import *
import zellik_sim
"""

# ---------------------------------------------------------------------------
# The example's pictures, drawn afresh by examples/pipeline.py into
# _generated/ (graph, busiest step, timeline) for the guide that explains
# them. It needs Graphviz's `dot` and matplotlib (setup_deps.sh docs).

GENERATED = DOCS / "_generated"


def _draw_pictures() -> None:
    wanted = [GENERATED / name for name in ("graph.png", "busiest.png", "timeline.png")]
    sources = [ROOT / "examples" / "pipeline.py", ROOT / "examples" / "pictures.py"]
    newest_source = max(p.stat().st_mtime for p in sources)
    if all(p.exists() and p.stat().st_mtime >= newest_source for p in wanted):
        return
    GENERATED.mkdir(exist_ok=True)
    subprocess.run(
        [sys.executable, str(ROOT / "examples" / "pipeline.py"), "--pictures", str(GENERATED)],
        check=True, stdout=subprocess.DEVNULL, cwd=ROOT,
    )
    missing = [str(p) for p in wanted if not p.exists()]
    if missing:
        raise RuntimeError(f"examples/pipeline.py drew no {', '.join(missing)}: are `dot` and matplotlib installed?")


_draw_pictures()


def _draw_stuck_state() -> None:
    """The fork-join example's nearest stuck state, for the explore guide."""
    GENERATED.mkdir(exist_ok=True)
    sys.path.insert(0, str(ROOT / "examples"))
    import deadlock

    dot = deadlock.explore(batch_capacity=1, packets=4).stuck[0].to_dot()
    subprocess.run(["dot", "-Tpng", "-Gdpi=72", "-o", str(GENERATED / "deadlock-stuck.png")],
                   input=dot.encode("utf-8"), check=True)


_draw_stuck_state()


def _draw_wordcount_graph() -> None:
    """The word-count example's graph, for the runtime guide."""
    GENERATED.mkdir(exist_ok=True)
    sys.path.insert(0, str(ROOT / "examples"))
    import wordcount

    dot = wordcount.build_graph().to_dot()
    subprocess.run(["dot", "-Tpng", "-Gdpi=72", "-o", str(GENERATED / "wordcount-graph.png")],
                   input=dot.encode("utf-8"), check=True)


_draw_wordcount_graph()
