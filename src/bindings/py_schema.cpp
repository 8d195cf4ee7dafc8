// The Python class Schema: construction from dicts, dict and JSON forms, merge and lookups.
#include "bindings/py_schema.hpp"

#include <string>
#include <string_view>
#include <variant>

namespace tessary::py {
namespace {

PyTypeObject* g_schema_type = nullptr;  // created once, kept for the life of the process

// ---------------------------------------------------------------------------------------------
// Building a schema from the two dicts of the dict form

PropertySet to_property_set(const std::vector<std::string>& names) {
  PropertySet set;
  for (const std::string& name : names) set.insert(name);
  return set;
}

// Walks `dict` calling `visit(key, value)` (both owned for the call) for each entry. A dict
// whose size or keys change meanwhile (only Python code run by a conversion can do that) stops
// the walk as an internal failure, since its remaining entries can no longer be trusted.
template <class Visit>
bool for_each_item(PyObject* dict, Visit&& visit) {
  const Py_ssize_t size = PyDict_GET_SIZE(dict);
  Py_ssize_t remaining = size;
  Py_ssize_t pos = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  while (PyDict_Next(dict, &pos, &key, &value)) {
    if (remaining == 0) {
      raise_panic("dictionary keys changed during iteration");
      return false;
    }
    --remaining;
    Ref owned_key = Ref::borrow(key);
    Ref owned_value = Ref::borrow(value);
    if (!visit(owned_key.get(), owned_value.get())) return false;
    if (PyDict_GET_SIZE(dict) != size) {
      raise_panic("dictionary changed size during iteration");
      return false;
    }
  }
  return true;
}

void raise_node_shape(std::string_view label) {
  raise(PyExc_TypeError,
        "Expected list[str] for node properties of label '" + std::string(label) + "'");
}

void raise_relationship_shape(std::string_view rel_type) {
  raise(PyExc_TypeError, "Expected (str, str, list[str]) for relationship '" +
                             std::string(rel_type) + "', e.g. ('Person', 'Movie', ['role'])");
}

// Fills `schema` from the nodes and relationships dicts; false with a Python error set.
bool build_schema(PyObject* nodes, PyObject* relationships, Schema& schema) {
  bool ok = for_each_item(nodes, [&](PyObject* key, PyObject* value) {
    auto label = to_text(key);
    if (!label) return false;
    auto names = to_text_list(value);
    if (!names) {
      PyErr_Clear();
      raise_node_shape(*label);
      return false;
    }
    schema.insert_node(*label, to_property_set(*names));
    return true;
  });
  if (!ok) return false;
  return for_each_item(relationships, [&](PyObject* key, PyObject* value) {
    auto rel_type = to_text(key);
    if (!rel_type) return false;
    std::optional<std::string_view> source;
    std::optional<std::string_view> target;
    std::optional<std::vector<std::string>> names;
    if (PyTuple_Check(value) && PyTuple_GET_SIZE(value) == 3) {
      source = to_text(PyTuple_GET_ITEM(value, 0));
      if (source) target = to_text(PyTuple_GET_ITEM(value, 1));
      if (target) names = to_text_list(PyTuple_GET_ITEM(value, 2));
    }
    if (!names) {
      PyErr_Clear();
      raise_relationship_shape(*rel_type);
      return false;
    }
    schema.insert_relationship(*rel_type, *source, *target, to_property_set(*names));
    return true;
  });
}

PyObject* wrap_schema(Schema schema) { return new_schema_object(std::move(schema)); }

// ---------------------------------------------------------------------------------------------
// Entry shapes

using NoArgBody = PyObject* (*)(const Schema&);
using TextArgBody = PyObject* (*)(const Schema&, std::string_view);

// A method without arguments reading the schema under a shared borrow.
template <NoArgBody Body>
PyObject* no_arg_method(PyObject* self, PyObject* /*unused*/) {
  return guarded([&]() -> PyObject* {
    SharedBorrow borrow(instance<Schema>(self)->borrow);
    if (!borrow.ok()) return nullptr;
    return Body(instance<Schema>(self)->value);
  });
}

// A method of one text parameter reading the schema under a shared borrow.
template <const Params<1>& P, TextArgBody Body>
PyObject* text_arg_method(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto call_args = P.parse(args, nargs, kwnames);
    if (!call_args) return nullptr;
    const auto [text_arg] = *call_args;
    SharedBorrow borrow(instance<Schema>(self)->borrow);
    if (!borrow.ok()) return nullptr;
    auto text = convert_arg(P, 0, text_arg, to_text);
    if (!text) return nullptr;
    return Body(instance<Schema>(self)->value, *text);
  });
}

