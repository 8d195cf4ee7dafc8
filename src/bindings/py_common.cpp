#include "bindings/py_common.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cxxabi.h>
#include <limits>

#include <utf8proc.h>

namespace tessary::py {

// ---------------------------------------------------------------------------------------------
// Interpreter lock

namespace {

[[noreturn]] void sleep_until_the_process_ends() noexcept {
  for (;;) pause();
}

}  // namespace

void ReleasedGil::retake(PyThreadState* state) noexcept {
  // The interpreter itself tells this thread from the one shutting it down (which must go on
  // with the lock, e.g. freeing results as it clears the modules).
  try {
    PyEval_RestoreThread(state);
  } catch (abi::__forced_unwind&) {
    // The interpreter began shutting down while this thread waited for the lock and is ending
    // the thread. The unwinding stops here for good: a handler that never returns does not
    // drop the unwinding, which would abort the process.
    sleep_until_the_process_ends();
  }
}

// ---------------------------------------------------------------------------------------------
// Internal failures

namespace {

constexpr const char kPanicDoc[] =
    "\n"
    "The exception raised when native code called from Python fails with a panic.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

constexpr const char kGenericPanic[] = "internal failure in the _tessary module";

PyObject* g_panic_type = nullptr;  // created once, kept for the life of the process

}  // namespace

PyObject* panic_exception_type() {
  if (g_panic_type == nullptr) {
    g_panic_type = PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", kPanicDoc,
                                             PyExc_BaseException, nullptr);
  }
  return g_panic_type;
}

void raise_panic(const char* message) noexcept {
  const char* text = message != nullptr && *message != '\0' ? message : kGenericPanic;
  std::fprintf(stderr, "_tessary: internal failure: %s\n", text);
  std::fflush(stderr);
  // An exception already set by the failing body is replaced by the panic.
  PyErr_Clear();
  PyObject* type = panic_exception_type();
  if (type == nullptr) return;  // the creation error stays set
  PyObject* value =
      PyUnicode_DecodeUTF8(text, static_cast<Py_ssize_t>(std::strlen(text)), "replace");
  if (value == nullptr) return;
  PyErr_SetObject(type, value);
  Py_DECREF(value);
}

void raise(PyObject* type, std::string_view message) {
  Ref text = new_text(message);
  if (text) PyErr_SetObject(type, text.get());
}

void raise_value_error(const CypherError& error) { raise(PyExc_ValueError, error.display()); }

// ---------------------------------------------------------------------------------------------
// Borrow flags

SharedBorrow::SharedBorrow(BorrowFlag& flag) noexcept {
  if (flag.state < 0) {
    PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
    return;
  }
  ++flag.state;
  flag_ = &flag;
}

ExclusiveBorrow::ExclusiveBorrow(BorrowFlag& flag) noexcept {
  if (flag.state != 0) {
    PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
    return;
  }
  flag.state = -1;
  flag_ = &flag;
}

// ---------------------------------------------------------------------------------------------
// Argument parsing

namespace {

// "'a'", "'a' and 'b'", "'a', 'b', and 'c'".
std::string quoted_list(const std::vector<const char*>& names) {
  std::string out;
  const std::size_t n = names.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (i != 0) {
      if (n > 2) out += ',';
      out += i == n - 1 ? " and " : " ";
    }
    out += '\'';
    out += names[i];
    out += '\'';
  }
  return out;
}

// str(object) as UTF-8, replacing what cannot be encoded.
std::string display(PyObject* object) {
  Ref text = Ref::steal(PyObject_Str(object));
  if (!text) {
    PyErr_Clear();
    return "<unprintable>";
  }
  Ref bytes = Ref::steal(PyUnicode_AsEncodedString(text.get(), "utf-8", "replace"));
  if (!bytes) {
    PyErr_Clear();
    return "<unprintable>";
  }
  return std::string(PyBytes_AS_STRING(bytes.get()),
                     static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
}

}  // namespace

bool ParamList::intern() const {
  if (count_ == 0 || interned_[count_ - 1] != nullptr) return true;
  for (std::size_t i = 0; i < count_; ++i) {
    if (interned_[i] != nullptr) continue;
    interned_[i] = PyUnicode_InternFromString(names_[i]);  // kept for the life of the process
    if (interned_[i] == nullptr) return false;
  }
  return true;
}

Py_ssize_t ParamList::find(PyObject* key) const {
  for (std::size_t i = 0; i < count_; ++i) {
    if (interned_[i] == key) return static_cast<Py_ssize_t>(i);
  }
  if (!PyUnicode_Check(key)) return -1;
  for (std::size_t i = 0; i < count_; ++i) {
    int equal = PyUnicode_Compare(key, interned_[i]);
    if (equal == -1 && PyErr_Occurred()) {
      PyErr_Clear();
      continue;
    }
    if (equal == 0) return static_cast<Py_ssize_t>(i);
  }
  return -1;
}

