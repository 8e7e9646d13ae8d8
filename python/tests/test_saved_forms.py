"""Values saved by an earlier build: a net part way through a run with packets
at every kind of place, and every kind of event, action and response it went
through (data/make_saved_forms.py wrote them)."""

from __future__ import annotations

import importlib.util
import json
import pathlib
import pickle

DATA = pathlib.Path(__file__).resolve().parent / "data"
PROTOCOL = 4


def _maker():  # type: ignore[no-untyped-def]
    spec = importlib.util.spec_from_file_location("make_saved_forms", DATA / "make_saved_forms.py")
    assert spec is not None and spec.loader is not None
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def test_saved_values_read_back_unchanged() -> None:
    maker = _maker()
    saved = pickle.loads((DATA / "saved_forms.pickle").read_bytes())
    expected = json.loads((DATA / "saved_forms.json").read_text())
    # The same values: reprs, dicts and the net's picture.
    assert maker.describe(saved) == expected
    # Written again and read back, still the same values. (Not the same
    # bytes: a restored net may list its per-node tables in another order.)
    assert maker.describe(pickle.loads(pickle.dumps(saved, protocol=PROTOCOL))) == expected


def test_the_seeded_run_repeats_the_saved_one() -> None:
    # Every byte form (events, actions, responses, epochs, packets and the
    # net's snapshot) is written as before. If the engine's behaviour changes on purpose, run data/make_saved_forms.py
    # with the new build and say why in the commit.
    maker = _maker()
    raw = (DATA / "saved_forms.pickle").read_bytes()
    assert pickle.dumps(maker.run(), protocol=PROTOCOL) == raw