// ---------------------------------------------------------------------------------------------
// Constructor and static constructors

constexpr Params kNewParams("Schema.__new__()", {"nodes", "relationships"}, 2);
constexpr Params kFromDictParams("Schema.from_dict()", {"d"}, 1);
constexpr Params kFromJsonParams("Schema.from_json()", {"json_str"}, 1);
constexpr Params kMergeParams("Schema.merge()", {"other"}, 1);
constexpr Params kHasNodeLabelParams("Schema.has_node_label()", {"label"}, 1);
constexpr Params kHasRelTypeParams("Schema.has_rel_type()", {"rel_type"}, 1);
constexpr Params kNodePropertiesParams("Schema.node_properties()", {"label"}, 1);
constexpr Params kRelPropertiesParams("Schema.rel_properties()", {"rel_type"}, 1);
constexpr Params kRelEndpointsParams("Schema.rel_endpoints()", {"rel_type"}, 1);

// A dict argument, or null with "argument '{name}': ..." set.
PyObject* dict_arg(const ParamList& params, std::size_t i, PyObject* object) {
  if (PyDict_Check(object)) return object;
  raise_cast_error(object, "dict");
  arg_error(params.name(i));
  return nullptr;
}

PyObject* schema_new(PyTypeObject* /*type*/, PyObject* args, PyObject* kwargs) {
  return guarded([&]() -> PyObject* {
    const auto call_args = kNewParams.parse(args, kwargs);
    if (!call_args) return nullptr;
    const auto [nodes_arg, relationships_arg] = *call_args;
    PyObject* nodes = dict_arg(kNewParams, 0, nodes_arg);
    if (nodes == nullptr) return nullptr;
    PyObject* relationships = dict_arg(kNewParams, 1, relationships_arg);
    if (relationships == nullptr) return nullptr;
    Schema schema;
    if (!build_schema(nodes, relationships, schema)) return nullptr;
    return wrap_schema(std::move(schema));
  });
}

// The value of `key` in `d`, which must be a dict; null with KeyError or TypeError set.
Ref required_dict_item(PyObject* d, const char* key) {
  Ref name = Ref::steal(PyUnicode_FromString(key));
  if (!name) return Ref();
  std::string quoted = "'";
  quoted += key;
  quoted += '\'';
  Ref item = Ref::borrow(PyDict_GetItemWithError(d, name.get()));
  if (!item) {
    if (!PyErr_Occurred()) raise(PyExc_KeyError, quoted + " key missing from dict");
    return Ref();
  }
  if (!PyDict_Check(item.get())) {
    raise(PyExc_TypeError, quoted + " must be a dict");
    return Ref();
  }
  return item;
}

PyObject* schema_from_dict(PyObject* /*cls*/, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto call_args = kFromDictParams.parse(args, nargs, kwnames);
    if (!call_args) return nullptr;
    const auto [d_arg] = *call_args;
    PyObject* d = dict_arg(kFromDictParams, 0, d_arg);
    if (d == nullptr) return nullptr;
    Ref nodes = required_dict_item(d, "nodes");
    if (!nodes) return nullptr;
    Ref relationships = required_dict_item(d, "relationships");
    if (!relationships) return nullptr;
    Schema schema;
    if (!build_schema(nodes.get(), relationships.get(), schema)) return nullptr;
    return wrap_schema(std::move(schema));
  });
}

PyObject* schema_from_json(PyObject* /*cls*/, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto call_args = kFromJsonParams.parse(args, nargs, kwnames);
    if (!call_args) return nullptr;
    const auto [json_arg] = *call_args;
    auto text = convert_arg(kFromJsonParams, 0, json_arg, to_text);
    if (!text) return nullptr;
    auto parsed = Schema::deserialize(*text);
    if (auto* error = std::get_if<SchemaJsonError>(&parsed)) {
      raise(PyExc_ValueError, "Invalid Schema JSON: " + error->message);
      return nullptr;
    }
    return wrap_schema(std::get<Schema>(std::move(parsed)));
  });
}

