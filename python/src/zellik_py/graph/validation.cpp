// GraphValidationErrorInfo: one finding of graph validation, as a record.

#include <initializer_list>
#include <utility>
#include <variant>

#include "zellik_py/binding/pickling.h"
#include "zellik_py/graph/graph_classes.h"
#include "zellik_py/graph/graph_convert.h"

namespace zellik::py {
namespace {

// ---------------------------------------------------------------------------
// Value: the object embeds the model's GraphValidationError.

using Field = std::pair<const char*, Ref>;

// A new dict of the fields, keys in the given order.
Ref fields_dict(std::initializer_list<Field> fields) {
  Ref dict = own(PyDict_New());
  for (const Field& f : fields)
    check_status(PyDict_SetItemString(dict.get(), f.first, f.second.get()));
  return dict;
}

// The fields of each variant, in declaration order, in their Python forms.
struct DetailsWriter {
  Ref operator()(const validation::MultipleEdgesFromOutputPort& e) const {
    return fields_dict(
        {{"output_port", port_ref_to_py(e.output_port)}, {"edge_count", to_py_u64(e.edge_count)}});
  }
  Ref operator()(const validation::EdgeReferencesNonexistentNode& e) const {
    return fields_dict({{"edge_source", port_ref_to_py(e.edge_source)},
                        {"edge_target", port_ref_to_py(e.edge_target)},
                        {"missing_node", to_py(e.missing_node)}});
  }
  Ref operator()(const validation::EdgeReferencesNonexistentPort& e) const {
    return fields_dict({{"edge_source", port_ref_to_py(e.edge_source)},
                        {"edge_target", port_ref_to_py(e.edge_target)},
                        {"missing_port", port_ref_to_py(e.missing_port)}});
  }
  Ref operator()(const validation::EdgeSourceNotOutputPort& e) const {
    return edge_ends(e.edge_source, e.edge_target);
  }
  Ref operator()(const validation::EdgeTargetNotInputPort& e) const {
    return edge_ends(e.edge_source, e.edge_target);
  }
  Ref operator()(const validation::SalvoConditionReferencesNonexistentPort& e) const {
    return condition_port(e.node_name, e.condition_name, e.is_input_condition, e.missing_port);
  }
  Ref operator()(const validation::SalvoConditionTermReferencesNonexistentPort& e) const {
    return condition_port(e.node_name, e.condition_name, e.is_input_condition, e.missing_port);
  }
  Ref operator()(const validation::InputSalvoConditionInvalidMaxSalvos& e) const {
    return fields_dict({{"node_name", to_py(e.node_name)},
                        {"condition_name", to_py(e.condition_name)},
                        {"max_salvos", max_salvos_to_py(e.max_salvos)}});
  }
  Ref operator()(const validation::DependencyEdgeNotInGraph& e) const {
    return fields_dict({{"edge", box<Edge>(e.edge)}});
  }
  Ref operator()(const validation::DependencyRequestConfigWithoutDependencyEdges& e) const {
    return fields_dict({{"node_name", to_py(e.node_name)}});
  }

  static Ref edge_ends(const PortRef& source, const PortRef& target) {
    return fields_dict(
        {{"edge_source", port_ref_to_py(source)}, {"edge_target", port_ref_to_py(target)}});
  }
  static Ref condition_port(const Name& node, const Name& condition, bool is_input,
                            const Name& missing) {
    return fields_dict({{"node_name", to_py(node)},
                        {"condition_name", to_py(condition)},
                        {"is_input_condition", to_py_bool(is_input)},
                        {"missing_port", to_py(missing)}});
  }
};

// ---------------------------------------------------------------------------
// Getters

Ref kind_of(const GraphValidationError& e) { return to_py(kind_name(e)); }
Ref message_of(const GraphValidationError& e) { return to_py(message(e)); }
Ref details_of(const GraphValidationError& e) { return std::visit(DetailsWriter{}, e); }

std::string info_str(const GraphValidationError& e) { return message(e); }

// The message is inserted as it is, without escaping.
std::string info_repr(const GraphValidationError& e) {
  std::string text = "GraphValidationErrorInfo(kind='";
  text.append(kind_name(e)).append("', message='").append(message(e)).append("')");
  return text;
}

// ---------------------------------------------------------------------------
// Slot table and type

PyGetSetDef g_info_getters[] = {
    Members<GraphValidationError>::getter<kind_of>(
        "kind", "The error variant name (e.g., \"MultipleEdgesFromOutputPort\")."),
    Members<GraphValidationError>::getter<message_of>("message",
                                                      "The human-readable error message."),
    Members<GraphValidationError>::getter<details_of>(
        "details", "Dict of variant-specific fields (node names, port refs, counts, etc.)."),
    {},
};

}  // namespace

void define_validation_error_info(PyObject* module) {
  define_boxed_class<GraphValidationError>(
      module, {.name = "GraphValidationErrorInfo",
               .doc = "Structured validation error from graph validation.\n\n"
                      "Provides access to the error variant name, human-readable message,\n"
                      "and a dict of variant-specific fields (node names, port refs, etc.).",
               .getters = g_info_getters,
               .repr = &text_slot<GraphValidationError, info_repr>,
               .str = &text_slot<GraphValidationError, info_str>,
               .reduce = &reduce_to_record<GraphValidationError>});
}

Ref validation_error_to_py(const GraphValidationError& error) { return box(error); }

}  // namespace zellik::py
