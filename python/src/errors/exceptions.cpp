#include "module/registration.h"

namespace zellik::py {
void register_exceptions(PyObject*) {}
}  // namespace zellik::py
