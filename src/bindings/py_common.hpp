#pragma once
// Shared machinery of the Python module: an owning reference, interpreter-lock guards, the one
// argument parser, argument conversions, the entry wrapper that turns C++ exceptions into
// MemoryError or PanicException, borrow flags, instance layout helpers and type/module
// registration.
//
// Every function here expects the interpreter lock to be held unless its comment says otherwise.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "batch/text_batch.hpp"
#include "error.hpp"

namespace tessary::py {

// ---------------------------------------------------------------------------------------------
// Owning reference

// Move-only owner of one strong reference (or of nothing). Every error path that drops a Ref
// releases its reference, so nothing leaks on early returns.
class Ref {
 public:
  Ref() noexcept = default;
  // Takes over a new reference (null allowed, e.g. the result of a failed API call).
  static Ref steal(PyObject* object) noexcept { return Ref(object); }
  // Takes a further reference to a borrowed object.
  static Ref borrow(PyObject* object) noexcept {
    Py_XINCREF(object);
    return Ref(object);
  }

  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref(Ref&& other) noexcept : object_(other.object_) { other.object_ = nullptr; }
  Ref& operator=(Ref&& other) noexcept {
    if (this != &other) {
      PyObject* old = object_;
      object_ = other.object_;
      other.object_ = nullptr;
      Py_XDECREF(old);
    }
    return *this;
  }
  ~Ref() { Py_XDECREF(object_); }

  PyObject* get() const noexcept { return object_; }
  // Hands the reference to the caller; this owner becomes empty.
  [[nodiscard]] PyObject* release() noexcept {
    PyObject* object = object_;
    object_ = nullptr;
    return object;
  }
  explicit operator bool() const noexcept { return object_ != nullptr; }

 private:
  explicit Ref(PyObject* object) noexcept : object_(object) {}
  PyObject* object_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Interpreter lock

// Releases the interpreter lock for the guard's scope; re-takes it on destruction.
// Touch no Python object while it is alive.
//
// Once the interpreter is shutting down, a thread other than the one shutting it down that asks
// for the lock is ended by the interpreter (pthread_exit), which unwinds the thread's stack
// through the frames of this module; unwinding out of a destructor or a noexcept entry would
// terminate the process, and the frames above would run on without the lock. Such a thread
// (a daemon thread whose batch ends while the program exits) is instead put to sleep until the
// process is gone: whether the shutdown was seen before asking for the lock or while waiting
// for it. The thread shutting the interpreter down gets the lock back as usual.
class ReleasedGil {
 public:
  ReleasedGil() noexcept : state_(PyEval_SaveThread()) {}
  ReleasedGil(const ReleasedGil&) = delete;
  ReleasedGil& operator=(const ReleasedGil&) = delete;
  ~ReleasedGil() { retake(state_); }

  // Takes the lock for a moment to run the handlers of the signals that have arrived (only the
  // main thread runs them), then lets it go again. False when a handler raised: its exception
  // stays set for when the lock is retaken.
  bool run_signal_handlers() noexcept {
    retake(state_);
    const bool ok = PyErr_CheckSignals() == 0;
    state_ = PyEval_SaveThread();
    return ok;
  }

 private:
  static void retake(PyThreadState* state) noexcept;
  PyThreadState* state_;
};

// ---------------------------------------------------------------------------------------------
// Internal failures

// The exception type for internal failures, "pyo3_runtime.PanicException" deriving from
// BaseException; created on first use and kept for the life of the process. Borrowed; null with
// a Python error set if it cannot be created.
PyObject* panic_exception_type();

// Writes the failure report to standard error and sets PanicException with `message` (or a
// generic text when null) as the current exception.
void raise_panic(const char* message) noexcept;

// Sets ValueError carrying the error's display text ("Parse error: ...", "Generator error: ...").
void raise_value_error(const CypherError& error);

// Sets `type` with a message assembled from UTF-8 text.
void raise(PyObject* type, std::string_view message);

// Runs an entry body, returning its result. A failed allocation escaping the body becomes
// MemoryError, any other C++ exception PanicException, and the entry returns `failure` (null
// for object results, -1 for the truth value, length and init slots). The body signals a Python
// error by returning `failure` with the error set.
template <class R = PyObject*, class Body>
R guarded(Body&& body, R failure = R{}) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();  // nothing to report: running out of memory is no internal failure
  } catch (const std::exception& error) {
    raise_panic(error.what());
  } catch (...) {
    raise_panic(nullptr);
  }
  return failure;
}
template <class Body>
int guarded_int(Body&& body) noexcept {
  return guarded<int>(std::forward<Body>(body), -1);
}

