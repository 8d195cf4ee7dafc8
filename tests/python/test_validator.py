"""Tessary, ValidationResult and ValidationDiagnostic: arguments, result shapes, renderings."""

import json
import pathlib
import subprocess
import sys
import textwrap

import pytest

import _tessary
from _tessary import Schema, Tessary, ValidationDiagnostic, ValidationResult
from repr_reference import repr_list

SCHEMA = Schema(
    {"Person": ["name", "age"], "Movie": ["title", "year"]},
    {"ACTED_IN": ("Person", "Movie", ["role"]), "KNOWS": ("Person", "Person", [])},
)

DIAGNOSTIC_KEYS = [
    "code", "code_name", "severity", "message", "suggestion_original",
    "suggestion_replacement", "suggestion_description", "position_line", "position_col",
]

# Grammar accepts it, but the tree would nest deeper than the builder allows.
TOO_DEEP = "RETURN " + "1 + " * 3100 + "1"


@pytest.fixture(scope="module")
def validator():
    return Tessary(SCHEMA)


# ---------------------------------------------------------------------------------------------
# Construction and arguments


@pytest.mark.parametrize("call, message", [
    (lambda: Tessary(), "Tessary.__new__() missing 1 required positional argument: 'schema'"),
    (lambda: Tessary(5), "argument 'schema': 'int' object cannot be cast as 'Schema'"),
    (lambda: Tessary({}), "argument 'schema': 'dict' object cannot be cast as 'Schema'"),
    (lambda: Tessary(SCHEMA, SCHEMA),
     "Tessary.__new__() takes 1 positional arguments but 2 were given"),
    (lambda: Tessary(schema=SCHEMA, other=1),
     "Tessary.__new__() got an unexpected keyword argument 'other'"),
    (lambda: Tessary(SCHEMA).validate(),
     "Tessary.validate() missing 1 required positional argument: 'query'"),
    (lambda: Tessary(SCHEMA).validate(5),
     "argument 'query': 'int' object cannot be cast as 'str'"),
    (lambda: Tessary(SCHEMA).validate(b"RETURN 1"),
     "argument 'query': 'bytes' object cannot be cast as 'str'"),
    (lambda: Tessary(SCHEMA).validate("RETURN 1", "RETURN 2"),
     "Tessary.validate() takes 1 positional arguments but 2 were given"),
    (lambda: Tessary(SCHEMA).validate("RETURN 1", query="RETURN 2"),
     "Tessary.validate() got multiple values for argument 'query'"),
    (lambda: Tessary(SCHEMA).validate(q="RETURN 1"),
     "Tessary.validate() got an unexpected keyword argument 'q'"),
    (lambda: Tessary(SCHEMA).validate_batch(),
     "Tessary.validate_batch() missing 1 required positional argument: 'queries'"),
])
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message


def test_query_by_keyword_equals_positional(validator):
    assert validator.validate(query="RETURN 1").to_dict() == validator.validate("RETURN 1").to_dict()
    assert validator.validate_batch(queries=["RETURN 1"])[0].to_dict() == \
        validator.validate("RETURN 1").to_dict()


def test_lone_surrogate_query_is_refused(validator):
    with pytest.raises(UnicodeEncodeError):
        validator.validate("RETURN '\ud800'")


@pytest.mark.parametrize("cls", [ValidationResult, ValidationDiagnostic])
def test_result_classes_cannot_be_created_from_python(cls):
    with pytest.raises(TypeError):
        cls()


@pytest.mark.parametrize("cls", [Tessary, ValidationResult, ValidationDiagnostic])
def test_classes_are_final(cls):
    with pytest.raises(TypeError):
        type("Derived", (cls,), {})


def test_class_identity():
    for cls in (Tessary, ValidationResult, ValidationDiagnostic):
        assert cls.__module__ == "builtins"
    assert [n for n in _tessary.__all__ if n in ("Tessary", "ValidationResult",
                                                "ValidationDiagnostic")] == \
        ["Tessary", "ValidationResult", "ValidationDiagnostic"]


