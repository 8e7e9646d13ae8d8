"""What the wheel carries and what the set-up scripts read from pyproject.toml."""

import importlib.metadata
import pathlib
import pickle
import subprocess
import sys

import zellik_sim

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


def test_wheel_ships_the_package_its_one_extension_and_its_stubs():
    files = {str(f) for f in importlib.metadata.files("zellik_sim") or []}
    assert [f for f in files if f.endswith(".so")] == ["zellik_sim/_core.abi3.so"]
    package = ROOT / "python" / "zellik_sim"
    assert {f for f in files if f.startswith("zellik_sim/") and f.endswith(".py")} == {
        f"zellik_sim/{p.relative_to(package)}" for p in package.rglob("*.py")}
    stubs = ROOT / "python" / "zellik_sim-stubs"
    assert {f for f in files if f.startswith("zellik_sim-stubs/")} == {
        f"zellik_sim-stubs/{p.relative_to(stubs)}" for p in stubs.rglob("*.pyi")}
    extras = importlib.metadata.metadata("zellik_sim").get_all("Provides-Extra") or []
    assert {"test", "dask"} <= set(extras)


def test_package_names_what_the_extension_defines():
    core = zellik_sim._core
    public = [name for name in vars(core) if not name.startswith("_")]
    assert zellik_sim.__all__ == public
    assert all(getattr(zellik_sim, name) is getattr(core, name) for name in public)
    assert zellik_sim.__version__ == core.__version__
    # Classes and the one pickle helper name the package, so pickles made
    # before the extension moved into it still load and new ones look the same.
    assert {getattr(zellik_sim, name).__module__ for name in public} == {"zellik_sim"}
    assert zellik_sim._record_from_bytes.__module__ == "zellik_sim"
    net = zellik_sim.NetSim(zellik_sim.Graph([zellik_sim.Node("A")], []))
    _, events = net.do_action(zellik_sim.NetAction.create_packet())
    saved = pickle.dumps((net.graph, events[0]))
    assert b"zellik_sim" in saved and b"_core" not in saved
    assert repr(pickle.loads(saved)[1]) == repr(events[0])
