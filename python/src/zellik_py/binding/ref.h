#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace zellik::py {

// Owns one reference to a Python object (or nothing). The only place where
// references are given back: no naked Py_DECREF bookkeeping elsewhere.
// Movable, not copyable; copy explicitly with Ref::borrow(r.get()).
class Ref {
 public:
  Ref() = default;
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : p_(other.release()) {}
  Ref& operator=(Ref&& other) noexcept {
    Ref tmp(std::move(other));
    std::swap(p_, tmp.p_);
    return *this;
  }
  ~Ref() { Py_XDECREF(p_); }

  // Takes ownership of a new reference (may be null).
  static Ref steal(PyObject* p) { return Ref(p); }
  // Adds a reference to a borrowed one (may be null).
  static Ref borrow(PyObject* p) {
    Py_XINCREF(p);
    return Ref(p);
  }

  PyObject* get() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Hands the reference to the caller.
  PyObject* release() { return std::exchange(p_, nullptr); }

 private:
  explicit Ref(PyObject* p) : p_(p) {}
  PyObject* p_ = nullptr;
};

}  // namespace zellik::py