def test_schema_getter_returns_a_fresh_copy(validator):
    first, second = validator.schema, validator.schema
    assert isinstance(first, Schema)
    assert first is not second
    assert first.to_dict() == SCHEMA.to_dict() == second.to_dict()


@pytest.mark.parametrize("schema", [SCHEMA, Schema({}, {})])
def test_tessary_repr(schema):
    assert repr(Tessary(schema)) == "Tessary()"


def test_objects_have_no_instance_dict(validator):
    result = validator.validate("RETURN 1")
    for obj in (validator, result):
        with pytest.raises(AttributeError):
            obj.extra = 1
    with pytest.raises(AttributeError):
        result.is_valid = False


# ---------------------------------------------------------------------------------------------
# Docstrings


@pytest.mark.parametrize("attr, doc", [
    ("errors", "All errors (syntax + semantic) combined."),
    ("syntax_errors", "Parse/syntax errors only."),
    ("semantic_errors", "Schema-level semantic errors only."),
    ("warnings",
     "Advisory warnings (not errors \u2014 query still runs, but may be slow or incorrect)."),
    ("fixed_query", "Auto-corrected query when all errors are fixable, or None."),
    ("diagnostics", "Structured diagnostics with error codes, suggestions, and positions."),
    ("is_valid", None),
])
def test_result_attribute_docs(attr, doc):
    assert getattr(ValidationResult, attr).__doc__ == doc


@pytest.mark.parametrize("attr, doc", [
    ("code", 'Short error code (e.g. "E201").'),
    ("code_name", 'Human-readable code name (e.g. "UnknownNodeLabel").'),
    ("severity", '"error" or "warning".'),
    ("message", "Full human-readable message."),
    ("suggestion_original", "Original text fragment to replace, or None."),
    ("suggestion_replacement", "Suggested replacement text, or None."),
    ("suggestion_description", "Human-readable description of the suggestion, or None."),
    ("position_line", "1-based line number (parse errors only), or None."),
    ("position_col", "1-based column number (parse errors only), or None."),
])
def test_diagnostic_attribute_docs(attr, doc):
    assert getattr(ValidationDiagnostic, attr).__doc__ == doc


@pytest.mark.parametrize("method, signature, doc_start", [
    (Tessary.validate, "($self, query)", None),
    (Tessary.validate_batch, "($self, queries)",
     "Validate multiple queries at once and return one ``ValidationResult`` per query."),
    (ValidationResult.to_dict, "($self)", "Return the result as a plain Python dict."),
    (ValidationResult.to_json, "($self)", "Return the result as a compact JSON string."),
    (ValidationDiagnostic.to_dict, "($self)", None),
])
def test_method_docs(method, signature, doc_start):
    assert method.__text_signature__ == signature
    if doc_start is None:
        assert not method.__doc__
    else:
        assert method.__doc__.startswith(doc_start)


def test_class_docs():
    assert Tessary.__text_signature__ == "(schema)"
    assert not Tessary.__doc__
    assert ValidationResult.__doc__ is None
    assert ValidationDiagnostic.__doc__ is None
    assert Tessary.schema.__doc__ == "The schema this validator was constructed with."
    assert "GIL" in Tessary.validate_batch.__doc__ or "lock" in Tessary.validate_batch.__doc__


# ---------------------------------------------------------------------------------------------
# Parse failures: one E101 finding, the rest empty


def test_grammar_error_shape(validator):
    result = validator.validate("")
    assert result.is_valid is False and not result and len(result) == 1
    assert result.errors == result.syntax_errors and len(result.errors) == 1
    assert result.semantic_errors == [] and result.warnings == []
    assert result.fixed_query is None
    (d,) = result.diagnostics
    assert (d.code, d.code_name, d.severity) == ("E101", "ParseError", "error")
    assert d.message == result.errors[0]
    assert (d.position_line, d.position_col) == (1, 1)
    assert d.suggestion_original is d.suggestion_replacement is d.suggestion_description is None
    assert d.to_dict() == {
        "code": "E101", "code_name": "ParseError", "severity": "error", "message": d.message,
        "suggestion_original": None, "suggestion_replacement": None,
        "suggestion_description": None, "position_line": 1, "position_col": 1,
    }
    (j,) = json.loads(result.to_json())["diagnostics"]
    assert list(j) == ["code", "code_name", "message", "position_col", "position_line",
                       "severity"]


