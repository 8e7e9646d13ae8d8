// TerminalState and ExplorationResult: what an exploration found.

#include <array>
#include <span>
#include <string>

#include "zellik/explore/replay.h"
#include "zellik_py/binding/pickling.h"
#include "zellik_py/binding/record_class.h"
#include "zellik_py/errors/translate.h"
#include "zellik_py/explore/explore_classes.h"
#include "zellik_py/explore/result_forms.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_convert.h"
#include "zellik_py/net/net_dicts.h"

namespace zellik::py {

using explore::ExplorationResult;
using explore::TerminalKind;
using explore::TerminalState;

namespace {

// One row per terminal kind, in kind order.
constexpr std::array<const char*, 6> kTerminalKindTexts = {"clean",  "stuck",    "over_limit",
                                                           "failed", "violated", "livelock"};
static_assert(kTerminalKindTexts.size() == static_cast<std::size_t>(TerminalKind::Livelock) + 1);
constexpr std::array<const char*, 6> kStopNames = {nullptr, "states",    "depth",
                                                   "time",  "cancelled", "walks"};
static_assert(kStopNames.size() == static_cast<std::size_t>(explore::StopReason::Walks) + 1);

}  // namespace

std::span<const char* const> terminal_kind_names() { return kTerminalKindTexts; }
std::span<const char* const> stop_reason_names() { return kStopNames; }

Ref fingerprint_to_py(const Fingerprint& f) {
  Ref hi = own(PyLong_FromUnsignedLongLong(f.hi));
  Ref shift = own(PyLong_FromLong(64));
  Ref high = own(PyNumber_Lshift(hi.get(), shift.get()));
  Ref lo = own(PyLong_FromUnsignedLongLong(f.lo));
  return own(PyNumber_Or(high.get(), lo.get()));
}

// How the reprs below show the results' fields (binding/record_forms.h): a
// kind as its text in single quotes, as Python shows a str, a flag as Python writes it, the
// terminal states of a result by their number (each has a repr of its own).
namespace record_fields {
std::string repr(Form, TerminalKind kind) {
  return std::string("'") + kTerminalKindTexts[static_cast<std::size_t>(kind)] + "'";
}
std::string repr(Form, bool flag) { return flag ? "True" : "False"; }
std::string repr(Form, explore::StopReason reason) {
  const char* name = kStopNames[static_cast<std::size_t>(reason)];
  return name == nullptr ? "None" : std::string("'") + name + "'";
}
std::string repr(Form, const std::vector<TerminalState>& terminals) {
  return std::to_string(terminals.size());
}
}  // namespace record_fields

namespace {

// ---------------------------------------------------------------------------
// TerminalState: getters and methods

Ref kind_text(TerminalKind kind) {
  return to_py(kTerminalKindTexts[static_cast<std::size_t>(kind)]);
}
Ref optional_text(const std::optional<std::string>& text) { return text ? to_py(*text) : none(); }

Ref waiting_objects(const std::vector<std::pair<PacketLocation, std::uint64_t>>& waiting) {
  return list_of(waiting, [](const std::pair<PacketLocation, std::uint64_t>& w) {
    return tuple_of(location_to_py(w.first), to_py_u64(w.second));
  });
}

Ref condition_pairs(const std::vector<std::pair<Name, Name>>& conditions) {
  return list_of(conditions, [](const std::pair<Name, Name>& c) {
    return tuple_of(to_py(c.first), to_py(c.second));
  });
}

// A run's actions, without what the engine answered.
Ref run_actions(const std::vector<explore::RecordedAction>& run) {
  return list_of(run,
                 [](const explore::RecordedAction& r) { return engine_action_to_py(r.action); });
}

Ref dot_of(const TerminalState& t) { return to_py(t.dot); }

// The run as recording lines: a header, then per action its dict with the
// response data and events, or the error's class name for a refused one.
Ref jsonl_of(const TerminalState& t) {
  Ref json = own(PyImport_ImportModule("json"));
  Ref dumps = own(PyObject_GetAttrString(json.get(), "dumps"));
  Ref kwargs = own(PyDict_New());
  check_status(PyDict_SetItemString(kwargs.get(), "ensure_ascii", Py_False));
  std::string text;
  auto write = [&](PyObject* record) {
    Ref args = tuple_of(Ref::borrow(record));
    Ref line = own(PyObject_Call(dumps.get(), args.get(), kwargs.get()));
    text += str_of(line.get());
    text += '\n';
  };
  Ref header = own(PyDict_New());
  Ref seed = t.seed ? to_py_u64(*t.seed) : Ref::borrow(Py_None);
  check_status(PyDict_SetItemString(header.get(), "seed", seed.get()));
  write(header.get());
  std::vector<const explore::RecordedAction*> actions;
  for (const explore::RecordedAction& r : t.run) actions.push_back(&r);
  for (const explore::RecordedAction& r : t.cycle) actions.push_back(&r);
  for (const explore::RecordedAction* recorded : actions) {
    const explore::RecordedAction& r = *recorded;
    Ref record = own(PyDict_New());
    Ref action = engine_action_to_py(r.action);
    Ref action_dict = own(PyObject_CallMethod(action.get(), "to_dict", nullptr));
    check_status(PyDict_SetItemString(record.get(), "action", action_dict.get()));
    if (r.response.ok()) {
      Ref data = response_data_to_py(r.response.value().data);
      Ref data_dict = own(PyObject_CallMethod(data.get(), "to_dict", nullptr));
      check_status(PyDict_SetItemString(record.get(), "response", data_dict.get()));
      Ref events = list_of(r.response.value().events, [](const NetEvent& e) {
        Ref event = event_to_py(e);
        return own(PyObject_CallMethod(event.get(), "to_dict", nullptr));
      });
      check_status(PyDict_SetItemString(record.get(), "events", events.get()));
    } else {
      const std::string error = std::string(kind_name(r.response.error().kind)) + "Error";
      check_status(PyDict_SetItemString(record.get(), "error", to_py(error).get()));
    }
    write(record.get());
  }
  return to_py(text);
}

std::string terminal_repr(const TerminalState& t) {
  return fields_repr<TerminalState, "kind", "depth", "packets">("TerminalState", t);
}

Ref read_terminal(PyObject* data) { return box(terminal_from_dict(data, "")); }

// Performs the run on `net`, a copy of the start, pairing the ids the run
// made with those the net makes (explore/replay.h); the run in the net's ids.
PyObject* replay(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    auto a = parse_fast("replay", std::array{"net"}, 1, args, nargs, kwnames);
    const TerminalState& terminal = unbox<TerminalState>(self);
    return with_net_exclusive(a[0], "net", [&](NetSim& net) {
      // A livelock's cycle goes on from where its run ends.
      std::vector<explore::RecordedAction> whole = terminal.run;
      whole.insert(whole.end(), terminal.cycle.begin(), terminal.cycle.end());
      const explore::Replay done = explore::replay_run(net, whole);
      if (!done.mismatch.empty()) {
        std::string text = "replay: " + done.mismatch;
        if (done.refused) text += " (" + action_error_message(*done.refused) + ")";
        raise(PyExc_ValueError,
              text + "; the net given is not in the state the exploration started from");
      }
      return list_of(done.actions, engine_action_to_py);
    });
  });
}

