"""Graphs and declarations as plain dicts and JSON files: round trips that keep
what a graph means, and refusals that name the field at fault."""

from __future__ import annotations

import copy
import json
import pathlib
import random
from typing import Any

import pytest

import zellik_sim as z
from test_explore import random_case
from zellik_sim.files import (
    Declarations, FileFormatError, read_declarations, read_graph, schema, write_declarations, write_graph,
)
from zellik_sim.properties import Property

EXAMPLES = pathlib.Path(__file__).resolve().parents[2] / "examples"
GRAPH = EXAMPLES / "fork-join.graph.json"
DECLARATIONS = EXAMPLES / "fork-join.declarations.json"


def leaves(value: Any, at: str = "") -> list[tuple[str, list[str | int]]]:
    """Every leaf of a plain dict as (the path a refusal names, the keys to reach it)."""
    found: list[tuple[str, list[str | int]]] = []

    def walk(value: Any, at: str, keys: list[str | int]) -> None:
        if isinstance(value, dict) and value:
            for key, item in value.items():
                walk(item, f"{at}.{key}" if at else key, [*keys, key])
        elif isinstance(value, list) and value:
            for i, item in enumerate(value):
                walk(item, f"{at}[{i}]", [*keys, i])
        else:
            found.append((at, keys))

    walk(value, at, [])
    return found


def spoiled(data: Any, keys: list[str | int], value: Any) -> Any:
    data = copy.deepcopy(data)
    inner = data
    for key in keys[:-1]:
        inner = inner[key]
    inner[keys[-1]] = value
    return data


@pytest.mark.parametrize("seed", range(16))
def test_a_graph_read_back_from_json_explores_as_the_original(seed: int) -> None:
    graph, behaviours, injections, requests = random_case(seed)
    data = json.loads(json.dumps(graph.to_dict()))
    again = z.Graph.from_dict(data)
    assert again.to_dict() == data
    # The same graph to the engine: every schedule, request and stuck state as before.
    found = [z.NetSim(g, seed=seed).explore(behaviours, injections, requests, max_packets=2)
             for g in (graph, again)]
    assert [(r.states, r.transitions, r.counts) for r in found[1:]] == [(found[0].states, found[0].transitions,
                                                                          found[0].counts)]
    assert [t.fingerprint for t in found[0].terminals] == [t.fingerprint for t in found[1].terminals]


def test_every_field_of_a_graph_file_spoiled_is_named(tmp_path: pathlib.Path) -> None:
    data = read_graph(GRAPH).to_dict()
    path = tmp_path / "graph.json"
    named = 0
    for at, keys in leaves(data):
        leaf: Any = data
        for key in keys:
            leaf = leaf[key]
        # A list where a scalar belongs, or a number where a name or a mapping belongs.
        for wrong in ([1], 1.5) if not isinstance(leaf, (list, dict)) or leaf else ("x",):
            path.write_text(json.dumps(spoiled(data, keys, wrong)))
            with pytest.raises(FileFormatError) as refused:
                read_graph(path)
            assert refused.value.path == str(path)
            assert refused.value.field == at, (at, wrong, refused.value.reason)
            named += 1
    assert named > 100  # the walk reached the whole file
    # What a graph cannot go without is refused where it is missing; what a node can
    # (ports, conditions, requests) reads as Node's defaults.
    for keys in (["nodes"], ["edges"], ["nodes", 2, "name"]):
        broken = copy.deepcopy(data)
        inner = broken
        for key in keys[:-1]:
            inner = inner[key]
        del inner[keys[-1]]
        path.write_text(json.dumps(broken))
        with pytest.raises(FileFormatError) as refused:
            read_graph(path)
        assert (refused.value.field, refused.value.reason) == (leaves({keys[0]: 0})[0][0] if len(keys) == 1
                                                               else "nodes[2].name", "missing")
    bare = copy.deepcopy(data)
    for key in ("in_salvo_conditions", "out_salvo_conditions", "dependency_request_config"):
        del bare["nodes"][0][key]
    assert z.Graph.from_dict(bare).to_dict() == data