def test_grammar_error_position_on_later_line(validator):
    result = validator.validate("MATCH (n:Person)\nRETURN n.name,")
    (d,) = result.diagnostics
    assert d.code == "E101" and d.position_line == 2
    assert d.position_col >= 1


def test_builder_error_has_no_position(validator):
    result = validator.validate(TOO_DEEP)
    assert result.is_valid is False
    (message,) = result.errors
    assert message.startswith("Parse error: ")
    assert result.syntax_errors == [message] and result.semantic_errors == []
    (d,) = result.diagnostics
    assert d.code == "E101" and d.position_line is None and d.position_col is None
    (j,) = json.loads(result.to_json())["diagnostics"]
    assert list(j) == ["code", "code_name", "message", "severity"]


# ---------------------------------------------------------------------------------------------
# Dict, JSON and repr forms


def test_valid_result_forms(validator):
    result = validator.validate("RETURN 1")
    assert result.is_valid is True and bool(result) and len(result) == 0
    assert repr(result) == "ValidationResult(is_valid=true, errors=[])"
    d = result.to_dict()
    assert list(d) == ["is_valid", "errors", "syntax_errors", "semantic_errors", "warnings",
                       "fixed_query", "diagnostics"]
    assert d == {"is_valid": True, "errors": [], "syntax_errors": [], "semantic_errors": [],
                 "warnings": [], "fixed_query": None, "diagnostics": []}
    assert result.to_json() == ('{"diagnostics":[],"errors":[],"fixed_query":null,'
                                '"is_valid":true,"semantic_errors":[],"syntax_errors":[],'
                                '"warnings":[]}')


def test_json_top_level_key_order(validator):
    for query in ("", "RETURN 1", "MATCH (n:Persn) RETURN n"):
        keys = list(json.loads(validator.validate(query).to_json()))
        assert keys == ["diagnostics", "errors", "fixed_query", "is_valid", "semantic_errors",
                        "syntax_errors", "warnings"]


@pytest.mark.parametrize("query", [
    "MATCH (n\u0001",          # a control character in the echoed source line
    "MATCH (n:\"Per\\son\"",   # quotes and backslashes
    "MATCH (n\t\r:P",          # tab and carriage return
    "MATCH (é\u0301",          # printable non-ASCII and a combining accent
])
def test_escaping_of_parse_error_texts(validator, query):
    result = validator.validate(query)
    assert not result.is_valid
    assert repr(result) == "ValidationResult(is_valid=false, errors=%s)" % repr_list(result.errors)
    # The JSON text round-trips through a standard reader and escapes as documented.
    data = json.loads(result.to_json())
    assert data["errors"] == result.errors
    text = result.to_json()
    assert "\u0001" not in text and "\t" not in text and "\n" not in text
    if "\u0001" in result.errors[0]:
        assert "\\u0001" in text
    if "é" in result.errors[0]:
        assert "é" in text  # non-ASCII is written as UTF-8, not escaped


def test_returned_objects_are_fresh(validator):
    result = validator.validate("")
    assert result.diagnostics is not result.diagnostics
    assert result.diagnostics[0] is not result.diagnostics[0]
    assert result.errors is not result.errors
    result.errors.append("x")
    result.to_dict()["errors"].append("y")
    assert len(result.errors) == 1


# ---------------------------------------------------------------------------------------------
# Semantic findings (the semantic pass)