// ---------------------------------------------------------------------------------------------
// Lookups and exports

PyObject* node_labels_body(const Schema& schema) {
  return new_text_list(schema.node_labels()).release();
}

PyObject* rel_types_body(const Schema& schema) {
  return new_text_list(schema.rel_types()).release();
}

PyObject* has_node_label_body(const Schema& schema, std::string_view label) {
  return new_bool(schema.has_node_label(label)).release();
}

PyObject* has_rel_type_body(const Schema& schema, std::string_view rel_type) {
  return new_bool(schema.has_rel_type(rel_type)).release();
}

PyObject* node_properties_body(const Schema& schema, std::string_view label) {
  return new_text_list(schema.node_properties(label)).release();
}

PyObject* rel_properties_body(const Schema& schema, std::string_view rel_type) {
  return new_text_list(schema.rel_properties(rel_type)).release();
}

PyObject* rel_endpoints_body(const Schema& schema, std::string_view rel_type) {
  auto endpoints = schema.rel_src_tgt(rel_type);
  if (!endpoints) return Py_NewRef(Py_None);
  Ref source = new_text(endpoints->first);
  if (!source) return nullptr;
  Ref target = new_text(endpoints->second);
  if (!target) return nullptr;
  return PyTuple_Pack(2, source.get(), target.get());
}

PyObject* to_dict_body(const Schema& schema) {
  Ref result = Ref::steal(PyDict_New());
  Ref nodes = Ref::steal(PyDict_New());
  if (!result || !nodes) return nullptr;
  for (std::string_view label : schema.node_labels()) {
    Ref key = new_text(label);
    Ref properties = new_text_list(schema.node_properties(label));
    if (!key || !properties || PyDict_SetItem(nodes.get(), key.get(), properties.get()) < 0) {
      return nullptr;
    }
  }
  if (PyDict_SetItemString(result.get(), "nodes", nodes.get()) < 0) return nullptr;
  Ref relationships = Ref::steal(PyDict_New());
  if (!relationships) return nullptr;
  for (std::string_view rel_type : schema.rel_types()) {
    auto endpoints = schema.rel_src_tgt(rel_type);
    if (!endpoints) continue;  // every declared type has its endpoints
    Ref key = new_text(rel_type);
    Ref source = new_text(endpoints->first);
    Ref target = new_text(endpoints->second);
    Ref properties = new_text_list(schema.rel_properties(rel_type));
    if (!key || !source || !target || !properties) return nullptr;
    Ref value = Ref::steal(PyTuple_Pack(3, source.get(), target.get(), properties.get()));
    if (!value || PyDict_SetItem(relationships.get(), key.get(), value.get()) < 0) return nullptr;
  }
  if (PyDict_SetItemString(result.get(), "relationships", relationships.get()) < 0) {
    return nullptr;
  }
  return result.release();
}

PyObject* to_json_body(const Schema& schema) { return new_text(schema.serialize()).release(); }

PyObject* to_prompt_body(const Schema& schema) { return new_text(render_prompt(schema)).release(); }
PyObject* to_markdown_body(const Schema& schema) {
  return new_text(render_markdown(schema)).release();
}
PyObject* to_cypher_context_body(const Schema& schema) {
  return new_text(render_cypher_context(schema)).release();
}

// The union of two schemas; the receiver's endpoints win for a type declared in both.
Schema merged(const Schema& receiver, const Schema& other) {
  Schema result = receiver;
  for (const auto& [label, properties] : other.nodes) {
    if (PropertySet* existing = result.node_entry(label)) {
      for (const std::string& name : properties) existing->insert(name);
    } else {
      result.insert_node(label, properties);
    }
  }
  for (const auto& [rel_type, def] : other.relationships) {
    if (RelationshipDef* existing = result.rel_entry(rel_type)) {
      for (const std::string& name : def.properties) existing->properties.insert(name);
    } else {
      result.insert_relationship(rel_type, def.source, def.target, def.properties);
    }
  }
  return result;
}

PyObject* schema_merge(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto call_args = kMergeParams.parse(args, nargs, kwnames);
    if (!call_args) return nullptr;
    const auto [other_arg] = *call_args;
    PySchema* other = to_schema(other_arg);
    if (other == nullptr) return arg_error(kMergeParams.name(0));
    SharedBorrow own_borrow(instance<Schema>(self)->borrow);
    if (!own_borrow.ok()) return nullptr;
    SharedBorrow other_borrow(other->borrow);
    if (!other_borrow.ok()) return nullptr;
    return wrap_schema(merged(instance<Schema>(self)->value, other->value));
  });
}

