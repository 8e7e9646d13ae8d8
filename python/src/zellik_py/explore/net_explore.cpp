// The methods the explorer adds to NetSim: fingerprint and explore.

#include <array>
#include <chrono>
#include <cmath>
#include <memory>
#include <optional>
#include <string>

#include "zellik_py/explore/explore_classes.h"
#include "zellik_py/explore/result_forms.h"
#include "zellik_py/net/net_classes.h"
#include "zellik_py/net/net_hold.h"

namespace zellik::py {

const char kNetFingerprintDoc[] =
    "fingerprint($self)\n--\n\n"
    "The net's state as a 128-bit int that ignores ids and timestamps: equal for two nets\n"
    "over equal graphs whose packets, epochs and requests differ only in their ids.";

const char kNetExploreDoc[] =
    "explore($self, behaviours=(), injections=(), requests=(), *, order='breadth_first',\n"
    "        exact=False, max_states=None, max_depth=None, max_packets=None, max_time=None,\n"
    "        seed=0, walks=100, progress=False, strict=False, properties=(),\n"
    "        livelocks=None)\n--\n\n"
    "Explore every schedule an executor could follow from the net's current state, on a\n"
    "fork of the net (this net is not changed): which startable epoch to execute next\n"
    "with which outcome of its node's Behaviour, when to run a step, when to make an\n"
    "Injection or a request (RequestAllowance). order is 'breadth_first' (the first\n"
    "stuck state found has a shortest run), 'depth_first' or 'random_walk' (`walks`\n"
    "walks from the start, seeded by `seed`). Every limit (max_states, max_depth,\n"
    "max_packets, walks) is an int of at least 1, or None for none; max_time is a\n"
    "positive number of seconds. Visited states are kept as 128-bit\n"
    "fingerprints, or whole when exact=True. Every state visited is checked against\n"
    "`properties` (zellik_sim.properties.Property): one that does not hold is a\n"
    "'violated' terminal state, not followed. livelocks='any_end' (or 'clean_end')\n"
    "looks, once a breadth- or depth-first exploration finishes, for the states from which\n"
    "no terminal state (no clean one) can be reached, and reports each cycle among them\n"
    "that the net can never leave as a 'livelock' terminal state with its run and cycle.\n"
    "Returns an ExplorationResult; ValueError\n"
    "before anything runs for a declaration the graph cannot carry out, and for a state\n"
    "with more than 65535 choices (a choice is numbered in 16 bits). A node without a\n"
    "Behaviour consumes its inputs and sends nothing; strict=True refuses, with\n"
    "ValueError naming them, nodes with input salvo conditions and no Behaviour.";

namespace {

// The explorer gives the interpreter lock back in chunks of kChunk; between
// chunks it checks for signals and, when asked, writes its progress.
constexpr auto kChunk = std::chrono::milliseconds(20);
constexpr auto kProgressEvery = std::chrono::milliseconds(1000);

// An optional limit: None or absent is 0 (none); below 1 is refused.
std::uint64_t limit_arg(PyObject* obj, const char* name) {
  if (obj == nullptr || obj == Py_None) return 0;
  return to_u64_arg(obj, name, 1);
}

explore::SearchOrder order_arg(PyObject* obj) {
  if (obj == nullptr || obj == Py_None) return explore::SearchOrder::BreadthFirst;
  const std::string order = to_string_arg(obj, "order");
  if (order == "breadth_first") return explore::SearchOrder::BreadthFirst;
  if (order == "depth_first") return explore::SearchOrder::DepthFirst;
  if (order == "random_walk") return explore::SearchOrder::RandomWalk;
  raise(PyExc_ValueError,
        "explore: order must be 'breadth_first', 'depth_first' or "
        "'random_walk', not " +
            quoted(order));
}

explore::WaysOut ways_out_arg(PyObject* obj) {
  if (obj == nullptr || obj == Py_None) return explore::WaysOut::None;
  const std::string text = to_string_arg(obj, "livelocks");
  if (text == "any_end") return explore::WaysOut::AnyEnd;
  if (text == "clean_end") return explore::WaysOut::CleanEnd;
  raise(PyExc_ValueError,
        "explore: livelocks must be 'any_end', 'clean_end' or None, not " + quoted(text));
}

std::chrono::milliseconds time_arg(PyObject* obj) {
  if (obj == nullptr || obj == Py_None) return std::chrono::milliseconds(0);
  if (PyBool_Check(obj) || (!PyFloat_Check(obj) && !PyLong_Check(obj))) {
    raise_arg_type(obj, "max_time", "a number of seconds");
  }
  const double seconds = PyFloat_AsDouble(obj);
  if (seconds == -1.0 && PyErr_Occurred()) throw PythonError{};
  if (!(seconds > 0) || !std::isfinite(seconds)) {
    raise(PyExc_ValueError,
          "explore: max_time must be a positive number of seconds, not " + str_of(obj));
  }
  return std::chrono::milliseconds(std::max<long long>(1, std::llround(seconds * 1000)));
}

template <class T, const T& (*Arg)(PyObject*, const char*)>
std::vector<T> declarations_arg(PyObject* obj, const char* name) {
  std::vector<T> out;
  if (obj == nullptr || obj == Py_None) return out;
  for (const Ref& item : sequence_items(obj, name)) out.push_back(Arg(item.get(), name));
  return out;
}

// strict=True: the nodes the run step makes epochs of that have no declared
// behaviour, named in one sentence; nothing when every one has.
std::optional<std::string> undeclared_message(const Graph& graph,
                                              const explore::Declarations& declarations) {
  const std::vector<Name> undeclared = explore::undeclared_nodes(graph, declarations);
  if (undeclared.empty()) return std::nullopt;
  std::string names;
  for (std::size_t i = 0; i < undeclared.size(); ++i) {
    if (i > 0) names += i + 1 == undeclared.size() ? " and " : ", ";
    names += "'" + undeclared[i].str() + "'";
  }
  const bool one = undeclared.size() == 1;
  return std::string(one ? "node " : "nodes ") + names + (one ? " has" : " have") +
         " input salvo conditions and no declared behaviour (strict=True); without one its"
         " epochs would consume their inputs and send nothing: declare a Behaviour for " +
         (one ? "it" : "each");
}

void write_progress(const explore::ExplorationResult& r,
                    std::chrono::steady_clock::time_point began) {
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
  const auto rate =
      static_cast<unsigned long long>(seconds > 0 ? static_cast<double>(r.states) / seconds : 0);
  const std::string line = "explore: " + std::to_string(r.states) + " states, " +
                           std::to_string(r.transitions) + " transitions, " + std::to_string(rate) +
                           " states/s, depth " + std::to_string(r.max_depth) + "\n";
  PySys_WriteStderr("%s", line.c_str());
}

}  // namespace

PyObject* net_fingerprint(PyObject* self, PyObject*) {
  return guard([&] {
    return with_net(self, [](const NetSim& net) { return fingerprint_to_py(fingerprint(net)); });
  });
}

// Stops with ExplorationInterrupted in place of a KeyboardInterrupt (or with
// whatever else a signal handler raises) between two chunks; the exception
// carries what was found so far as `result`.
PyObject* net_explore(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guard([&] {
    if (nargs > 3) {
      PyErr_Format(PyExc_TypeError, "explore() takes at most 3 positional arguments (%zd given)",
                   nargs);
      throw PythonError{};
    }
    auto a = parse_fast("explore",
                        std::array{"behaviours", "injections", "requests", "order", "exact",
                                   "max_states", "max_depth", "max_packets", "max_time", "seed",
                                   "walks", "progress", "strict", "properties", "livelocks"},
                        0, args, nargs, kwnames);
    explore::Declarations declarations;
    declarations.behaviours =
        declarations_arg<explore::Behaviour, behaviour_arg>(a[0], "behaviours");
    declarations.injections =
        declarations_arg<explore::Injection, injection_arg>(a[1], "injections");
    declarations.requests =
        declarations_arg<explore::RequestAllowance, request_allowance_arg>(a[2], "requests");
    explore::Options options;
    options.order = order_arg(a[3]);
    options.exact = a.has(4) && to_bool_arg(a[4], "exact");
    options.limits.max_states = limit_arg(a[5], "max_states");
    options.limits.max_depth = limit_arg(a[6], "max_depth");
    options.limits.max_packets = limit_arg(a[7], "max_packets");
    options.limits.max_time = time_arg(a[8]);
    options.seed = a.has(9) ? to_u64_arg(a[9], "seed") : 0;
    // walks=None: walks until another limit stops them.
    if (a[10] != nullptr) {
      const std::uint64_t walks = limit_arg(a[10], "walks");
      options.walks = walks == 0 ? UINT64_MAX : walks;
    }
    const bool progress = a.has(11) && to_bool_arg(a[11], "progress");
    const bool strict = a.has(12) && to_bool_arg(a[12], "strict");
    // The callables of predicate properties, alive while the explorer is.
    std::vector<Ref> predicates;
    if (a.has(13)) {
      std::size_t i = 0;
      for (const Ref& item : sequence_items(a[13], "properties")) {
        declarations.properties.push_back(
            property_arg(item.get(), "properties[" + std::to_string(i++) + "]", predicates));
      }
    }
    options.livelocks = ways_out_arg(a[14]);

    // Checked and forked while the net is held; explored on the fork after.
    std::unique_ptr<explore::Explorer> explorer;
    with_net(self, [&](const NetSim& net) {
      if (auto error = explore::check_declarations(net.graph(), declarations)) {
        raise(PyExc_ValueError, "explore: " + *error);
      }
      if (strict) {
        if (auto undeclared = undeclared_message(net.graph(), declarations)) {
          raise(PyExc_ValueError, "explore: " + *undeclared);
        }
      }
      explorer = std::make_unique<explore::Explorer>(net, std::move(declarations), options);
      return none();
    });

    const auto began = std::chrono::steady_clock::now();
    auto next_progress = began + kProgressEvery;
    run_in_chunks([&] { return explorer->run(std::chrono::steady_clock::now() + kChunk); },
                  [&](bool done) {
                    if (progress && (done || std::chrono::steady_clock::now() >= next_progress)) {
                      write_progress(explorer->result(), began);
                      next_progress = std::chrono::steady_clock::now() + kProgressEvery;
                    }
                  },
                  [&] {
                    explorer->cancel();
                    if (progress) write_progress(explorer->result(), began);
                    explore::ExplorationResult partial;
                    {
                      WithoutInterpreterLock unlocked;
                      partial = explorer->finish();
                    }
                    raise_interrupted(std::move(partial));
                  },
                  // A predicate is Python: the exploration then keeps the lock.
                  /*unlocked=*/predicates.empty());
    if (!explorer->result().error.empty()) {
      raise(PyExc_ValueError, "explore: " + explorer->result().error);
    }
    explore::ExplorationResult result;
    {
      WithoutInterpreterLock unlocked;
      result = explorer->finish();
    }
    return exploration_result_to_py(std::move(result));
  });
}

}  // namespace zellik::py