// ---------------------------------------------------------------------------------------------
// Borrow flags

// Per-instance borrow state: 0 free, > 0 the number of shared borrows, -1 exclusively borrowed.
struct BorrowFlag {
  std::intptr_t state = 0;
};

// Shared borrow for a call that only reads the instance. Check `ok()`: when false, RuntimeError
// "Already mutably borrowed" is set.
class SharedBorrow {
 public:
  explicit SharedBorrow(BorrowFlag& flag) noexcept;
  SharedBorrow(const SharedBorrow&) = delete;
  SharedBorrow& operator=(const SharedBorrow&) = delete;
  ~SharedBorrow() {
    if (flag_ != nullptr) --flag_->state;
  }
  bool ok() const noexcept { return flag_ != nullptr; }

 private:
  BorrowFlag* flag_ = nullptr;
};

// Exclusive borrow for a call that changes the instance. Check `ok()`: when false, RuntimeError
// "Already borrowed" is set.
class ExclusiveBorrow {
 public:
  explicit ExclusiveBorrow(BorrowFlag& flag) noexcept;
  ExclusiveBorrow(const ExclusiveBorrow&) = delete;
  ExclusiveBorrow& operator=(const ExclusiveBorrow&) = delete;
  ~ExclusiveBorrow() {
    if (flag_ != nullptr) flag_->state = 0;
  }
  bool ok() const noexcept { return flag_ != nullptr; }

 private:
  BorrowFlag* flag_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Instances

// Layout of every instance of the module's classes: the object header, the borrow flag and the
// owned value.
template <class T>
struct Instance {
  PyObject_HEAD BorrowFlag borrow;
  T value;
};

template <class T>
Instance<T>* instance(PyObject* self) noexcept {
  return reinterpret_cast<Instance<T>*>(self);
}

// A new instance of `type` holding `value` (moved in). Null with a Python error set when the
// object cannot be allocated; an exception from constructing the value propagates (to the entry
// wrapper) after the object is freed.
template <class T>
PyObject* new_instance(PyTypeObject* type, T&& value) {
  using V = std::remove_cvref_t<T>;
  PyObject* self = type->tp_alloc(type, 0);
  if (self == nullptr) return nullptr;
  auto* inst = instance<V>(self);
  new (&inst->borrow) BorrowFlag{};
  try {
    new (&inst->value) V(std::forward<T>(value));
  } catch (...) {
    // The value never existed: free the bare object (and the type reference it holds).
    type->tp_free(self);
    Py_DECREF(type);
    throw;
  }
  return self;
}

// A new instance of `type` holding `value` (moved in, without throwing), built in `memory`:
// sizeof(Instance<T>) bytes, aligned for any type, that the caller provides. The object is
// never handed to tp_free: its type's tp_dealloc must know such objects and let go of their
// memory in its own way.
template <class T>
PyObject* new_instance_in(void* memory, PyTypeObject* type, T&& value) noexcept {
  using V = std::remove_cvref_t<T>;
  static_assert(std::is_nothrow_constructible_v<V, T&&>);
  PyObject* self = PyObject_Init(static_cast<PyObject*>(memory), type);
  auto* inst = instance<V>(self);
  new (&inst->borrow) BorrowFlag{};
  new (&inst->value) V(std::forward<T>(value));
  return self;
}

// tp_dealloc of Instance<T>: destroys the value, frees the object and drops the heap type.
template <class T>
void dealloc_instance(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  instance<T>(self)->value.~T();
  type->tp_free(self);
  Py_DECREF(type);
}

// ---------------------------------------------------------------------------------------------
// Argument parsing

// The parameters of one entry, whatever their number: the matching of arguments to names and
// the messages. `qualname` is the name used in messages, e.g. "Schema.merge()" or
// "Schema.__new__()". Parameters [0, required) are required, the rest default to absent.
// Keyword names are interned once, on first use, and matched by identity before equality.
class ParamList {
 public:
  static constexpr std::size_t kMax = 4;

