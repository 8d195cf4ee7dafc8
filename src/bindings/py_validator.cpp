// The Python classes Tessary, ValidationResult and ValidationDiagnostic.
//
// A ValidationResult holds the core result unchanged, behind a pointer; diagnostics stay in their
// core form and become ValidationDiagnostic objects only when Python asks for them. Every getter
// builds new Python objects, so nothing a caller mutates reaches the result.
#include "bindings/py_validator.hpp"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <ranges>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "batch/pool.hpp"
#include "batch/result_store.hpp"
#include "bindings/py_common.hpp"
#include "bindings/py_reader.hpp"
#include "bindings/py_schema.hpp"
#include "diagnostics.hpp"
#include "schema.hpp"
#include "validator/validator.hpp"

namespace tessary::py {

namespace {

PyTypeObject* g_tessary_type = nullptr;
PyTypeObject* g_result_type = nullptr;
PyTypeObject* g_diagnostic_type = nullptr;

// The flattened Python view of one core diagnostic.
struct PyDiagnostic {
  std::string code;
  std::string code_name;
  std::string severity;
  std::string message;
  std::optional<std::string> suggestion_original;
  std::optional<std::string> suggestion_replacement;
  std::optional<std::string> suggestion_description;
  std::optional<std::uint32_t> position_line;
  std::optional<std::uint32_t> position_col;