@pytest.mark.parametrize("query, codes, errors, fixed", [
    ("MATCH (n:Persn) RETURN n", ["E201"],
     ["Unknown node label: :Persn, did you mean :Person?"], "MATCH (n:Person) RETURN n"),
    ("MATCH (n:Persn) RETURN n.nme", ["E201"],
     ["Unknown node label: :Persn, did you mean :Person?"], "MATCH (n:Person) RETURN n.nme"),
    ("MATCH (n:Persn), (m:Persn) WHERE n = m RETURN n", ["E201", "E201"],
     ["Unknown node label: :Persn, did you mean :Person?"] * 2,
     "MATCH (n:Person), (m:Person) WHERE n = m RETURN n"),
    ("MATCH (n:Person) RETURN n.nme", ["E303"],
     ["Unknown property 'nme' on variable 'n' with label :Person, did you mean .name?"],
     "MATCH (n:Person) RETURN n.name"),
    ("MATCH (n:Person) RETURN n.nme, m", ["E303", "E501"],
     ["Unknown property 'nme' on variable 'n' with label :Person, did you mean .name?",
      "Variable 'm' is not bound in this scope"], None),
    ("MATCH (a:Person)-[:ACTED_IM]->(m:Movie) RETURN a", ["E211"],
     ["Unknown relationship type: :ACTED_IM, did you mean :ACTED_IN?"],
     "MATCH (a:Person)-[:ACTED_IN]->(m:Movie) RETURN a"),
    ("MATCH (n:Zebra) RETURN n", ["E201"], ["Unknown node label: :Zebra"], None),
])
def test_semantic_findings(validator, query, codes, errors, fixed):
    result = validator.validate(query)
    assert [d.code for d in result.diagnostics if d.severity == "error"] == codes
    assert result.errors == errors == result.semantic_errors
    assert result.syntax_errors == []
    assert result.is_valid is False and len(result) == len(errors)
    assert result.fixed_query == fixed
    assert json.loads(result.to_json())["fixed_query"] == fixed


def test_suggestion_fields_and_forms(validator):
    result = validator.validate("MATCH (n:Persn) RETURN n")
    (d,) = [d for d in result.diagnostics if d.code == "E201"]
    assert (d.code_name, d.severity) == ("UnknownNodeLabel", "error")
    assert (d.suggestion_original, d.suggestion_replacement, d.suggestion_description) == \
        (":Persn", ":Person", "Replace :Persn with :Person")
    assert d.position_line is None and d.position_col is None
    assert repr(d) == ("ValidationDiagnostic(code='E201', severity='error', "
                       "message='Unknown node label: :Persn, did you mean :Person?', "
                       "suggestion=':Person')")
    assert list(d.to_dict()) == DIAGNOSTIC_KEYS
    assert result.to_dict()["diagnostics"] == [x.to_dict() for x in result.diagnostics]
    j = json.loads(result.to_json())["diagnostics"][0]
    assert list(j) == ["code", "code_name", "message", "severity", "suggestion_description",
                       "suggestion_original", "suggestion_replacement"]
    assert repr(result) == ('ValidationResult(is_valid=false, errors=["Unknown node label: '
                            ':Persn, did you mean :Person?"])')


def test_diagnostic_repr_without_suggestion(validator):
    result = validator.validate("MATCH (n:Person) RETURN m")
    (d,) = [d for d in result.diagnostics if d.code == "E501"]
    assert repr(d) == ("ValidationDiagnostic(code='E501', severity='error', "
                       "message='Variable 'm' is not bound in this scope')")


def test_warnings_only(validator):
    result = validator.validate("MATCH (n) RETURN n")
    assert result.is_valid is True and bool(result) and len(result) == 0
    assert result.errors == [] and result.fixed_query is None
    assert result.warnings == [
        "MATCH contains an unlabeled node with no WHERE clause; this will scan all nodes "
        "in the graph"]
    (d,) = result.diagnostics
    assert (d.code, d.code_name, d.severity) == ("W201", "UnlabeledFullScan", "warning")
    assert d.suggestion_replacement is None
    assert repr(result) == "ValidationResult(is_valid=true, errors=[])"