PyObject* schema_repr(PyObject* self) {
  return guarded([&]() -> PyObject* {
    SharedBorrow borrow(instance<Schema>(self)->borrow);
    if (!borrow.ok()) return nullptr;
    const Schema& schema = instance<Schema>(self)->value;
    std::string text = "Schema(nodes=" + repr_text_list(schema.node_labels()) +
                       ", relationships=" + repr_text_list(schema.rel_types()) + ")";
    return new_text(text).release();
  });
}

// ---------------------------------------------------------------------------------------------
// The type

constexpr const char kFromDictDoc[] =
    "from_dict(d)\n--\n\n"
    "Create a Schema from a plain Python dict (e.g. previously exported with ``to_dict()``).\n"
    "\n"
    "Example::\n"
    "\n"
    "    d = {\n"
    "        \"nodes\": {\"Person\": [\"name\", \"age\"], \"Movie\": [\"title\"]},\n"
    "        \"relationships\": {\"ACTED_IN\": (\"Person\", \"Movie\", [\"role\"])},\n"
    "    }\n"
    "    schema = Schema.from_dict(d)\n";

constexpr const char kFromJsonDoc[] =
    "from_json(json_str)\n--\n\n"
    "Deserialise a Schema from a JSON string produced by ``to_json()``.\n"
    "\n"
    "Example::\n"
    "\n"
    "    json_str = schema.to_json()\n"
    "    restored = Schema.from_json(json_str)\n";

constexpr const char kToJsonDoc[] =
    "to_json($self)\n--\n\n"
    "Serialise the schema to a JSON string.\n"
    "\n"
    "The result can be stored, transmitted and later restored via ``Schema.from_json()``.\n"
    "\n"
    "Example::\n"
    "\n"
    "    json_str = schema.to_json()\n"
    "    restored = Schema.from_json(json_str)\n"
    "    assert restored.node_labels() == schema.node_labels()\n";

constexpr const char kMergeDoc[] =
    "merge($self, other)\n--\n\n"
    "Return a new Schema that is the union of *self* and *other*.\n"
    "\n"
    "- Node labels and relationship types from both schemas are combined.\n"
    "- For a label or relationship type present in both, the property sets are merged\n"
    "  (union), so no declared property is lost.\n"
    "- For a relationship type present in both, the source and target labels of *self*\n"
    "  are kept.\n"
    "\n"
    "Example::\n"
    "\n"
    "    a = Schema({\"Person\": [\"name\"]}, {\"KNOWS\": (\"Person\", \"Person\", [])})\n"
    "    b = Schema({\"Movie\": [\"title\"]}, {\"ACTED_IN\": (\"Person\", \"Movie\", "
    "[\"role\"])})\n"
    "    merged = a.merge(b)\n"
    "    # merged has Person, Movie, KNOWS and ACTED_IN\n";

constexpr const char kToPromptDoc[] =
    "to_prompt($self)\n--\n\n"
    "Return a human-readable, LLM-friendly representation of the schema.\n"
    "\n"
    "Suitable for injecting into a language model's system prompt to tell the model which\n"
    "labels, relationship types and properties exist in the graph.\n"
    "\n"
    "Example output::\n"
    "\n"
    "    Graph Schema\n"
    "    ============\n"
    "\n"
    "    Nodes\n"
    "    -----\n"
    "      :Movie                       title\n"
    "      :Person                      age, name\n"
    "\n"
    "    Relationships\n"
    "    -------------\n"
    "      :ACTED_IN                    (Person)-->(Movie)   role\n";

constexpr const char kToMarkdownDoc[] =
    "to_markdown($self)\n--\n\n"
    "Return the schema formatted as a Markdown table.\n"
    "\n"
    "Useful for language-model contexts that render Markdown, for documentation or README\n"
    "sections.\n"
    "\n"
    "Example output (beginning)::\n"
    "\n"
    "    ### Nodes\n"
    "\n"
    "    | Label | Properties |\n"
    "    |---|---|\n"
    "    | :Movie | title |\n"
    "    | :Person | age, name |\n";

