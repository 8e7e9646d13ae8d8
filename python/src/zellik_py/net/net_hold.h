#pragma once

// The engine inside a NetSim object, and who is using it right now. A call
// that changes the net holds it exclusively, a query holds it shared; a call
// that would break a hold still active (re-entry from Python code the call
// runs, such as the str() of an identifier object) fails with RuntimeError.
// Used by NetSim's own methods (net_sim_*.cpp) and, through with_net and
// with_net_exclusive (net_classes.h), by the layers above; so is the loop
// that gives the interpreter lock back while the engine works
// (run_in_chunks).

#include <memory>

#include "zellik/net/net_sim.h"
#include "zellik_py/binding/boxed.h"
#include "zellik_py/binding/guard.h"

namespace zellik::py {

struct NetSimValue {
  std::unique_ptr<NetSim> engine;
  int users = 0;  // > 0: shared holders; kExclusive: one exclusive holder
};

inline constexpr int kExclusive = -1;

enum class Use { Shared, Exclusive };

// Holds the net for one call.
class Hold {
 public:
  Hold(NetSimValue& value, Use use) : value_(value) {
    if (use == Use::Exclusive ? value.users != 0 : value.users == kExclusive) {
      raise(PyExc_RuntimeError, "NetSim is already in use by a call in progress");
    }
    value.users = use == Use::Exclusive ? kExclusive : value.users + 1;
  }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;
  ~Hold() { value_.users = value_.users == kExclusive ? 0 : value_.users - 1; }

  NetSim& net() const { return *value_.engine; }

 private:
  NetSimValue& value_;
};

inline NetSimValue& value_of(PyObject* self) { return unbox<NetSimValue>(self); }

// Runs `chunk` without the interpreter lock, again and again until it
// returns true; `chunk` must not touch a Python object. After each run,
// with the lock taken back, `collect(done)` turns what the chunk made into
// Python objects, and then pending signals are handled: when a handler
// raised (KeyboardInterrupt, usually), `interrupted()` runs with that error
// set and PythonError is thrown. The caller holds its net the whole time, so
// another thread that reaches it meanwhile gets RuntimeError from its Hold,
// never a half-changed net. A chunk that calls Python (`unlocked` false)
// runs with the lock.
template <class Chunk, class Collect, class Interrupted>
void run_in_chunks(Chunk&& chunk, Collect&& collect, Interrupted&& interrupted,
                   bool unlocked = true) {
  bool done = false;
  while (!done) {
    if (unlocked) {
      WithoutInterpreterLock without;
      done = chunk();
    } else {
      done = chunk();
    }
    collect(done);
    if (PyErr_CheckSignals() < 0) {
      interrupted();
      throw PythonError{};
    }
  }
}

}  // namespace zellik::py