def test_standalone_procedure_call_is_valid(validator):
    result = validator.validate("CALL db.labels() YIELD label")
    assert result.to_dict() == {"is_valid": True, "errors": [], "syntax_errors": [],
                                "semantic_errors": [], "warnings": [], "fixed_query": None,
                                "diagnostics": []}


# ---------------------------------------------------------------------------------------------
# Refused queries leave nothing behind (checked in a fresh process each, so that a leak cannot
# spill into other tests)

DEEP = {
    "not-chain": "MATCH (a:Person) WHERE " + "NOT " * 5000 + "a.name RETURN a",
    "parentheses": "RETURN " + "(" * 5000 + "1" + ")" * 5000,
    "lists": "RETURN " + "[" * 5000 + "1" + "]" * 5000,
    "long-sum": TOO_DEEP,
    "subqueries": "MATCH (x) RETURN COUNT { " * 400 + "MATCH (x) RETURN x" + " }" * 400,
}

LATER = textwrap.dedent("""
    import json, sys
    import _tessary
    v = _tessary.Tessary(_tessary.Schema({"Person": ["name"]}, {}))
    probes = ["RETURN 1", "MATCH (n:Persn) RETURN n.name", "RETURN " + "(" * 50 + "1" + ")" * 50]
    before = [v.validate(q).to_dict() for q in probes]
    refused = v.validate(sys.argv[1]).is_valid is False
    after = [v.validate(q).to_dict() for q in probes]
    batch = [r.to_dict() for r in v.validate_batch([sys.argv[1]] * 64 + probes * 64)][64:]
    print(json.dumps({"refused": refused, "same": before == after, "batch": batch == before * 64,
                      "summary": _tessary.parse_query("RETURN 1").is_valid}))
""")


@pytest.mark.parametrize("deep", list(DEEP.values()), ids=list(DEEP))
def test_refused_deep_query_does_not_affect_later_ones(deep):
    out = subprocess.run([sys.executable, "-c", LATER, deep], capture_output=True, text=True,
                         timeout=120)
    assert out.returncode == 0, out.stderr
    assert json.loads(out.stdout) == {"refused": True, "same": True, "batch": True,
                                      "summary": True}


def test_nesting_within_the_bounds_validates_on_every_thread(validator):
    queries = ["RETURN " + "(" * n + "1" + ")" * n for n in (10, 50, 100)] + \
              ["RETURN " + "[" * n + "1" + "]" * n for n in (10, 50, 100)] + \
              ["MATCH (x:Person) RETURN COUNT { " * n + "MATCH (x:Person) RETURN x" + " }" * n
               for n in (10, 50)]
    expected = [validator.validate(q).to_dict() for q in queries]
    assert all(d["syntax_errors"] == [] for d in expected)
    assert [r.to_dict() for r in validator.validate_batch(queries * 50)] == expected * 50


# ---------------------------------------------------------------------------------------------
# The bundled examples of the main job


def test_bundled_examples_run():
    root = pathlib.Path(__file__).resolve().parents[2]
    out = subprocess.run([sys.executable, str(root / "examples" / "validate_examples.py")],
                         capture_output=True, text=True, timeout=120)
    assert out.returncode == 0, out.stderr
    blocks = {b.split("\n", 1)[0]: b for b in out.stdout.split("\n#")[1:]}
    by_title = {title.split(" ", 1)[1]: text for title, text in blocks.items()}
    assert "valid: yes" in by_title["A correct query"]
    assert "fixed query: MATCH (p:Person)-[:LIVES_IN]->(c:City)" in by_title["A misspelt label"]
    assert "E211" in by_title["An unknown relationship type"]
    assert "E101 ParseError (line 1, column" in \
        by_title["A syntax error: the closing parenthesis is missing"]
    assert "fixed query: MATCH (p:Person)-[:WORKS_FOR]->(c:Company) WHERE c.name = 'Acme'" in \
        by_title["A misspelt label and a misspelt property in one query: both get fixed"]
    assert out.stdout.rstrip().endswith("invalid")
