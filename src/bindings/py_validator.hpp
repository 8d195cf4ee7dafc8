#pragma once
// The Python classes Tessary, ValidationResult and ValidationDiagnostic.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tessary::py {

// Adds Tessary, ValidationResult and ValidationDiagnostic to the module, in this order.
// Returns 0, or -1 with a Python error set.
int add_validator_classes(PyObject* module);

}  // namespace tessary::py
