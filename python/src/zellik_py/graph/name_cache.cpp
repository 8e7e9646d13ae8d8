// Names of the graph classes, shared by the str object they come from.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

#include "zellik_py/binding/convert.h"
#include "zellik_py/binding/module_state.h"
#include "zellik_py/graph/graph_convert.h"

namespace zellik::py {
namespace {

// A direct-mapped table from str object to the name made from it. Each slot
// holds a reference to its str, so while the slot remembers it no other
// object can take its address, and the same address means the same text.
constexpr std::size_t kSlots = 4096;  // a power of two

struct Slot {
  PyObject* text = nullptr;
  Name name;
};

// One table per module state, made on first use; the state drops its
// references with the module.
struct NameTable {
  NameTable() : slots(new Slot[kSlots]()) {}
  NameTable(const NameTable&) = delete;
  NameTable& operator=(const NameTable&) = delete;
  ~NameTable() {
    for (std::size_t i = 0; i < kSlots; ++i) Py_XDECREF(slots[i].text);
  }
  std::unique_ptr<Slot[]> slots;
};

Slot* slots() { return current_state().value<NameTable>().slots.get(); }

}  // namespace

Name graph_name_arg(PyObject* obj, const char* arg) {
  // Subclasses of str go the ordinary way.
  if (!PyUnicode_CheckExact(obj)) return to_name_arg(obj, arg);
  Slot& slot = slots()[(reinterpret_cast<std::uintptr_t>(obj) >> 4) & (kSlots - 1)];
  if (slot.text == obj) return slot.name;
  Name name = to_name_arg(obj, arg);
  Py_INCREF(obj);
  PyObject* forgotten = std::exchange(slot.text, obj);
  slot.name = name;
  Py_XDECREF(forgotten);
  return name;
}

}  // namespace zellik::py