using TerminalMembers = Members<TerminalState>;

PyMethodDef g_terminal_methods[] = {
    TerminalMembers::method<dot_of>(
        "to_dot",
        "to_dot($self)\n--\n\nThe net in this state as Graphviz DOT text (stuck, failed and violated\n"
        "states; empty for the others)."),
    TerminalMembers::method<jsonl_of>(
        "to_jsonl",
        "to_jsonl($self)\n--\n\nThe run as JSON Lines in the recording format of "
        "examples/recording.py:\n"
        "a header line {\"seed\": ...} (the seed the start's ids come from, or null for an\n"
        "unseeded net), then one line per action with its response data and\n"
        "events (or, for the refused action that ends a failed run, its error); a\n"
        "livelock's cycle follows its run."),
    TerminalMembers::method<terminal_to_dict>(
        "to_dict",
        "to_dict($self)\n--\n\nThe terminal state as a plain dict that json can write: its\n"
        "properties, the fingerprint as its 32 hex digits (int(text, 16) gives it back), the\n"
        "seed the run's ids come from (or None), the run as one dict per action with its\n"
        "response data and events (or the error that refused it), and the DOT text."),
    from_dict_def<read_terminal, "terminal state">(),
    method_def(
        "replay", &replay,
        "replay($self, net)\n--\n\nPerforms the run (a livelock's: then its cycle) on net, a copy of the\n"
        "exploration's start (copy.copy, pickle), and returns it as net performed it: each id the\n"
        "run made is paired with the one net makes in its place, so a copy of an unseeded start\n"
        "replays too. A failed run's refused action is tried and refused, changing nothing: net\n"
        "ends where the run ends, with this state's fingerprint. ValueError, with net as the\n"
        "actions before left it, when net does otherwise than the run did."),
    {},
};