def test_graph_files_refuse_what_the_graph_refuses(tmp_path: pathlib.Path) -> None:
    data = read_graph(GRAPH).to_dict()
    path = tmp_path / "graph.json"
    split = [n["name"] for n in data["nodes"]].index("split")
    cases = {
        "edges[3]": spoiled(data, ["edges", 3, "target", "port_name"], "nowhere"),
        "edges[1]": spoiled(data, ["edges", 1, "source", "node_name"], "ghost"),
        f"nodes[{split}].out_salvo_conditions.both": spoiled(
            data, ["nodes", split, "out_salvo_conditions", "both", "ports"], {"left": None, "nowhere": None}),
        "nodes[5].name": {**data, "nodes": [*data["nodes"], data["nodes"][0]]},
        "": None,  # not JSON
    }
    for field, broken in cases.items():
        path.write_text("{nodes: [" if broken is None else json.dumps(broken))
        with pytest.raises(FileFormatError) as refused:
            read_graph(path)
        assert str(refused.value).startswith(f"{path}: "), field
        assert refused.value.field == field, refused.value
    # The command line says the same and exits 2, rather than failing inside the engine.
    from zellik_sim.cli import main
    path.write_text(json.dumps(cases["edges[3]"]))
    assert main(["explore", str(path), "--no-progress"]) == 2
    # An unknown field is refused, not ignored: a misspelt key must not change the meaning silently.
    path.write_text(json.dumps(spoiled(data, ["nodes", 0, "capacty"], 3)))
    with pytest.raises(FileFormatError, match=r"nodes\[0\]\.capacty"):
        read_graph(path)


def random_properties(graph: z.Graph, rng: random.Random) -> list[Property]:
    nodes = graph.nodes()
    name = rng.choice(sorted(nodes))
    made = [
        Property.packets_at_most(rng.randint(0, 3)),
        Property.live_epochs_at_most(name, rng.randint(0, 2), name=f"{name} busy"),
        Property.no_orphans(),
        Property.at_most(z.PacketLocation.outside_net(), rng.randint(0, 9)),
    ]
    if nodes[name].in_ports:
        made.append(Property.input_port_at_most(name, rng.choice(sorted(nodes[name].in_ports)), 1))
    if nodes[name].out_ports:
        made.append(Property.output_port_at_most(name, rng.choice(sorted(nodes[name].out_ports)), 2))
    if graph.edges():
        made.append(Property.on_edge_at_most(rng.choice(graph.edges()), 1, name="edge"))
    return rng.sample(made, rng.randint(0, len(made)))


@pytest.mark.parametrize("seed", range(12))
def test_declarations_files_round_trip_and_match_their_schema(seed: int, tmp_path: pathlib.Path) -> None:
    jsonschema = pytest.importorskip("jsonschema")
    graph, behaviours, injections, requests = random_case(seed)
    declared = Declarations(behaviours, injections, requests, random_properties(graph, random.Random(seed)))
    path = tmp_path / "declarations.json"
    write_declarations(declared, path)
    read = read_declarations(path)
    assert read == declared
    jsonschema.validate(json.loads(path.read_text()), schema("declarations"))
    jsonschema.validate(graph.to_dict(), schema("graph"))
    # What the file declares is what the explorer is given.
    net = z.NetSim(graph, seed=seed)
    kept = [net.explore(d.behaviours, d.injections, d.requests, properties=d.properties, max_packets=2)
            for d in (declared, read)]
    assert kept[0] == kept[1]


def test_declarations_refusals_name_the_field(tmp_path: pathlib.Path) -> None:
    data = read_declarations(DECLARATIONS).to_dict()
    data["properties"] = [Property.packets_at_most(3).to_dict(), Property.no_orphans().to_dict()]
    path = tmp_path / "declarations.json"
    cases = {
        "properties[0].limit": spoiled(data, ["properties", 0, "limit"], -1),
        "properties[1].kind": spoiled(data, ["properties", 1, "kind"], "at_least"),
        "properties[1].limit": spoiled(data, ["properties", 1, "limit"], 2),
        "properties[0]": spoiled(data, ["properties", 0], "packets"),
        "behaviours[0].outcomes[0].sends": spoiled(data, ["behaviours", 0, "outcomes", 0, "sends"], "both"),
        "injections[0].count": spoiled(data, ["injections", 0, "count"], "4"),
        "requests": {**data, "requests": {}},
        "extra": {**data, "extra": []},
    }
    for field, broken in cases.items():
        path.write_text(json.dumps(broken))
        with pytest.raises(FileFormatError) as refused:
            read_declarations(path)
        assert refused.value.field == field, refused.value
    # A predicate is code: it has no plain form, and says so rather than writing half a property.
    with pytest.raises(ValueError, match="no plain form"):
        write_declarations(Declarations(properties=[Property.holds("odd", lambda view: True)]), path)
    # The name may be left out of a file: the kind makes one.
    assert Property.from_dict({"kind": "in_net", "limit": 2}) == Property.packets_at_most(2)


def test_a_written_graph_reads_back(tmp_path: pathlib.Path) -> None:
    graph = read_graph(GRAPH)
    write_graph(graph, tmp_path / "g.json")
    assert read_graph(tmp_path / "g.json").to_dict() == graph.to_dict()
    assert json.loads((tmp_path / "g.json").read_text()) == json.loads(GRAPH.read_text())
