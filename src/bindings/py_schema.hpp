#pragma once
// The Python class Schema: a wrapper owning one core Schema, never changed after construction.
#include "bindings/py_common.hpp"
#include "schema.hpp"

namespace tessary::py {

using PySchema = Instance<Schema>;

// The Schema type object; null until `add_schema_class` has run.
PyTypeObject* schema_type();

// Creates the type (once per process) and adds it to the module as "Schema".
int add_schema_class(PyObject* module);

// The wrapper behind a Python Schema instance, or null with TypeError
// "'{}' object cannot be cast as 'Schema'" set (wrap it with `arg_error`). Take a SharedBorrow
// of `->borrow` while reading `->value`.
PySchema* to_schema(PyObject* object);

// A new Python Schema object holding `schema`. New reference, or null with an error set.
PyObject* new_schema_object(Schema schema);

// The three text renderings (py_render.cpp).
std::string render_prompt(const Schema& schema);
std::string render_markdown(const Schema& schema);
std::string render_cypher_context(const Schema& schema);

}  // namespace tessary::py
