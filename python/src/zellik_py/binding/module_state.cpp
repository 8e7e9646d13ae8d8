#include "zellik_py/binding/module_state.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <utility>

#include "zellik_py/binding/guard.h"

namespace zellik::py {

namespace {

std::atomic<std::size_t>& slot_count() {
  static std::atomic<std::size_t> count{0};
  return count;
}

// Interpreters with their own lock run at the same time: the list of
// attached states is read and changed under this mutex, and every change
// bumps the generation, so a thread's remembered answer (below) is asked
// again after any change.
struct Attached {
  std::int64_t interpreter;
  ModuleState* state;
};
std::mutex g_attached_mutex;
std::vector<Attached> g_attached;
std::atomic<std::uint64_t> g_generation{0};

// After a change: the only state, when there is one.
void settle() {
  detail::g_only_state.store(g_attached.size() == 1 ? g_attached.front().state : nullptr,
                             std::memory_order_release);
  g_generation.fetch_add(1, std::memory_order_acq_rel);
}

}  // namespace

std::atomic<ModuleState*> detail::g_only_state{nullptr};

std::size_t next_state_slots(std::size_t count) { return slot_count().fetch_add(count); }

ModuleState::ModuleState() : objects_(slot_count().load(), nullptr), values_(slot_count().load()) {}

ModuleState::~ModuleState() { clear(); }

int ModuleState::traverse(visitproc visit, void* arg) const {
  for (PyObject* obj : objects_) Py_VISIT(obj);
  return 0;
}

void ModuleState::clear() {
  for (PyObject*& obj : objects_) Py_CLEAR(obj);
  for (std::shared_ptr<void>& value : values_) value.reset();
}

ModuleState& state_of_module(PyObject* module) {
  return **static_cast<ModuleState**>(PyModule_GetState(module));
}

ModuleState& state_of_type(PyTypeObject* type) {
  return **static_cast<ModuleState**>(PyType_GetModuleState(type));
}

void attach_state(ModuleState& state) {
  const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
  std::lock_guard lock(g_attached_mutex);
  for (const Attached& a : g_attached) {
    if (a.interpreter == interpreter) {
      raise(PyExc_ImportError, "zellik_sim cannot be initialised twice in one interpreter");
    }
  }
  g_attached.push_back({interpreter, &state});
  settle();
}

void detach_state(const ModuleState& state) {
  std::lock_guard lock(g_attached_mutex);
  const auto gone = std::remove_if(g_attached.begin(), g_attached.end(),
                                   [&](const Attached& a) { return a.state == &state; });
  if (gone == g_attached.end()) return;
  g_attached.erase(gone, g_attached.end());
  settle();
}

ModuleState& detail::state_of_interpreter() {
  // Each thread remembers its last answer for as long as nothing is
  // attached or detached: the interpreter's address alone could name a
  // newer interpreter made where a finished one was.
  struct Remembered {
    PyInterpreterState* interpreter = nullptr;
    std::uint64_t generation = 0;
    ModuleState* state = nullptr;
  };
  thread_local Remembered remembered;
  PyInterpreterState* interpreter = PyInterpreterState_Get();
  const std::uint64_t generation = g_generation.load(std::memory_order_acquire);
  if (remembered.state != nullptr && remembered.interpreter == interpreter &&
      remembered.generation == generation) {
    return *remembered.state;
  }
  const std::int64_t id = PyInterpreterState_GetID(interpreter);
  std::lock_guard lock(g_attached_mutex);
  for (const Attached& a : g_attached) {
    if (a.interpreter == id) {
      remembered = {interpreter, g_generation.load(std::memory_order_acquire), a.state};
      return *a.state;
    }
  }
  // Only code of the module calls this, so its interpreter has the module.
  raise(PyExc_SystemError, "zellik_sim is not initialised in this interpreter");
}

}  // namespace zellik::py
