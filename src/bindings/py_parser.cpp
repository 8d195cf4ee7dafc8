// The class QueryInfo and the module function parse_query.
#include "bindings/py_parser.hpp"

#include <string>
#include <vector>

#include "bindings/py_common.hpp"
#include "bindings/py_reader.hpp"
#include "parser/summary.hpp"

namespace tessary::py {

namespace {

PyTypeObject* g_query_info_type = nullptr;

int info_bool(PyObject* self) {
  return read_truth<QuerySummary>(self, [](const QuerySummary& q) { return q.is_valid; });
}

PyObject* info_repr(PyObject* self) {
  return read_object<QuerySummary>(self, [](const QuerySummary& q) {
    std::string text = "QueryInfo(is_valid=";
    text += q.is_valid ? "true" : "false";
    text += ", labels=" + repr_text_list(q.labels_used);
    text += ", rel_types=" + repr_text_list(q.rel_types_used);
    text += ", properties=" + repr_text_list(q.properties_used);
    text += ", errors=" + repr_text_list(q.errors);
    text += ")";
    return new_text(text).release();
  });
}

PyGetSetDef info_getset[] = {
    {"is_valid", get_bool<QuerySummary, &QuerySummary::is_valid>, nullptr,
     "True if the query is syntactically valid.", nullptr},
    {"errors", get_text_list<QuerySummary, &QuerySummary::errors>, nullptr,
     "Syntax error messages (empty if valid).", nullptr},
    {"labels_used", get_text_list<QuerySummary, &QuerySummary::labels_used>, nullptr,
     "Node labels referenced in the query.", nullptr},
    {"rel_types_used", get_text_list<QuerySummary, &QuerySummary::rel_types_used>, nullptr,
     "Relationship types referenced in the query.", nullptr},
    {"properties_used", get_text_list<QuerySummary, &QuerySummary::properties_used>, nullptr,
     "Property keys accessed in the query (e.g. ``[\"name\", \"age\"]``).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot info_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc_instance<QuerySummary>)},
    {Py_tp_repr, reinterpret_cast<void*>(info_repr)},
    {Py_nb_bool, reinterpret_cast<void*>(info_bool)},
    {Py_tp_getset, info_getset},
    {Py_tp_doc, const_cast<char*>("Information extracted from a parsed query without a schema.")},
    {0, nullptr},
};

PyType_Spec info_spec = instance_spec<QuerySummary>("builtins.QueryInfo", info_slots);

constexpr Params kParseQueryParams("parse_query()", {"query"}, 1);

PyObject* parse_query(PyObject*, PyObject* const* args, Py_ssize_t nargsf, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    const auto call_args = kParseQueryParams.parse(args, nargsf, kwnames);
    if (!call_args) return nullptr;
    const auto [arg] = *call_args;
    auto query = convert_arg(kParseQueryParams, 0, arg, to_text);
    if (!query) return nullptr;
    return new_instance(g_query_info_type, summarize_query(*query));
  });
}

PyMethodDef parse_query_def = {
    "parse_query",
    as_method(parse_query),
    METH_FASTCALL | METH_KEYWORDS,
    "parse_query(query)\n--\n\n"
    "Parse a Cypher query and return structural information without requiring a schema.\n\n"
    "Example::\n\n"
    "    info = parse_query(\"MATCH (p:Person)-[:ACTED_IN]->(m:Movie) RETURN p.name\")\n"
    "    info.is_valid         # True\n"
    "    info.labels_used      # [\"Movie\", \"Person\"]\n"
    "    info.rel_types_used   # [\"ACTED_IN\"]\n"
    "    info.properties_used  # [\"name\"]\n",
};

}  // namespace

int add_parser_entries(PyObject* module) {
  return guarded_int([&]() -> int {
    if (add_class(module, g_query_info_type, info_spec, "QueryInfo") < 0) return -1;
    Ref name = Ref::steal(PyModule_GetNameObject(module));
    if (!name) return -1;
    Ref function = Ref::steal(PyCFunction_NewEx(&parse_query_def, nullptr, name.get()));
    if (!function) return -1;
    return add_to_module(module, "parse_query", function.get());
  });
}

}  // namespace tessary::py
