"""Python bindings for zellik-sim, a flow-based development runtime simulation engine."""

# The engine's classes, functions and exceptions live in the extension
# module zellik_sim._core and are re-exported here in its registration
# order. The classes are named "zellik_sim.<Class>" by the extension itself,
# so reprs, pickles and saved forms name this package, not the submodule.
from zellik_sim import _core
from zellik_sim._core import *  # noqa: F403
from zellik_sim._core import __version__, _record_from_bytes

__all__ = [name for name in vars(_core) if not name.startswith("_")]

# A module-level function of the extension reports the extension as its
# module; pickles must name the package, where the function is also found.
for _function in (_record_from_bytes,):
    _function.__module__ = __name__
del _function
