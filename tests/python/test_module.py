"""The module as a whole: registration, type flags, re-import, sub-interpreters, PanicException and
the argument parser shared by every entry."""
import importlib
import os
import subprocess
import sys
import weakref

import pytest

import _tessary

ALL = [
    "Schema",
    "Tessary",
    "ValidationResult",
    "ValidationDiagnostic",
    "CypherGenerator",
    "QueryInfo",
    "parse_query",
]
CLASSES = [name for name in ALL if name != "parse_query"]
NOT_INSTANTIABLE = ["ValidationResult", "ValidationDiagnostic", "QueryInfo"]


def present(name):
    if not hasattr(_tessary, name):
        pytest.skip(f"{name} is not part of this build")
    return getattr(_tessary, name)


def test_all_lists_the_seven_names_in_order():
    assert _tessary.__all__ == ALL
    for name in ALL:
        assert hasattr(_tessary, name)


def test_module_docstring_is_empty():
    assert _tessary.__doc__ == ""
    assert _tessary.__name__ == "_tessary"


def test_reimport_yields_the_same_module_without_rerunning_the_body():
    before = _tessary.__all__
    schema_type = _tessary.Schema
    del sys.modules["_tessary"]
    try:
        again = importlib.import_module("_tessary")
    finally:
        sys.modules["_tessary"] = _tessary
    assert again is _tessary
    assert again.__all__ is before and again.__all__ == ALL  # not appended to a second time
    assert again.Schema is schema_type


def test_second_interpreter_is_refused():
    # Runs in a fresh process, so that the sub-interpreter cannot disturb this one.
    code = (
        "import _tessary, _xxsubinterpreters as subs\n"
        "sid = subs.create()\n"
        "try:\n"
        "    subs.run_string(sid, 'import _tessary')\n"
        "except Exception as e:\n"
        "    print('REFUSED', e)\n"
        "else:\n"
        "    print('IMPORTED')\n"
        "print(_tessary.Schema({}, {}).node_labels())\n"
    )
    env = dict(os.environ, PYTHONPATH=os.pathsep.join(p for p in sys.path if p))
    out = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True,
                         timeout=60)
    assert out.returncode == 0, out.stderr
    assert "REFUSED" in out.stdout and "ImportError" in out.stdout
    assert "sub-interpreters" in out.stdout
    assert out.stdout.rstrip().endswith("[]")  # the first interpreter's module is unaffected


@pytest.mark.parametrize("name", CLASSES)
def test_type_names_and_flags(name):
    cls = present(name)
    assert cls.__module__ == "builtins"
    assert cls.__name__ == name and cls.__qualname__ == name
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    assert "__dict__" not in dir(cls)
    assert cls.__weakrefoffset__ == 0 and cls.__dictoffset__ == 0


@pytest.mark.parametrize("name", NOT_INSTANTIABLE)
def test_classes_that_cannot_be_instantiated(name):
    cls = present(name)
    with pytest.raises(TypeError):
        cls()


@pytest.mark.parametrize(
    "name, signature",
    [
        ("Schema", "(nodes, relationships)"),
        ("Tessary", "(schema)"),
        ("CypherGenerator", "(schema, seed=None)"),
    ],
)
def test_class_docstrings_are_text_signatures_only(name, signature):
    cls = present(name)
    assert cls.__text_signature__ == signature
    assert not cls.__doc__


def test_instances_have_no_dict_and_no_weak_references():
    s = _tessary.Schema({}, {})
    with pytest.raises(AttributeError):
        s.anything = 1
    with pytest.raises(TypeError):
        weakref.ref(s)


def test_panic_exception_derives_from_base_exception(capfd):
    gen_cls = present("CypherGenerator")
    gen = gen_cls(_tessary.Schema({}, {}), seed=1)
    # A count whose room cannot be expressed is an internal failure, raised before anything
    # is generated.
    caught_by_exception = False
    try:
        try:
            gen.generate_batch("match_return", 2**63)
        except Exception:
            caught_by_exception = True
    except BaseException as e:
        panic = e
    assert not caught_by_exception
    cls = type(panic)
    assert cls.__module__ == "pyo3_runtime" and cls.__name__ == "PanicException"
    assert cls.__bases__ == (BaseException,)
    assert "BaseException" in cls.__doc__
    assert str(panic) == "capacity overflow"
    assert "capacity overflow" in capfd.readouterr().err  # the failure report


def test_validate_argument_forms():
    Tessary = present("Tessary")
    t = Tessary(_tessary.Schema({"Person": ["name"]}, {}))
    q = "MATCH (p:Person) RETURN p.name"
    assert t.validate(query=q).is_valid == t.validate(q).is_valid
    cases = [
        ((), {}, "Tessary.validate() missing 1 required positional argument: 'query'"),
        ((5,), {}, "argument 'query': 'int' object cannot be cast as 'str'"),
        ((q, q), {}, "Tessary.validate() takes 1 positional arguments but 2 were given"),
        ((q,), {"query": q}, "Tessary.validate() got multiple values for argument 'query'"),
        ((), {"q": q}, "Tessary.validate() got an unexpected keyword argument 'q'"),
    ]
    for args, kwargs, message in cases:
        with pytest.raises(TypeError) as info:
            t.validate(*args, **kwargs)
        assert str(info.value) == message


def test_list_of_texts_conversion_messages():
    Tessary = present("Tessary")
    t = Tessary(_tessary.Schema({}, {}))
    cases = [
        ("MATCH (n) RETURN n", "argument 'queries': Can't extract `str` to `Vec`"),
        (5, "argument 'queries': 'int' object cannot be cast as 'Sequence'"),
        ({"a": 1}, "argument 'queries': 'dict' object cannot be cast as 'Sequence'"),
        (["ok", 3], "argument 'queries': 'int' object cannot be cast as 'str'"),
    ]
    for value, message in cases:
        with pytest.raises(TypeError) as info:
            t.validate_batch(value)
        assert str(info.value) == message
    assert len(t.validate_batch(("RETURN 1", "RETURN 2"))) == 2


def test_parse_query_is_a_module_function():
    parse_query = present("parse_query")
    assert parse_query.__module__ == "_tessary"
    assert parse_query.__text_signature__ == "(query)"
    with pytest.raises(TypeError) as info:
        parse_query()
    assert str(info.value) == "parse_query() missing 1 required positional argument: 'query'"