bool ParamList::place(PyObject* key, PyObject* value, Py_ssize_t nargs, PyObject** out) const {
  Py_ssize_t i = find(key);
  if (i < 0) {
    raise(PyExc_TypeError,
          std::string(qualname_) + " got an unexpected keyword argument '" + display(key) + "'");
    return false;
  }
  if (i < nargs || out[i] != nullptr) {
    raise(PyExc_TypeError, std::string(qualname_) + " got multiple values for argument '" +
                               names_[static_cast<std::size_t>(i)] + "'");
    return false;
  }
  out[i] = value;
  return true;
}

bool ParamList::too_many(Py_ssize_t given) const {
  const char* was = given == 1 ? "was" : "were";
  std::string message = qualname_;
  if (required_ != count_) {
    message += " takes from " + std::to_string(required_) + " to " + std::to_string(count_) +
               " positional arguments but " + std::to_string(given) + " " + was + " given";
  } else {
    message += " takes " + std::to_string(count_) + " positional arguments but " +
               std::to_string(given) + " " + was + " given";
  }
  raise(PyExc_TypeError, message);
  return false;
}

bool ParamList::check_missing(Py_ssize_t nargs, PyObject** out) const {
  if (static_cast<std::size_t>(nargs) >= required_) return true;
  std::vector<const char*> missing;
  for (std::size_t i = 0; i < required_; ++i) {
    if (out[i] == nullptr) missing.push_back(names_[i]);
  }
  if (missing.empty()) return true;
  raise(PyExc_TypeError, std::string(qualname_) + " missing " + std::to_string(missing.size()) +
                             " required positional " +
                             (missing.size() == 1 ? "argument" : "arguments") + ": " +
                             quoted_list(missing));
  return false;
}

bool ParamList::parse_into(PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames,
                           PyObject** out) const {
  const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
  if (kwnames == nullptr && static_cast<std::size_t>(nargs) == count_) {
    // Every parameter by position, the usual call: nothing to match or to check.
    for (std::size_t i = 0; i < count_; ++i) out[i] = args[i];
    return true;
  }
  if (!intern()) return false;
  for (std::size_t i = 0; i < count_; ++i) out[i] = nullptr;
  if (static_cast<std::size_t>(nargs) > count_) return too_many(nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
  if (kwnames != nullptr) {
    const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      if (!place(PyTuple_GET_ITEM(kwnames, k), args[nargs + k], nargs, out)) return false;
    }
  }
  return check_missing(nargs, out);
}

bool ParamList::parse_into(PyObject* args, PyObject* kwargs, PyObject** out) const {
  if (!intern()) return false;
  const Py_ssize_t nargs = args != nullptr ? PyTuple_GET_SIZE(args) : 0;
  for (std::size_t i = 0; i < count_; ++i) out[i] = nullptr;
  if (static_cast<std::size_t>(nargs) > count_) return too_many(nargs);
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = PyTuple_GET_ITEM(args, i);
  if (kwargs != nullptr) {
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t pos = 0;
    while (PyDict_Next(kwargs, &pos, &key, &value)) {
      if (!place(key, value, nargs, out)) return false;
    }
  }
  return check_missing(nargs, out);
}

PyObject* arg_error(const char* name) {
  if (!PyErr_Occurred()) return nullptr;
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  if (type != PyExc_TypeError) {
    PyErr_Restore(type, value, traceback);
    return nullptr;
  }
  PyErr_NormalizeException(&type, &value, &traceback);
  Ref owned_type = Ref::steal(type);
  Ref owned_value = Ref::steal(value);
  Ref owned_traceback = Ref::steal(traceback);
  std::string message = std::string("argument '") + name +
                        "': " + (owned_value ? display(owned_value.get()) : std::string());
  raise(PyExc_TypeError, message);
  if (owned_value) {
    // Keep the original error's cause on the new one.
    PyObject* cause = PyException_GetCause(owned_value.get());
    if (cause != nullptr) {
      PyObject* new_type = nullptr;
      PyObject* new_value = nullptr;
      PyObject* new_traceback = nullptr;
      PyErr_Fetch(&new_type, &new_value, &new_traceback);
      PyErr_NormalizeException(&new_type, &new_value, &new_traceback);
      if (new_value != nullptr)
        PyException_SetCause(new_value, cause);  // steals cause
      else
        Py_DECREF(cause);
      PyErr_Restore(new_type, new_value, new_traceback);
    }
  }
  return nullptr;
}

