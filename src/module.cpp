// The init entry of the extension module _tessary and the module body that registers its
// classes and functions.
#include <atomic>
#include <cstdint>

#include "bindings/py_common.hpp"
#include "bindings/py_schema.hpp"
#include "bindings/py_validator.hpp"
#include "bindings/py_generator.hpp"
#include "bindings/py_parser.hpp"

namespace tessary::py {
namespace {

PyModuleDef g_module_def = {
    PyModuleDef_HEAD_INIT,
    "_tessary",  // m_name
    "",          // m_doc
    0,           // m_size: no per-module state
    nullptr,     // m_methods: functions are added by the body
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The interpreter that first initialised the module (-1: none yet) and the module it got.
std::atomic<std::int64_t> g_initialised_interpreter{-1};
PyObject* g_module = nullptr;

// Adds the classes and functions in their fixed order; `__all__` ends up listing them so.
int module_body(PyObject* module) {
  if (add_schema_class(module) < 0) return -1;
  if (add_validator_classes(module) < 0)
    return -1;  // Tessary, ValidationResult, ValidationDiagnostic
  if (add_generator_class(module) < 0) return -1;
  if (add_parser_entries(module) < 0) return -1;  // QueryInfo, parse_query
  return 0;
}

PyObject* init_module() {
  PyInterpreterState* interpreter = PyInterpreterState_Get();
  const std::int64_t id = PyInterpreterState_GetID(interpreter);
  if (id == -1) return nullptr;
  std::int64_t expected = -1;
  if (!g_initialised_interpreter.compare_exchange_strong(expected, id) && expected != id) {
    PyErr_SetString(PyExc_ImportError,
                    "_tessary does not support sub-interpreters: it can only be imported in "
                    "the interpreter that first imported it");
    return nullptr;
  }
  if (g_module != nullptr) return Py_NewRef(g_module);
  Ref module = Ref::steal(PyModule_Create(&g_module_def));
  if (!module) return nullptr;
  if (module_body(module.get()) < 0) return nullptr;  // the partial module is dropped
  g_module = Py_NewRef(module.get());                 // kept for the life of the process
  return module.release();
}

}  // namespace
}  // namespace tessary::py

PyMODINIT_FUNC PyInit__tessary() {
  return tessary::py::guarded([] { return tessary::py::init_module(); });
}
