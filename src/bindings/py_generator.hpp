#pragma once
// The Python class CypherGenerator: random Cypher queries drawn from a schema.
#include "bindings/py_common.hpp"

namespace tessary::py {

// Creates the type (once per process) and adds it to the module as "CypherGenerator".
int add_generator_class(PyObject* module);

}  // namespace tessary::py