// ---------------------------------------------------------------------------------------------
// Conversions (Python to C++)

std::string type_name(PyObject* object) {
  Ref name = Ref::steal(PyType_GetQualName(Py_TYPE(object)));
  if (!name) {
    PyErr_Clear();
    return Py_TYPE(object)->tp_name;
  }
  return display(name.get());
}

void raise_cast_error(PyObject* object, const char* wanted) {
  std::string message = "'";
  message += type_name(object);
  message += "' object cannot be cast as '";
  message += wanted;
  message += '\'';
  raise(PyExc_TypeError, message);
}

std::optional<std::string_view> to_text(PyObject* object) {
  if (!PyUnicode_Check(object)) {
    raise_cast_error(object, "str");
    return std::nullopt;
  }
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(object, &size);
  if (data == nullptr) return std::nullopt;
  return std::string_view(data, static_cast<std::size_t>(size));
}

namespace {

// Passes every element of `object`, a sequence other than a str, to add(text, element) in
// order, after reserve(count) with the number of elements to expect (an estimate for a sequence
// other than a list or tuple). The element is borrowed for the call. False with a Python error
// set.
template <class Reserve, class Add>
bool for_each_text(PyObject* object, Reserve&& reserve, Add&& add) {
  if (PyUnicode_Check(object)) {
    PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
    return false;
  }
  if (!PyList_Check(object) && !PyTuple_Check(object) && !PySequence_Check(object)) {
    raise_cast_error(object, "Sequence");
    return false;
  }
  if (PyList_CheckExact(object) || PyTuple_CheckExact(object)) {
    // The items of a plain list or tuple stay put while no Python code runs, and none does
    // here.
    const Py_ssize_t count = PySequence_Fast_GET_SIZE(object);
    PyObject** items = PySequence_Fast_ITEMS(object);
    reserve(static_cast<std::size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
      auto text = to_text(items[i]);
      if (!text) return false;
      add(*text, items[i]);
    }
    return true;
  }
  Py_ssize_t size = PySequence_Size(object);
  if (size < 0) {
    PyErr_Clear();
  } else {
    // The length is only a hint: a sequence may report more items than it yields, so a length
    // too large to reserve room for is no reason to fail, and it is trusted only up to a bound,
    // so that a made-up length never asks for a huge block.
    constexpr std::size_t kMaxHint = std::size_t{1} << 16;
    try {
      reserve(std::min(static_cast<std::size_t>(size), kMaxHint));
    } catch (const std::exception&) {
    }
  }
  // Iterating (rather than indexing) copes with sequences whose length changes on the way.
  Ref iterator = Ref::steal(PyObject_GetIter(object));
  if (!iterator) return false;
  while (Ref item = Ref::steal(PyIter_Next(iterator.get()))) {
    auto text = to_text(item.get());
    if (!text) return false;
    add(*text, item.get());
  }
  return !PyErr_Occurred();
}

}  // namespace

std::optional<std::vector<std::string>> to_text_list(PyObject* object) {
  std::vector<std::string> result;
  if (!for_each_text(
          object, [&](std::size_t count) { result.reserve(count); },
          [&](std::string_view text, PyObject*) { result.emplace_back(text); })) {
    return std::nullopt;
  }
  return result;
}

BorrowedTexts::~BorrowedTexts() {
  for (std::size_t i = 0; i < texts.size(); ++i) Py_DECREF(static_cast<PyObject*>(texts.keeper(i)));
}

std::optional<BorrowedTexts> to_borrowed_texts(PyObject* object) {
  // Each element is kept alive by a reference of our own, its keeper: the sequence itself may
  // change while the lock is released.
  BorrowedTexts out;
  if (PyList_CheckExact(object) || PyTuple_CheckExact(object)) {
    if (!for_each_text(
            object, [&](std::size_t count) { out.texts = batch::TextBatch(count); },
            [&](std::string_view text, PyObject* element) {
              Py_INCREF(element);
              out.texts.push_back(text, element);
            })) {
      return std::nullopt;
    }
    return out;
  }
  // Any other sequence yields as many elements as it likes: they are gathered first.
  std::vector<std::pair<std::string_view, Ref>> elements;
  if (!for_each_text(
          object, [&](std::size_t count) { elements.reserve(count); },
          [&](std::string_view text, PyObject* element) {
            elements.emplace_back(text, Ref::borrow(element));
          })) {
    return std::nullopt;
  }
  out.texts = batch::TextBatch(elements.size());
  for (auto& [text, element] : elements) out.texts.push_back(text, element.release());
  return out;
}

