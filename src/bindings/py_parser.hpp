#pragma once
// The schema-free query summary for Python: the class QueryInfo and the function parse_query.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace tessary::py {

// Adds QueryInfo, then parse_query, to the module. Returns 0, or -1 with a Python error set.
int add_parser_entries(PyObject* module);

}  // namespace tessary::py
