// The declarations the explorer runs from: Outcome, Behaviour, Injection and
// RequestAllowance, record classes made from their field lists.

#include <array>
#include <string>

#include "zellik_py/explore/explore_classes.h"
#include "zellik_py/net/net_forms.h"

namespace zellik::py {

using explore::Behaviour;
using explore::Injection;
using explore::Outcome;
using explore::RequestAllowance;

namespace {

// Every argument of Outcome is optional and None stands for its default;
// `creates` is a dict whose counts are named by their port.
Outcome outcome_of(const RecordClass<Outcome>::Values& values) {
  auto given = [](PyObject* obj) { return obj != nullptr && obj != Py_None; };
  const auto [pass_to, creates, sends] = values;
  Outcome outcome;
  if (given(pass_to)) outcome.pass_to = to_name_arg(pass_to, "pass_to");
  if (given(creates)) {
    if (!PyDict_Check(creates)) raise_arg_type(creates, "creates", "dict");
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t pos = 0;
    while (PyDict_Next(creates, &pos, &key, &value)) {
      Name port = to_name_arg(key, "creates");
      const std::uint64_t count = count_arg(value, "creates[" + quoted(port.view()) + "]");
      outcome.creates.emplace_back(std::move(port), count);
    }
  }
  if (given(sends)) {
    if (PyUnicode_Check(sends)) raise_arg_type(sends, "sends", "a sequence of condition names");
    for (const Ref& item : sequence_items(sends, "sends")) {
      outcome.sends.push_back(to_name_arg(item.get(), "sends"));
    }
  }
  return outcome;
}

const RecordClass<Outcome> kOutcome{
    .name = "Outcome",
    .doc =
        "Outcome(pass_to=None, creates=None, sends=())\n--\n\n"
        "What one epoch does: consume its input packets (pass_to=None) or load them into\n"
        "the output port pass_to, create and load new packets ({port: count}), then send\n"
        "the output salvo conditions `sends` in order, and finish.",
    .field_docs = {"The output port the input packets are loaded into, or None: they are "
                   "consumed.",
                   "New packets loaded into output ports: {port name: count}.",
                   "The output salvo conditions sent, in order."},
    .required = 0,
    .to_dict_doc = "to_dict($self)\n--\n\nThe outcome as a plain dict: pass_to, creates, sends.",
    .from_dict_doc = "from_dict(data)\n--\n\nThe outcome a dict made by to_dict describes.",
    .read = &outcome_of,
};

const RecordClass<Behaviour> kBehaviour{
    .name = "Behaviour",
    .doc =
        "Behaviour(node, outcomes)\n--\n\n"
        "What the epochs of `node` do: one of `outcomes` each time; the explorer follows\n"
        "every one. A node without a behaviour consumes its input packets.",
    .field_docs = {"The node's name.", "The alternative outcomes of one epoch, each explored."},
    .required = 2,
    .to_dict_doc =
        "to_dict($self)\n--\n\nThe behaviour as a plain dict: node, outcomes (as dicts).",
    .from_dict_doc = "from_dict(data)\n--\n\nThe behaviour a dict made by to_dict describes.",
};

const RecordClass<Injection> kInjection{
    .name = "Injection",
    .doc =
        "Injection(location, count)\n--\n\n"
        "Up to `count` packets the executor may create and put at `location` (an edge or\n"
        "an input port), one at a time, whenever it chooses; the explorer follows every\n"
        "moment.",
    .field_docs = {"Where the packets go: an Edge or InputPort location.",
                   "How many packets in all."},
    .required = 2,
    .to_dict_doc =
        "to_dict($self)\n--\n\nThe injection as a plain dict: location (as a dict), count.",
    .from_dict_doc = "from_dict(data)\n--\n\nThe injection a dict made by to_dict describes.",
};

const RecordClass<RequestAllowance> kRequestAllowance{
    .name = "RequestAllowance",
    .doc =
        "RequestAllowance(node, label, count)\n--\n\n"
        "Up to `count` requests (NetAction.create_request(node, label)) the executor may make\n"
        "whenever it chooses; the explorer follows every moment.",
    .field_docs = {"The node that requests.", "The request's label.", "How many requests in all."},
    .required = 3,
    .to_dict_doc = "to_dict($self)\n--\n\nThe allowance as a plain dict: node, label, count.",
    .from_dict_doc = "from_dict(data)\n--\n\nThe allowance a dict made by to_dict describes.",
};

}  // namespace

void define_declaration_classes(PyObject* module) {
  define_record_class(module, kOutcome);
  define_record_class(module, kBehaviour);
  define_record_class(module, kInjection);
  define_record_class(module, kRequestAllowance);
}

const Behaviour& behaviour_arg(PyObject* obj, const char* arg) {
  return arg_of<Behaviour>(obj, arg);
}
const Outcome& outcome_arg(PyObject* obj, const char* arg) { return arg_of<Outcome>(obj, arg); }
const Injection& injection_arg(PyObject* obj, const char* arg) {
  return arg_of<Injection>(obj, arg);
}
const RequestAllowance& request_allowance_arg(PyObject* obj, const char* arg) {
  return arg_of<RequestAllowance>(obj, arg);
}

}  // namespace zellik::py