  std::size_t size() const noexcept { return count_; }
  const char* name(std::size_t i) const noexcept { return names_[i]; }

 protected:
  constexpr ParamList(const char* qualname, const char* const* names, std::size_t count,
                      std::size_t required)
      : qualname_(qualname), count_(count), required_(required) {
    for (std::size_t i = 0; i < count; ++i) names_[i] = names[i];
  }

  // Fast-call form. Fills out[0, size()) with borrowed references, null for an absent optional
  // parameter. Returns false with TypeError set.
  bool parse_into(PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames,
                  PyObject** out) const;
  // Tuple and dict form (type constructor slot).
  bool parse_into(PyObject* args, PyObject* kwargs, PyObject** out) const;

 private:
  bool intern() const;
  // Index of the parameter named `key`, or -1.
  Py_ssize_t find(PyObject* key) const;
  bool place(PyObject* key, PyObject* value, Py_ssize_t nargs, PyObject** out) const;
  bool too_many(Py_ssize_t given) const;
  bool check_missing(Py_ssize_t nargs, PyObject** out) const;

  const char* qualname_;
  std::array<const char*, kMax> names_{};
  std::size_t count_;
  std::size_t required_;
  // Interned-keyword cache: the parameter names as interned str objects, made on the first
  // call (under the interpreter lock) and kept for the life of the process, so that a keyword
  // spelled in the caller's source is found by identity before any string comparison.
  mutable std::array<PyObject*, kMax> interned_{};
};

// The N parameters of one entry. `parse` gives exactly N borrowed references (null for an
// absent optional parameter), or nullopt with TypeError set; taking them apart with a
// structured binding lets the compiler check their number.
template <std::size_t N>
class Params : public ParamList {
 public:
  static_assert(N >= 1 && N <= kMax);
  using Args = std::array<PyObject*, N>;

  constexpr Params(const char* qualname, const char* const (&names)[N], std::size_t required)
      : ParamList(qualname, names, N, required) {}

  // Fast-call form.
  std::optional<Args> parse(PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) const {
    Args out;
    if (!parse_into(args, nargsf, kwnames, out.data())) return std::nullopt;
    return out;
  }
  // Tuple and dict form (type constructor slot).
  std::optional<Args> parse(PyObject* args, PyObject* kwargs) const {
    Args out;
    if (!parse_into(args, kwargs, out.data())) return std::nullopt;
    return out;
  }
};

// Re-raises a pending TypeError as TypeError "argument '{name}': {message}"; other errors are
// left unchanged. Always returns null so callers can `return arg_error(...)`.
PyObject* arg_error(const char* name);

// ---------------------------------------------------------------------------------------------
// Conversions (Python to C++). Each returns nullopt/null with a Python error set on failure;
// the messages are the unwrapped ones, callers wrap them with `arg_error` where the argument
// has a name.

// The type's qualified name ("int", "dict", ...).
std::string type_name(PyObject* object);

// Sets TypeError "'{found}' object cannot be cast as '{wanted}'".
void raise_cast_error(PyObject* object, const char* wanted);

// A str (or subclass) as UTF-8. The view stays valid as long as `object` lives.
std::optional<std::string_view> to_text(PyObject* object);

// Any sequence except a str, each element a text.
std::optional<std::vector<std::string>> to_text_list(PyObject* object);

// The texts of to_text_list without copying them: views of the elements' UTF-8 forms, each
// with a reference to its element as its keeper. The views stay valid while this object
// lives, with or without the interpreter lock; it must be destroyed with the lock held.
struct BorrowedTexts {
  BorrowedTexts() = default;
  BorrowedTexts(BorrowedTexts&&) noexcept = default;
  BorrowedTexts& operator=(BorrowedTexts&&) = delete;
  ~BorrowedTexts();

