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


def _key_orders(value: object, path: str = "") -> list[tuple[str, list[str]]]:
    # Every dict's keys, in order, with where the dict is.
    found: list[tuple[str, list[str]]] = []
    if isinstance(value, dict):
        found.append((path, list(value)))
        for key, item in value.items():
            found.extend(_key_orders(item, f"{path}.{key}"))
    elif isinstance(value, list):
        for i, item in enumerate(value):
            found.extend(_key_orders(item, f"{path}[{i}]"))
    return found


def test_saved_dicts_keep_their_key_order() -> None:
    # Dicts compare equal in any order; a trace written out as JSON does not.
    # Every plain dict (events, actions, epochs and their salvos and orphans,
    # locations and their edges' ports) lists its keys as the saved file does.
    maker = _maker()
    saved = pickle.loads((DATA / "saved_forms.pickle").read_bytes())
    expected = json.loads((DATA / "saved_forms.json").read_text())
    assert _key_orders(maker.describe(saved)) == _key_orders(expected)