PyGetSetDef g_terminal_getters[] = {
    TerminalMembers::field<"kind", kind_text>(
        "'clean', 'stuck', 'over_limit', 'failed', 'violated' or 'livelock'."),
    TerminalMembers::field<"fingerprint", fingerprint_to_py>(
        "The net's fingerprint in this state, as NetSim.fingerprint() gives it."),
    TerminalMembers::field<"depth", to_py_u64>(
        "Transitions from the start (failed: to the state the refused choice was made in)."),
    TerminalMembers::field<"packets", to_py_u64>(
        "Packets in the net (those sent out of it are not), where the run ends."),
    TerminalMembers::field<"waiting", waiting_objects>(
        "Stuck: (location, count) of every edge and input port where packets wait."),
    TerminalMembers::field<"blocked_conditions", condition_pairs>(
        "Stuck: (node, condition) for each input salvo condition of the nodes packets wait\n"
        "for; none holds, nor ever will from this state."),
    TerminalMembers::field<"failure", optional_text>("Failed: what the engine refused, or None."),
    TerminalMembers::field<"property_name", optional_text>(
        "Violated: the name of the property that does not hold here (the first declared, when\n"
        "several do not), or None."),
    TerminalMembers::field<"run", run_actions>(
        "Stuck, failed, violated and livelock: the NetActions that lead from the start to this\n"
        "state (failed: then the refused choice's actions, up to and including the refused one)."),
    TerminalMembers::field<"cycle", run_actions>(
        "Livelock: the NetActions of a shortest cycle from this state back to it, which the\n"
        "net can never leave (performed after `run`); empty for the others."),
    {},
};

// ---------------------------------------------------------------------------
// ExplorationResult: getters and methods

Ref stop_text(explore::StopReason reason) {
  const char* name = kStopNames[static_cast<std::size_t>(reason)];
  return name == nullptr ? none() : to_py(name);
}
Ref terminal_objects(const std::vector<TerminalState>& terminals) {
  return list_of(terminals, terminal_state_to_py);
}
Ref stuck_of(const ExplorationResult& r) {
  Ref list = own(PyList_New(0));
  for (const TerminalState& t : r.terminals) {
    if (t.kind == TerminalKind::Stuck)
      check_status(PyList_Append(list.get(), terminal_state_to_py(t).get()));
  }
  return list;
}
Ref livelocks_of(const ExplorationResult& r) {
  Ref list = own(PyList_New(0));
  for (const TerminalState& t : r.terminals) {
    if (t.kind == TerminalKind::Livelock)
      check_status(PyList_Append(list.get(), terminal_state_to_py(t).get()));
  }
  return list;
}
Ref counts_of(const ExplorationResult& r) {
  std::array<std::uint64_t, kTerminalKindTexts.size()> counts{};
  for (const TerminalState& t : r.terminals) ++counts[static_cast<std::size_t>(t.kind)];
  Ref dict = own(PyDict_New());
  for (std::size_t k = 0; k < counts.size(); ++k) {
    check_status(
        PyDict_SetItemString(dict.get(), kTerminalKindTexts[k], to_py_u64(counts[k]).get()));
  }
  return dict;
}

// A search a limit stopped says which, what it left unexplored and how deep
// it went.
std::string result_repr(const ExplorationResult& r) {
  if (r.stopped == explore::StopReason::None || r.stopped == explore::StopReason::Walks) {
    return fields_repr<ExplorationResult, "states", "transitions", "finished", "terminals">(
        "ExplorationResult", r);
  }
  return fields_repr<ExplorationResult, "states", "transitions", "finished", "terminals", "stopped",
                     "frontier", "max_depth">("ExplorationResult", r);
}