  static PyDiagnostic from_core(const ValidationDiagnostic& d) {
    PyDiagnostic out;
    out.code = tessary::code_str(d.code);
    out.code_name = tessary::code_name(d.code);
    out.severity = tessary::severity_str(d.severity);
    out.message = d.message;
    if (d.suggestion) {
      out.suggestion_original = d.suggestion->original;
      out.suggestion_replacement = d.suggestion->replacement;
      out.suggestion_description = d.suggestion->description;
    }
    if (d.position) {
      out.position_line = d.position->line;
      out.position_col = d.position->column;
    }
    return out;
  }
};

Ref new_optional_u32(const std::optional<std::uint32_t>& value) {
  if (!value) return Ref::borrow(Py_None);
  return Ref::steal(PyLong_FromUnsignedLong(*value));
}

// Sets d[key] = value, consuming value. False with an error set.
bool set_item(PyObject* dict, const char* key, Ref value) {
  return value && PyDict_SetItemString(dict, key, value.get()) == 0;
}

// The dict of one diagnostic: all nine keys in a fixed order, None for absent values.
Ref diagnostic_dict(const PyDiagnostic& d) {
  Ref dict = Ref::steal(PyDict_New());
  if (!dict) return dict;
  if (!set_item(dict.get(), "code", new_text(d.code)) ||
      !set_item(dict.get(), "code_name", new_text(d.code_name)) ||
      !set_item(dict.get(), "severity", new_text(d.severity)) ||
      !set_item(dict.get(), "message", new_text(d.message)) ||
      !set_item(dict.get(), "suggestion_original", new_optional_text(d.suggestion_original)) ||
      !set_item(dict.get(), "suggestion_replacement",
                new_optional_text(d.suggestion_replacement)) ||
      !set_item(dict.get(), "suggestion_description",
                new_optional_text(d.suggestion_description)) ||
      !set_item(dict.get(), "position_line", new_optional_u32(d.position_line)) ||
      !set_item(dict.get(), "position_col", new_optional_u32(d.position_col))) {
    return Ref();
  }
  return dict;
}

using batch::ResultBox;

// The value of a ValidationResult object: one core result, never null. Wrapping a result is a
// pointer move, and the object itself stays small.
struct PyResult {
  ResultBox result;
};

// Runs body(result) on the core result of a ValidationResult object: read_object for the value
// behind the box.
template <class Body>
PyObject* read_result(PyObject* self, Body&& body) noexcept {
  return read_object<PyResult>(self, [&](const PyResult& r) { return body(*r.result); });
}

// tp_dealloc of ValidationResult. The object of a batch's result lives in the result's slot,
// in the batch's block (see new_batch_result_object), and goes with the result. Once the batch
// results freed so far add up to enough memory, the heaps' free memory goes back to the
// system, with the interpreter lock released meanwhile so that other Python threads go on.
void result_dealloc(PyObject* self) noexcept {
  ResultBox& held = instance<PyResult>(self)->value.result;
  if (!held.get_deleter().in_batch()) {
    // The result of a single validation, in the object's own allocation.
    dealloc_instance<PyResult>(self);
  } else {
    PyTypeObject* type = Py_TYPE(self);
    // Out of the object first: freeing the last result of a batch unmaps its block, this
    // object included.
    ResultBox result = std::move(held);
    instance<PyResult>(self)->value.~PyResult();
    Py_DECREF(type);
    result.reset();
  }
  if (batch::hand_back_due()) {
    ReleasedGil unlocked;
    batch::give_back_free_memory();
  }
}

// A single validation's result and its object share one allocation of the interpreter's: the
// result is built after the object's own bytes, and goes with the object (the type's tp_free
// frees the whole).
constexpr std::size_t kResultOffset = (sizeof(Instance<PyResult>) + alignof(ValidationResult) - 1) /
                                      alignof(ValidationResult) * alignof(ValidationResult);
static_assert(alignof(ValidationResult) <= alignof(std::max_align_t));

Ref new_result_object(const Tessary& validator, std::string_view query) {
  void* memory = PyObject_Malloc(kResultOffset + sizeof(ValidationResult));
  if (memory == nullptr) return Ref::steal(PyErr_NoMemory());
  try {
    ResultBox result = batch::build_result(static_cast<unsigned char*>(memory) + kResultOffset,
                                           [&] { return validator.validate(query); });
    return Ref::steal(new_instance_in(memory, g_result_type, PyResult{std::move(result)}));
  } catch (...) {
    PyObject_Free(memory);
    throw;
  }
}

// The object of result i of a batch, built in the extra room of its slot: a batch's objects
// then take no allocations of their own (nor page faults for fresh memory on the calling
// thread, with the interpreter lock held), and their memory goes back with the batch's block.
Ref new_batch_result_object(batch::ResultSlots& slots, std::size_t i) {
  return Ref::steal(new_instance_in(slots.extra(i), g_result_type, PyResult{slots.take(i)}));
}

// ---------------------------------------------------------------------------------------------
// JSON form of a result: compact, keys in ascending byte order, absent optional keys left out.

void append_string_array(std::string& out, const MessageList& items) {
  out += '[';
  bool first = true;
  for (const std::string& item : items) {
    if (!first) out += ',';
    first = false;
    append_json_string(out, item);
  }
  out += ']';
}

void append_key(std::string& out, const char* key) {
  out += '"';
  out += key;
  out += "\":";
}

void append_diagnostic_json(std::string& out, const ValidationDiagnostic& d) {
  out += '{';
  append_key(out, "code");
  append_json_string(out, code_str(d.code));
  out += ',';
  append_key(out, "code_name");
  append_json_string(out, code_name(d.code));
  out += ',';
  append_key(out, "message");
  append_json_string(out, d.message);
  if (d.position) {
    out += ',';
    append_key(out, "position_col");
    out += std::to_string(d.position->column);
    out += ',';
    append_key(out, "position_line");
    out += std::to_string(d.position->line);
  }
  out += ',';
  append_key(out, "severity");
  append_json_string(out, severity_str(d.severity));
  if (d.suggestion) {
    out += ',';
    append_key(out, "suggestion_description");
    append_json_string(out, d.suggestion->description);
    out += ',';
    append_key(out, "suggestion_original");
    append_json_string(out, d.suggestion->original);
    out += ',';
    append_key(out, "suggestion_replacement");
    append_json_string(out, d.suggestion->replacement);
  }
  out += '}';
}

std::string result_json(const ValidationResult& r) {
  std::string out = "{";
  append_key(out, "diagnostics");
  out += '[';
  for (std::size_t i = 0; i < r.diagnostics.size(); ++i) {
    if (i != 0) out += ',';
    append_diagnostic_json(out, r.diagnostics[i]);
  }
  out += "],";
  append_key(out, "errors");
  append_string_array(out, r.messages(MessageKind::Errors));
  out += ',';
  append_key(out, "fixed_query");
  if (r.fixed_query) {
    append_json_string(out, *r.fixed_query);
  } else {
    out += "null";
  }
  out += ',';
  append_key(out, "is_valid");
  out += r.is_valid ? "true" : "false";
  out += ',';
  append_key(out, "semantic_errors");
  append_string_array(out, r.messages(MessageKind::SemanticErrors));
  out += ',';
  append_key(out, "syntax_errors");
  append_string_array(out, r.messages(MessageKind::SyntaxErrors));
  out += ',';
  append_key(out, "warnings");
  append_string_array(out, r.messages(MessageKind::Warnings));
  out += '}';
  return out;
}

// ---------------------------------------------------------------------------------------------
// ValidationDiagnostic

template <std::string PyDiagnostic::*Field>
PyObject* diagnostic_text(PyObject* self, void*) {
  return read_object<PyDiagnostic>(
      self, [](const PyDiagnostic& d) { return new_text(d.*Field).release(); });
}

template <std::optional<std::string> PyDiagnostic::*Field>
PyObject* diagnostic_optional_text(PyObject* self, void*) {
  return read_object<PyDiagnostic>(
      self, [](const PyDiagnostic& d) { return new_optional_text(d.*Field).release(); });
}

template <std::optional<std::uint32_t> PyDiagnostic::*Field>
PyObject* diagnostic_optional_u32(PyObject* self, void*) {
  return read_object<PyDiagnostic>(
      self, [](const PyDiagnostic& d) { return new_optional_u32(d.*Field).release(); });
}

PyObject* diagnostic_to_dict(PyObject* self, PyObject*) {
  return read_object<PyDiagnostic>(
      self, [](const PyDiagnostic& d) { return diagnostic_dict(d).release(); });
}

PyObject* diagnostic_repr(PyObject* self) {
  return read_object<PyDiagnostic>(self, [](const PyDiagnostic& d) {
    std::string text = "ValidationDiagnostic(code='" + d.code + "', severity='" + d.severity +
                       "', message='" + d.message + "'";
    if (d.suggestion_replacement) text += ", suggestion='" + *d.suggestion_replacement + "'";
    text += ")";
    return new_text(text).release();
  });
}

PyGetSetDef diagnostic_getset[] = {
    {"code", diagnostic_text<&PyDiagnostic::code>, nullptr, "Short error code (e.g. \"E201\").",
     nullptr},
    {"code_name", diagnostic_text<&PyDiagnostic::code_name>, nullptr,
     "Human-readable code name (e.g. \"UnknownNodeLabel\").", nullptr},
    {"severity", diagnostic_text<&PyDiagnostic::severity>, nullptr, "\"error\" or \"warning\".",
     nullptr},
    {"message", diagnostic_text<&PyDiagnostic::message>, nullptr, "Full human-readable message.",
     nullptr},
    {"suggestion_original", diagnostic_optional_text<&PyDiagnostic::suggestion_original>, nullptr,
     "Original text fragment to replace, or None.", nullptr},
    {"suggestion_replacement", diagnostic_optional_text<&PyDiagnostic::suggestion_replacement>,
     nullptr, "Suggested replacement text, or None.", nullptr},
    {"suggestion_description", diagnostic_optional_text<&PyDiagnostic::suggestion_description>,
     nullptr, "Human-readable description of the suggestion, or None.", nullptr},
    {"position_line", diagnostic_optional_u32<&PyDiagnostic::position_line>, nullptr,
     "1-based line number (parse errors only), or None.", nullptr},
    {"position_col", diagnostic_optional_u32<&PyDiagnostic::position_col>, nullptr,
     "1-based column number (parse errors only), or None.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef diagnostic_methods[] = {
    {"to_dict", diagnostic_to_dict, METH_NOARGS, "to_dict($self)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot diagnostic_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_instance<PyDiagnostic>)},
    {Py_tp_repr, reinterpret_cast<void*>(diagnostic_repr)},
    {Py_tp_getset, diagnostic_getset},
    {Py_tp_methods, diagnostic_methods},
    {0, nullptr},
};

PyType_Spec diagnostic_spec =
    instance_spec<PyDiagnostic>("builtins.ValidationDiagnostic", diagnostic_slots);

// A new list of new ValidationDiagnostic objects, one per core diagnostic, in order.
Ref diagnostic_list(const std::vector<ValidationDiagnostic>& diagnostics) {
  return new_list(diagnostics, [](const ValidationDiagnostic& diagnostic) {
    return Ref::steal(new_instance(g_diagnostic_type, PyDiagnostic::from_core(diagnostic)));
  });
}

// ---------------------------------------------------------------------------------------------
// ValidationResult

PyObject* result_fixed_query(PyObject* self, void*) {
  return read_result(
      self, [](const ValidationResult& r) { return new_optional_text(r.fixed_query).release(); });
}

PyObject* result_diagnostics(PyObject* self, void*) {
  return read_result(
      self, [](const ValidationResult& r) { return diagnostic_list(r.diagnostics).release(); });
}

PyObject* result_to_dict(PyObject* self, PyObject*) {
  return read_result(self, [](const ValidationResult& r) -> PyObject* {
    Ref dict = Ref::steal(PyDict_New());
    if (!dict) return nullptr;
    if (!set_item(dict.get(), "is_valid", new_bool(r.is_valid)) ||
        !set_item(dict.get(), "errors", new_text_list(r.messages(MessageKind::Errors))) ||
        !set_item(dict.get(), "syntax_errors",
                  new_text_list(r.messages(MessageKind::SyntaxErrors))) ||
        !set_item(dict.get(), "semantic_errors",
                  new_text_list(r.messages(MessageKind::SemanticErrors))) ||
        !set_item(dict.get(), "warnings", new_text_list(r.messages(MessageKind::Warnings))) ||
        !set_item(dict.get(), "fixed_query", new_optional_text(r.fixed_query))) {
      return nullptr;
    }
    Ref list = new_list(r.diagnostics, [](const ValidationDiagnostic& diagnostic) {
      return diagnostic_dict(PyDiagnostic::from_core(diagnostic));
    });
    if (!list) return nullptr;
    if (!set_item(dict.get(), "diagnostics", std::move(list))) return nullptr;
    return dict.release();
  });
}

PyObject* result_to_json(PyObject* self, PyObject*) {
  return read_result(self,
                     [](const ValidationResult& r) { return new_text(result_json(r)).release(); });
}

PyObject* result_repr(PyObject* self) {
  return read_result(self, [](const ValidationResult& r) {
    std::string text = "ValidationResult(is_valid=";
    text += r.is_valid ? "true" : "false";
    text += ", errors=";
    text += repr_text_list(r.messages(MessageKind::Errors));
    text += ")";
    return new_text(text).release();
  });
}

PyObject* result_is_valid(PyObject* self, void*) {
  return read_result(self,
                     [](const ValidationResult& r) { return new_bool(r.is_valid).release(); });
}

template <MessageKind Kind>
PyObject* result_text_list(PyObject* self, void*) {
  return read_result(
      self, [](const ValidationResult& r) { return new_text_list(r.messages(Kind)).release(); });
}

int result_bool(PyObject* self) {
  return read_truth<PyResult>(self, [](const PyResult& r) { return r.result->is_valid; });
}

Py_ssize_t result_len(PyObject* self) {
  return read_len<PyResult>(
      self, [](const PyResult& r) { return r.result->messages(MessageKind::Errors).size(); });
}

PyGetSetDef result_getset[] = {
    {"is_valid", result_is_valid, nullptr, nullptr, nullptr},
    {"errors", result_text_list<MessageKind::Errors>, nullptr,
     "All errors (syntax + semantic) combined.", nullptr},
    {"syntax_errors", result_text_list<MessageKind::SyntaxErrors>, nullptr,
     "Parse/syntax errors only.", nullptr},
    {"semantic_errors", result_text_list<MessageKind::SemanticErrors>, nullptr,
     "Schema-level semantic errors only.", nullptr},
    {"warnings", result_text_list<MessageKind::Warnings>, nullptr,
     "Advisory warnings (not errors \u2014 query still runs, but may be slow or incorrect).",
     nullptr},
    {"fixed_query", result_fixed_query, nullptr,
     "Auto-corrected query when all errors are fixable, or None.", nullptr},
    {"diagnostics", result_diagnostics, nullptr,
     "Structured diagnostics with error codes, suggestions, and positions.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef result_methods[] = {
    {"to_dict", result_to_dict, METH_NOARGS,
     "to_dict($self)\n--\n\nReturn the result as a plain Python dict."},
    {"to_json", result_to_json, METH_NOARGS,
     "to_json($self)\n--\n\nReturn the result as a compact JSON string."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot result_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(result_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(result_repr)},
    {Py_nb_bool, reinterpret_cast<void*>(result_bool)},
    {Py_sq_length, reinterpret_cast<void*>(result_len)},
    {Py_tp_getset, result_getset},
    {Py_tp_methods, result_methods},
    {0, nullptr},
};

PyType_Spec result_spec = instance_spec<PyResult>("builtins.ValidationResult", result_slots);

// ---------------------------------------------------------------------------------------------
// Tessary

constexpr Params kNewParams("Tessary.__new__()", {"schema"}, 1);
constexpr Params kValidateParams("Tessary.validate()", {"query"}, 1);
constexpr Params kBatchParams("Tessary.validate_batch()", {"queries"}, 1);

PyObject* tessary_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    const auto call_args = kNewParams.parse(args, kwargs);
    if (!call_args) return nullptr;
    const auto [arg] = *call_args;
    PySchema* schema = to_schema(arg);
    if (schema == nullptr) return arg_error(kNewParams.name(0));
    SharedBorrow borrow(schema->borrow);
    if (!borrow.ok()) return nullptr;
    return new_instance(type, Tessary(schema->value));
  });
}

PyObject* tessary_schema(PyObject* self, void*) {
  return read_object<Tessary>(self, [](const Tessary& t) { return new_schema_object(t.schema()); });
}

PyObject* tessary_validate(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                           PyObject* kwnames) {
  return read_object<Tessary>(self, [&](const Tessary& validator) -> PyObject* {
    const auto call_args = kValidateParams.parse(args, nargsf, kwnames);
    if (!call_args) return nullptr;
    const auto [arg] = *call_args;
    auto query = convert_arg(kValidateParams, 0, arg, to_text);
    if (!query) return nullptr;
    return new_result_object(validator, *query).release();
  });
}

PyObject* tessary_validate_batch(PyObject* self, PyObject* const* args, Py_ssize_t nargsf,
                                 PyObject* kwnames) {
  return read_object<Tessary>(self, [&](const Tessary& validator) -> PyObject* {
    const auto call_args = kBatchParams.parse(args, nargsf, kwnames);
    if (!call_args) return nullptr;
    const auto [arg] = *call_args;
    // The texts stay where Python keeps them, each element held by a reference of our own (the
    // sequence itself may change meanwhile); they are read in place while the lock is released.
    auto queries = convert_arg(kBatchParams, 0, arg, to_borrowed_texts);
    if (!queries) return nullptr;
    const std::size_t count = queries->texts.size();

    // Signal handlers run on the main thread only; there the calling thread, working beside the
    // pool, runs them every so often, so that Ctrl-C stops a long batch.
    const bool runs_signal_handlers = _PyOS_IsMainThread() != 0;
    std::optional<batch::ResultSlots> slots(std::in_place, count, sizeof(Instance<PyResult>));
    bool complete = false;
    {
      // Re-takes the lock when the scope ends, also while a task's exception unwinds through
      // it; the entry wrapper then raises that exception (MemoryError for a failed allocation).
      ReleasedGil unlocked;
      std::function<bool()> poll;
      if (runs_signal_handlers) poll = [&unlocked] { return unlocked.run_signal_handlers(); };
      try {
        complete = pool::parallel_for(
            count,
            [&](std::size_t i) {
              // A slot already filled was done before a signal handler forked this process.
              if (slots->built(i)) return;
              slots->emplace(i, [&] { return validator.validate(queries->texts[i]); });
            },
            poll);
      } catch (...) {
        // Whatever the batch made goes before the lock is retaken.
        slots.reset();
        throw;
      }
      if (!complete) slots.reset();
    }
    if (!complete) return nullptr;  // a signal handler raised; its exception is set

    return new_list(std::views::iota(std::size_t{0}, count),
                    [&](std::size_t i) { return new_batch_result_object(*slots, i); })
        .release();
  });
}

PyObject* tessary_repr(PyObject* self) {
  return read_object<Tessary>(self, [](const Tessary&) { return new_text("Tessary()").release(); });
}

PyGetSetDef tessary_getset[] = {
    {"schema", tessary_schema, nullptr, "The schema this validator was constructed with.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef tessary_methods[] = {
    {"validate", as_method(tessary_validate), METH_FASTCALL | METH_KEYWORDS,
     "validate($self, query)\n--\n\n"},
    {"validate_batch", as_method(tessary_validate_batch), METH_FASTCALL | METH_KEYWORDS,
     "validate_batch($self, queries)\n--\n\n"
     "Validate multiple queries at once and return one ``ValidationResult`` per query.\n\n"
     "The queries are validated in parallel, and the GIL is released for the duration of the\n"
     "batch, so other Python threads (for example an asyncio event loop) are not blocked."},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot tessary_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(tessary_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_instance<Tessary>)},
    {Py_tp_repr, reinterpret_cast<void*>(tessary_repr)},
    {Py_tp_getset, tessary_getset},
    {Py_tp_methods, tessary_methods},
    {Py_tp_doc, const_cast<char*>("Tessary(schema)\n--\n\n")},
    {0, nullptr},
};

PyType_Spec tessary_spec = instance_spec<Tessary>("builtins.Tessary", tessary_slots);

}  // namespace

int add_validator_classes(PyObject* module) {
  return guarded_int([&]() -> int {
    if (add_class(module, g_tessary_type, tessary_spec, "Tessary") < 0 ||
        add_class(module, g_result_type, result_spec, "ValidationResult") < 0 ||
        add_class(module, g_diagnostic_type, diagnostic_spec, "ValidationDiagnostic") < 0) {
      return -1;
    }
    return 0;
  });
}

}  // namespace tessary::py