  batch::TextBatch texts;
};
std::optional<BorrowedTexts> to_borrowed_texts(PyObject* object);

// None (or null, an absent argument) gives an empty optional; otherwise an int in [0, 2^64).
// The outer optional is empty on failure.
std::optional<std::optional<std::uint64_t>> to_optional_u64(PyObject* object);

// An int in [0, 2^64).
std::optional<std::uint64_t> to_u64(PyObject* object);

// The wrapper behind an instance of `type` (take a borrow of `->borrow` while reading
// `->value`); `class_name` names the class in the error message.
template <class T>
Instance<T>* to_instance(PyObject* object, PyTypeObject* type, const char* class_name) {
  if (type != nullptr && PyObject_TypeCheck(object, type)) return instance<T>(object);
  raise_cast_error(object, class_name);
  return nullptr;
}

// Converts argument `i` of `params` with `convert`, wrapping a TypeError with its name.
// Usage: auto query = convert_arg(params, 0, out[0], to_text);
template <class Convert>
auto convert_arg(const ParamList& params, std::size_t i, PyObject* object, Convert&& convert)
    -> decltype(convert(object)) {
  auto result = convert(object);
  if (!result) arg_error(params.name(i));
  return result;
}

// ---------------------------------------------------------------------------------------------
// Conversions (C++ to Python). Null with a Python error set on failure.

Ref new_text(std::string_view text);
Ref new_bool(bool value);
Ref new_optional_text(const std::optional<std::string>& text);

// A new list of convert(item) for each item of `items`, in order. `convert` returns a Ref,
// null with an error set on failure; it may move from the item when `items` is not const.
template <class Range, class Convert>
Ref new_list(Range&& items, Convert&& convert) {
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(std::size(items))));
  if (!list) return list;
  Py_ssize_t i = 0;
  for (auto&& item : items) {
    Ref converted = convert(item);
    if (!converted) return Ref();
    PyList_SET_ITEM(list.get(), i++, converted.release());
  }
  return list;
}

template <class Range>
Ref new_text_list(const Range& items) {
  return new_list(items, [](const auto& item) { return new_text(std::string_view(item)); });
}

// The repr form of a list of texts: ["a", "b\n"] with the escapes of the module's reprs
// (backslash before " and \, \n \r \t \0, \u{..} for non-printable and combining characters).
std::string repr_text(std::string_view text);
template <class Range>
std::string repr_text_list(const Range& items) {
  std::string out = "[";
  bool first = true;
  for (const auto& item : items) {
    if (!first) out += ", ";
    first = false;
    out += repr_text(std::string_view(item));
  }
  out += "]";
  return out;
}

// ---------------------------------------------------------------------------------------------
// Types and registration

// A fast-call (or other non-PyCFunction) entry as the PyCFunction that method tables hold; the
// table's flags tell the interpreter its real signature.
template <class F>
PyCFunction as_method(F* function) noexcept {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// Creates a heap type from `spec` with the module's flags: not subclassable, no instance dict,
// no weak references; a spec without a Py_tp_new slot gives a type that cannot be instantiated
// from Python. `spec.name` must be "builtins.<Class>". New reference, or null with an error set.
PyTypeObject* create_type(PyType_Spec& spec);

// The spec of a class whose instances hold one T.
template <class T>
PyType_Spec instance_spec(const char* name, PyType_Slot* slots) {
  return {name, static_cast<int>(sizeof(Instance<T>)), 0, Py_TPFLAGS_DEFAULT, slots};
}

// Appends `name` to the module's `__all__` (creating the list when absent), then sets the module
// attribute `name` to `object`. Does not steal `object`. Returns 0, or -1 with an error set.
int add_to_module(PyObject* module, const char* name, PyObject* object);

// Creates `type` from `spec` on the first call (the type is kept for the life of the process)
// and adds it to the module as `name`. Returns 0, or -1 with an error set.
int add_class(PyObject* module, PyTypeObject*& type, PyType_Spec& spec, const char* name);

}  // namespace tessary::py