Ref read_result(PyObject* data) { return box(result_from_dict(data, "")); }

using ResultMembers = Members<ExplorationResult>;

PyMethodDef g_result_methods[] = {
    ResultMembers::method<result_to_dict>(
        "to_dict",
        "to_dict($self)\n--\n\nThe result as a plain dict that json can write: states,\n"
        "transitions, max_depth, finished, stopped, frontier, terminals (as\n"
        "TerminalState.to_dict writes them) and visited_bytes."),
    from_dict_def<read_result, "exploration result">(),
    {},
};

PyGetSetDef g_result_getters[] = {
    ResultMembers::field<"states", to_py_u64>("Distinct states visited, the start included."),
    ResultMembers::field<"transitions", to_py_u64>(
        "Transitions taken: run steps that moved a packet or made an epoch, epochs executed\n"
        "with one outcome, injections and requests."),
    ResultMembers::field<"max_depth", to_py_u64>("The deepest state reached."),
    ResultMembers::field<"finished", to_py_bool>(
        "Whether every state reachable within the limits was explored."),
    ResultMembers::field<"stopped", stop_text>(
        "The limit that stopped the exploration early ('states', 'depth', 'time', 'cancelled'),\n"
        "'walks' once every random walk is made (walks never finish), or None."),
    ResultMembers::field<"frontier", to_py_u64>(
        "States reached and not explored when a limit stopped the search: those cut off at\n"
        "max_depth, and breadth-first those found and not expanded (a state found twice may\n"
        "count twice), depth-first those on the run it was following. 0 once finished and\n"
        "for random walks."),
    ResultMembers::field<"terminals", terminal_objects>(
        "Every distinct terminal state, in the order found (breadth-first: nearest first)."),
    ResultMembers::getter<stuck_of>("stuck", "The stuck terminal states."),
    ResultMembers::getter<counts_of>(
        "counts",
        "Terminal states by kind: {'clean': n, 'stuck': n, 'over_limit': n, 'failed': n,\n"
        "'violated': n, 'livelock': n}."),
    ResultMembers::getter<livelocks_of>("livelocks", "The livelock terminal states."),
    ResultMembers::field<"visited_bytes", to_py_u64>("Memory the visited set held, in bytes."),
    ResultMembers::field<"trapped", to_py_u64>(
        "With livelocks looked for, on a finished exploration: the states from which no way\n"
        "out can be reached (livelocks='clean_end': no clean end); 0 otherwise."),
    {},
};

}  // namespace

void define_terminal_state(PyObject* module) {
  define_boxed_class<TerminalState>(
      module,
      {.name = "TerminalState",
       .doc = "A state an exploration could not leave, or did not follow. Compares by value;\n"
              "pickles and copies through its plain dict (to_dict, from_dict).",
       .methods = g_terminal_methods,
       .getters = g_terminal_getters,
       .repr = &text_slot<TerminalState, terminal_repr>,
       .reduce = &reduce_to_dict<TerminalState, terminal_to_dict>,
       .slots = {{Py_tp_richcompare,
                  reinterpret_cast<void*>(&dict_richcompare<TerminalState, terminal_to_dict>)}}});
}

// ExplorationInterrupted, which carries an ExplorationResult, comes with it.
void define_exploration_result(PyObject* module) {
  define_boxed_class<ExplorationResult>(
      module,
      {.name = "ExplorationResult",
       .doc = "What NetSim.explore found. Compares by value; pickles and copies through its\n"
              "plain dict (to_dict, from_dict).",
       .methods = g_result_methods,
       .getters = g_result_getters,
       .repr = &text_slot<ExplorationResult, result_repr>,
       .reduce = &reduce_to_dict<ExplorationResult, result_to_dict>,
       .slots = {{Py_tp_richcompare,
                  reinterpret_cast<void*>(&dict_richcompare<ExplorationResult, result_to_dict>)}}});
  define_exploration_interrupted(module);
}

Ref terminal_state_to_py(TerminalState terminal) { return box(std::move(terminal)); }

Ref exploration_result_to_py(ExplorationResult result) { return box(std::move(result)); }

}  // namespace zellik::py