std::optional<std::uint64_t> to_u64(PyObject* object) {
  Ref number = PyLong_Check(object) ? Ref::borrow(object) : Ref::steal(PyNumber_Index(object));
  if (!number) return std::nullopt;
  unsigned long long value = PyLong_AsUnsignedLongLong(number.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return std::nullopt;
  return static_cast<std::uint64_t>(value);
}

std::optional<std::optional<std::uint64_t>> to_optional_u64(PyObject* object) {
  if (object == nullptr || object == Py_None) return std::optional<std::uint64_t>();
  auto value = to_u64(object);
  if (!value) return std::nullopt;
  return std::optional<std::uint64_t>(*value);
}

// ---------------------------------------------------------------------------------------------
// Conversions (C++ to Python)

Ref new_text(std::string_view text) {
  return Ref::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

Ref new_bool(bool value) { return Ref::borrow(value ? Py_True : Py_False); }

Ref new_optional_text(const std::optional<std::string>& text) {
  if (!text) return Ref::borrow(Py_None);
  return new_text(*text);
}

namespace {

// Characters written as they are in a repr: everything except control, format, surrogate,
// private-use and unassigned characters, line and paragraph separators and spaces other than
// the ASCII space.
bool is_printable(utf8proc_int32_t c) {
  if (c == ' ') return true;
  switch (utf8proc_category(c)) {
    case UTF8PROC_CATEGORY_CC:
    case UTF8PROC_CATEGORY_CF:
    case UTF8PROC_CATEGORY_CS:
    case UTF8PROC_CATEGORY_CO:
    case UTF8PROC_CATEGORY_CN:
    case UTF8PROC_CATEGORY_ZL:
    case UTF8PROC_CATEGORY_ZP:
    case UTF8PROC_CATEGORY_ZS:
      return false;
    default:
      return true;
  }
}

// Combining (grapheme-extending) characters; the emoji skin-tone modifiers extend a cluster
// but are not combining characters.
bool is_grapheme_extend(utf8proc_int32_t c) {
  if (c >= 0x1F3FB && c <= 0x1F3FF) return false;
  return utf8proc_get_property(c)->boundclass == UTF8PROC_BOUNDCLASS_EXTEND;
}

void append_hex_escape(std::string& out, std::uint32_t c) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "\\u{%x}", c);
  out += buffer;
}

}  // namespace

std::string repr_text(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
  utf8proc_ssize_t pos = 0;
  const auto size = static_cast<utf8proc_ssize_t>(text.size());
  while (pos < size) {
    utf8proc_int32_t c = 0;
    utf8proc_ssize_t length = utf8proc_iterate(bytes + pos, size - pos, &c);
    if (length <= 0) {  // not UTF-8 (cannot come from a Python str): show the byte
      append_hex_escape(out, bytes[pos]);
      ++pos;
      continue;
    }
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\0':
        out += "\\0";
        break;
      default:
        if (is_grapheme_extend(c) || !is_printable(c)) {
          append_hex_escape(out, static_cast<std::uint32_t>(c));
        } else {
          out.append(text.substr(static_cast<std::size_t>(pos), static_cast<std::size_t>(length)));
        }
    }
    pos += length;
  }
  out += '"';
  return out;
}

// ---------------------------------------------------------------------------------------------
// Types and registration

PyTypeObject* create_type(PyType_Spec& spec) {
  bool has_new = false;
  for (PyType_Slot* slot = spec.slots; slot->slot != 0; ++slot) {
    if (slot->slot == Py_tp_new) has_new = true;
  }
  spec.flags |= Py_TPFLAGS_DEFAULT;
  spec.flags &= ~static_cast<unsigned int>(Py_TPFLAGS_BASETYPE | Py_TPFLAGS_MANAGED_DICT |
                                           Py_TPFLAGS_HAVE_GC);
  if (!has_new) spec.flags |= Py_TPFLAGS_DISALLOW_INSTANTIATION;
  return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
}

int add_class(PyObject* module, PyTypeObject*& type, PyType_Spec& spec, const char* name) {
  if (type == nullptr) {
    type = create_type(spec);
    if (type == nullptr) return -1;
  }
  return add_to_module(module, name, reinterpret_cast<PyObject*>(type));
}

int add_to_module(PyObject* module, const char* name, PyObject* object) {
  Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    all = Ref::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
  }
  if (!PyList_Check(all.get())) {
    PyErr_SetString(PyExc_TypeError, "`__all__` must be a list");
    return -1;
  }
  Ref text = Ref::steal(PyUnicode_FromString(name));
  if (!text || PyList_Append(all.get(), text.get()) < 0) return -1;
  return PyModule_AddObjectRef(module, name, object);
}

}  // namespace tessary::py