constexpr const char kToCypherContextDoc[] =
    "to_cypher_context($self)\n--\n\n"
    "Return the schema as inline Cypher patterns.\n"
    "\n"
    "This format is often the most natural for language models that already know Cypher,\n"
    "since it mirrors the query syntax they will generate.\n"
    "\n"
    "Example output::\n"
    "\n"
    "    // Node labels and their properties\n"
    "    (:Movie {title})\n"
    "    (:Person {age, name})\n"
    "\n"
    "    // Relationship types\n"
    "    (:Person)-[:ACTED_IN {role}]->(:Movie)\n";

PyMethodDef g_schema_methods[] = {
    {"from_dict", as_method(schema_from_dict), METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     kFromDictDoc},
    {"from_json", as_method(schema_from_json), METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     kFromJsonDoc},
    {"node_labels", no_arg_method<node_labels_body>, METH_NOARGS, "node_labels($self)\n--\n\n"},
    {"rel_types", no_arg_method<rel_types_body>, METH_NOARGS, "rel_types($self)\n--\n\n"},
    {"has_node_label", as_method(text_arg_method<kHasNodeLabelParams, has_node_label_body>),
     METH_FASTCALL | METH_KEYWORDS, "has_node_label($self, label)\n--\n\n"},
    {"has_rel_type", as_method(text_arg_method<kHasRelTypeParams, has_rel_type_body>),
     METH_FASTCALL | METH_KEYWORDS, "has_rel_type($self, rel_type)\n--\n\n"},
    {"node_properties", as_method(text_arg_method<kNodePropertiesParams, node_properties_body>),
     METH_FASTCALL | METH_KEYWORDS,
     "node_properties($self, label)\n--\n\nReturn the list of properties declared for a node "
     "label."},
    {"rel_properties", as_method(text_arg_method<kRelPropertiesParams, rel_properties_body>),
     METH_FASTCALL | METH_KEYWORDS,
     "rel_properties($self, rel_type)\n--\n\nReturn the list of properties declared for a "
     "relationship type."},
    {"rel_endpoints", as_method(text_arg_method<kRelEndpointsParams, rel_endpoints_body>),
     METH_FASTCALL | METH_KEYWORDS,
     "rel_endpoints($self, rel_type)\n--\n\nReturn `(src_label, tgt_label)` for a relationship "
     "type, or None if unknown."},
    {"to_dict", no_arg_method<to_dict_body>, METH_NOARGS,
     "to_dict($self)\n--\n\nExport the schema as a plain Python dict compatible with the Schema "
     "constructor."},
    {"to_json", no_arg_method<to_json_body>, METH_NOARGS, kToJsonDoc},
    {"merge", as_method(schema_merge), METH_FASTCALL | METH_KEYWORDS, kMergeDoc},
    {"to_prompt", no_arg_method<to_prompt_body>, METH_NOARGS, kToPromptDoc},
    {"to_markdown", no_arg_method<to_markdown_body>, METH_NOARGS, kToMarkdownDoc},
    {"to_cypher_context", no_arg_method<to_cypher_context_body>, METH_NOARGS, kToCypherContextDoc},
    {nullptr, nullptr, 0, nullptr},
};

PyType_Slot g_schema_slots[] = {
    {Py_tp_doc, const_cast<char*>("Schema(nodes, relationships)\n--\n\n")},
    {Py_tp_new, reinterpret_cast<void*>(schema_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_instance<Schema>)},
    {Py_tp_repr, reinterpret_cast<void*>(schema_repr)},
    {Py_tp_methods, g_schema_methods},
    {0, nullptr},
};

PyType_Spec g_schema_spec = instance_spec<Schema>("builtins.Schema", g_schema_slots);

}  // namespace

PyTypeObject* schema_type() { return g_schema_type; }

int add_schema_class(PyObject* module) {
  return add_class(module, g_schema_type, g_schema_spec, "Schema");
}

PySchema* to_schema(PyObject* object) {
  return to_instance<Schema>(object, g_schema_type, "Schema");
}

PyObject* new_schema_object(Schema schema) {
  if (g_schema_type == nullptr) {
    PyErr_SetString(PyExc_RuntimeError, "the Schema type is not initialised");
    return nullptr;
  }
  return new_instance(g_schema_type, std::move(schema));
}

}  // namespace tessary::py
