#pragma once
// Entry helpers for slots and getters that only read their instance: each runs its body inside
// the entry wrapper, with a shared borrow of the instance held for the length of the call.
#include <string>
#include <vector>

#include "bindings/py_common.hpp"

namespace tessary::py {

// Runs body(value) and returns its result; `failure` (with a Python error set) when the borrow
// fails, the body fails or a C++ exception escapes it.
template <class T, class R, class Body>
R read_with(PyObject* self, R failure, Body&& body) noexcept {
  return guarded<R>(
      [&]() -> R {
        Instance<T>* inst = instance<T>(self);
        SharedBorrow borrow(inst->borrow);
        if (!borrow.ok()) return failure;
        return body(static_cast<const T&>(inst->value));
      },
      failure);
}

// body(value) -> PyObject* (new reference, or null with an error set).
template <class T, class Body>
PyObject* read_object(PyObject* self, Body&& body) noexcept {
  return read_with<T, PyObject*>(self, nullptr, std::forward<Body>(body));
}

// The truth-value slot: body(value) -> bool.
template <class T, class Body>
int read_truth(PyObject* self, Body&& body) noexcept {
  return read_with<T, int>(self, -1, [&](const T& value) { return body(value) ? 1 : 0; });
}

// The length slot: body(value) -> a count.
template <class T, class Body>
Py_ssize_t read_len(PyObject* self, Body&& body) noexcept {
  return read_with<T, Py_ssize_t>(
      self, -1, [&](const T& value) { return static_cast<Py_ssize_t>(body(value)); });
}

// Getters of one field, building a new Python object on every access.
template <class T, bool T::*Field>
PyObject* get_bool(PyObject* self, void*) {
  return read_object<T>(self, [](const T& value) { return new_bool(value.*Field).release(); });
}
template <class T, std::vector<std::string> T::*Field>
PyObject* get_text_list(PyObject* self, void*) {
  return read_object<T>(self, [](const T& value) { return new_text_list(value.*Field).release(); });
}

}  // namespace tessary::py
