// The explorer's classes, added to the module after the net classes.

#include "zellik_py/explore/explore_classes.h"

namespace zellik::py {

void register_explore_classes(PyObject* module) {
  define_outcome(module);
  define_behaviour(module);
  define_injection(module);
  define_request_allowance(module);
  define_terminal_state(module);
  define_exploration_result(module);
}

}  // namespace zellik::py
