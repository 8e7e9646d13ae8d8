#include "module/registration.h"

namespace zellik::py {
void register_graph_classes(PyObject*) {}
}  // namespace zellik::py
