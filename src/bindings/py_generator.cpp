// The Python class CypherGenerator over the core generator. Generating changes the random
// state, so `generate` and `generate_batch` take an exclusive borrow of the instance.
#include "bindings/py_generator.hpp"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <string>
#include <variant>
#include <vector>

#include "bindings/py_schema.hpp"
#include "generator/generator.hpp"

namespace tessary::py {
namespace {

PyTypeObject* g_generator_type = nullptr;  // created once, kept for the life of the process

constexpr Params kNewParams("CypherGenerator.__new__()", {"schema", "seed"}, 1);
constexpr Params kGenerateParams("CypherGenerator.generate()", {"query_type"}, 1);
constexpr Params kBatchParams("CypherGenerator.generate_batch()", {"query_type", "n"}, 2);

// generate_batch runs the signal handlers after every so many queries.
constexpr std::uint64_t kQueriesPerSignalCheck = 4096;

CypherGenerator& generator_of(PyObject* self) { return instance<CypherGenerator>(self)->value; }

PyObject* generator_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    const auto call_args = kNewParams.parse(args, kwargs);
    if (!call_args) return nullptr;
    const auto [schema_arg, seed_arg] = *call_args;
    PySchema* schema = to_schema(schema_arg);
    if (schema == nullptr) return arg_error(kNewParams.name(0));
    SharedBorrow borrow(schema->borrow);
    if (!borrow.ok()) return nullptr;
    auto seed = convert_arg(kNewParams, 1, seed_arg, to_optional_u64);
    if (!seed) return nullptr;
    // The generator keeps its own copy; later use of the Schema object changes nothing here.
    // Without a seed an entropy failure throws, which the entry wrapper reports as a panic.
    return new_instance(type, CypherGenerator(schema->value, *seed));
  });
}

PyObject* generator_generate(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                             PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto call_args = kGenerateParams.parse(args, nargs, kwnames);
    if (!call_args) return nullptr;
    const auto [query_type_arg] = *call_args;
    ExclusiveBorrow borrow(instance<CypherGenerator>(self)->borrow);
    if (!borrow.ok()) return nullptr;
    auto query_type = convert_arg(kGenerateParams, 0, query_type_arg, to_text);
    if (!query_type) return nullptr;
    auto query = generator_of(self).generate(*query_type);
    if (auto* error = std::get_if<CypherError>(&query)) {
      raise_value_error(*error);
      return nullptr;
    }
    return new_text(std::get<std::string>(query)).release();
  });
}

PyObject* generator_generate_batch(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                                   PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto call_args = kBatchParams.parse(args, nargs, kwnames);
    if (!call_args) return nullptr;
    const auto [query_type_arg, n_arg] = *call_args;
    ExclusiveBorrow borrow(instance<CypherGenerator>(self)->borrow);
    if (!borrow.ok()) return nullptr;
    auto query_type = convert_arg(kBatchParams, 0, query_type_arg, to_text);
    if (!query_type) return nullptr;
    auto n = convert_arg(kBatchParams, 1, n_arg, to_u64);
    if (!n) return nullptr;

    // Room for the n results is reserved before anything is generated: a count that cannot be
    // expressed in the address space is an internal failure, one that memory cannot hold a
    // MemoryError; neither touches the random state.
    std::vector<std::string> queries;
    constexpr auto kMaxCount =
        static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max()) /
        sizeof(std::string);
    if (*n > kMaxCount || *n > queries.max_size()) {
      raise_panic("capacity overflow");
      return nullptr;
    }
    try {
      queries.reserve(static_cast<std::size_t>(*n));
    } catch (const std::bad_alloc&) {
      return PyErr_NoMemory();
    }

    CypherGenerator& generator = generator_of(self);
    for (std::uint64_t i = 0; i < *n; ++i) {
      // The loop holds the interpreter lock: signal handlers (Ctrl-C) run now and then.
      if (i % kQueriesPerSignalCheck == kQueriesPerSignalCheck - 1 && PyErr_CheckSignals() < 0) {
        return nullptr;
      }
      auto query = generator.generate(*query_type);
      if (auto* error = std::get_if<CypherError>(&query)) {
        raise_value_error(*error);
        return nullptr;
      }
      queries.push_back(std::get<std::string>(std::move(query)));
    }
    return new_text_list(queries).release();
  });
}

PyObject* generator_supported_types(PyObject* /*unused*/, PyObject* /*unused*/) {
  return guarded(
      []() -> PyObject* { return new_text_list(CypherGenerator::kQueryTypes).release(); });
}

PyObject* generator_repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    SharedBorrow borrow(instance<CypherGenerator>(self)->borrow);
    if (!borrow.ok()) return nullptr;
    return new_text("CypherGenerator()").release();
  });
}

constexpr const char kGenerateBatchDoc[] =
    "generate_batch($self, query_type, n)\n--\n\n"
    "Generate *n* queries of the given type in a single call.\n"
    "\n"
    "Equivalent to calling ``generate`` *n* times, while avoiding the per-call overhead.\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "query_type : str\n"
    "    One of the types returned by ``supported_types()``.\n"
    "n : int\n"
    "    Number of queries to generate.\n"
    "\n"
    "Returns\n"
    "-------\n"
    "list[str]\n"
    "    The generated query strings.\n"
    "\n"
    "Raises\n"
    "------\n"
    "ValueError\n"
    "    If *query_type* is not supported.\n";

PyMethodDef g_generator_methods[] = {
    {"generate", as_method(generator_generate), METH_FASTCALL | METH_KEYWORDS,
     "generate($self, query_type)\n--\n\n"},
    {"generate_batch", as_method(generator_generate_batch), METH_FASTCALL | METH_KEYWORDS,
     kGenerateBatchDoc},
    {"supported_types", generator_supported_types, METH_NOARGS | METH_STATIC,
     "supported_types()\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot g_generator_slots[] = {
    {Py_tp_doc, const_cast<char*>("CypherGenerator(schema, seed=None)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(generator_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_instance<CypherGenerator>)},
    {Py_tp_repr, reinterpret_cast<void*>(generator_repr)},
    {Py_tp_methods, g_generator_methods},
    {0, nullptr},
};

PyType_Spec g_generator_spec =
    instance_spec<CypherGenerator>("builtins.CypherGenerator", g_generator_slots);

}  // namespace

int add_generator_class(PyObject* module) {
  return add_class(module, g_generator_type, g_generator_spec, "CypherGenerator");
}

}  // namespace tessary::py
