#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <new>
#include <string>

#include "zellik/base/internal_failure.h"
#include "zellik_py/binding/ref.h"

namespace zellik::py {

// Thrown when a Python error is already set; the guard turns it back into
// the interpreter's error return.
struct PythonError {};

// Sets the panic exception for an internal failure (errors/panic.cpp).
void raise_panic(const char* message);

// Throws PythonError when `p` is null (the failed call set the error).
inline PyObject* check(PyObject* p) {
  if (p == nullptr) throw PythonError{};
  return p;
}
// Takes ownership of a new reference, throwing PythonError when it is null.
inline Ref own(PyObject* p) { return Ref::steal(check(p)); }
// Throws PythonError when a status-returning call failed (-1).
inline void check_status(int status) {
  if (status < 0) throw PythonError{};
}

// Sets `type` with `message` and throws PythonError.
[[noreturn]] inline void raise(PyObject* type, const std::string& message) {
  PyErr_SetString(type, message.c_str());
  throw PythonError{};
}

// Runs the body of an entry point called by the interpreter. No C++
// exception leaves it: an internal failure becomes the panic exception, an
// allocation failure MemoryError, anything else SystemError; on any of them
// `on_error` is returned with the Python error set.
template <class R, class Body>
R guard(R on_error, Body&& body) noexcept {
  try {
    return body();
  } catch (const PythonError&) {
  } catch (const InternalFailure& e) {
    raise_panic(e.what());
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(PyExc_SystemError, e.what());
  } catch (...) {
    PyErr_SetString(PyExc_SystemError, "unexpected internal error in zellik_sim");
  }
  return on_error;
}

// The usual form, for entry points returning a new reference.
template <class Body>
PyObject* guard(Body&& body) noexcept {
  return guard<PyObject*>(nullptr, [&]() -> PyObject* { return body().release(); });
}

// Releases the interpreter lock for its lifetime; takes it back on every way
// out, an exception from the engine included. Nothing inside may touch a
// Python object.
class WithoutInterpreterLock {
 public:
  WithoutInterpreterLock() : state_(PyEval_SaveThread()) {}
  WithoutInterpreterLock(const WithoutInterpreterLock&) = delete;
  WithoutInterpreterLock& operator=(const WithoutInterpreterLock&) = delete;
  ~WithoutInterpreterLock() { PyEval_RestoreThread(state_); }

 private:
  PyThreadState* state_;
};

}  // namespace zellik::py
