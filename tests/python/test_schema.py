"""The Schema class: construction from dicts, dict and JSON forms, merge, lookups, repr."""
import json

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from _tessary import Schema


@pytest.fixture
def movies():
    return Schema(
        {"Person": ["name", "age"], "Movie": ("title", "released"), "Genre": []},
        {
            "ACTED_IN": ("Person", "Movie", ["role"]),
            "IN_GENRE": ("Movie", "Genre", []),
            "REVIEWED": ("Critic", "Movie", ["stars", "Summary"]),  # undeclared source label
        },
    )


# ---------------------------------------------------------------------------------------------
# Construction


def test_empty_schema():
    s = Schema({}, {})
    assert s.node_labels() == []
    assert s.rel_types() == []
    assert s.to_dict() == {"nodes": {}, "relationships": {}}
    assert s.to_json() == '{"nodes":{},"relationships":{}}'


def test_keywords_and_positions_build_the_same_schema():
    a = Schema({"A": ["x"]}, {"R": ("A", "A", [])})
    b = Schema(relationships={"R": ("A", "A", [])}, nodes={"A": ["x"]})
    assert a.to_dict() == b.to_dict()


@pytest.mark.parametrize(
    "properties, expected",
    [
        (["name"], ["name"]),
        (("name", "name"), ["name"]),  # repeated names collapse
        (["b", "a", "B"], ["B", "a", "b"]),  # byte order: uppercase first
        (["é", "z", "Z"], ["Z", "z", "é"]),
        ([], []),
    ],
)
def test_node_property_sequences(properties, expected):
    assert Schema({"Person": properties}, {}).node_properties("Person") == expected


class _Seq:
    """A sequence that is neither a list nor a tuple."""

    def __init__(self, *items):
        self.items = items

    def __len__(self):
        return len(self.items)

    def __getitem__(self, i):
        return self.items[i]


def test_any_sequence_of_str_is_accepted_for_properties():
    s = Schema({"P": _Seq("b", "a")}, {"R": ("P", "P", _Seq("x"))})
    assert s.node_properties("P") == ["a", "b"]
    assert s.rel_properties("R") == ["x"]


NODE_SHAPE = "Expected list[str] for node properties of label '{}'"
REL_SHAPE = "Expected (str, str, list[str]) for relationship '{}', e.g. ('Person', 'Movie', ['role'])"


@pytest.mark.parametrize(
    "nodes, relationships, message",
    [
        ({"Person": "name"}, {}, NODE_SHAPE.format("Person")),
        ({"Person": None}, {}, NODE_SHAPE.format("Person")),
        ({"Person": ["name", 3]}, {}, NODE_SHAPE.format("Person")),
        ({"Person": {"name": 1}}, {}, NODE_SHAPE.format("Person")),
        ({"Person": ["\ud800"]}, {}, NODE_SHAPE.format("Person")),  # encoding error discarded
        ({}, {"R": ["A", "B", []]}, REL_SHAPE.format("R")),  # a list is not a tuple
        ({}, {"R": ("A", "B")}, REL_SHAPE.format("R")),
        ({}, {"R": ("A", "B", [], [])}, REL_SHAPE.format("R")),
        ({}, {"R": ("A", 1, [])}, REL_SHAPE.format("R")),
        ({}, {"R": (1, "B", [])}, REL_SHAPE.format("R")),
        ({}, {"R": ("A", "B", "p")}, REL_SHAPE.format("R")),
        ({}, {"R": ("A", "B", None)}, REL_SHAPE.format("R")),
        ({1: []}, {}, "'int' object cannot be cast as 'str'"),  # key error without prefix
        ({}, {(1, 2): ("A", "B", [])}, "'tuple' object cannot be cast as 'str'"),
        ([], {}, "argument 'nodes': 'list' object cannot be cast as 'dict'"),
        ({}, None, "argument 'relationships': 'NoneType' object cannot be cast as 'dict'"),
    ],
)
def test_constructor_type_errors(nodes, relationships, message):
    with pytest.raises(TypeError) as info:
        Schema(nodes, relationships)
    assert str(info.value) == message


def test_first_failure_wins_and_nodes_are_read_before_relationships():
    with pytest.raises(TypeError, match="label 'Bad'"):
        Schema({"Good": [], "Bad": 1}, {"R": 1})


def test_constructor_argument_errors():
    cases = [
        ((), {}, "Schema.__new__() missing 2 required positional arguments: 'nodes' and 'relationships'"),
        (({},), {}, "Schema.__new__() missing 1 required positional argument: 'relationships'"),
        (({}, {}, {}), {}, "Schema.__new__() takes 2 positional arguments but 3 were given"),
        (({},), {"nodes": {}}, "Schema.__new__() got multiple values for argument 'nodes'"),
        (({}, {}), {"edges": {}}, "Schema.__new__() got an unexpected keyword argument 'edges'"),
    ]
    for args, kwargs, message in cases:
        with pytest.raises(TypeError) as info:
            Schema(*args, **kwargs)
        assert str(info.value) == message


def test_dict_subclasses_and_str_subclasses_are_accepted():
    class D(dict):
        pass

    class S(str):
        pass

    s = Schema(D({S("A"): [S("x")]}), D({S("R"): (S("A"), S("A"), (S("y"),))}))
    assert s.node_labels() == ["A"] and s.rel_properties("R") == ["y"]


def test_lone_surrogate_raises_the_encoding_error():
    with pytest.raises(UnicodeEncodeError):
        Schema({"\ud800": []}, {})


def test_dict_changed_while_walked_is_an_internal_failure():
    nodes = {"A": None, "B": []}

    class Mutating:
        def __len__(self):
            return 0

        def __getitem__(self, i):
            nodes["C"] = []  # grows the dict being walked
            raise IndexError

    nodes["A"] = Mutating()
    with pytest.raises(BaseException) as info:
        Schema(nodes, {})
    assert type(info.value).__name__ == "PanicException"
    assert str(info.value) == "dictionary changed size during iteration"


def test_value_freed_during_the_walk_is_safe():
    # The conversion of "A"'s value deletes every entry: the walk must not use the freed value.
    nodes = {}

    class Evil:
        def __len__(self):
            return 1

        def __getitem__(self, i):
            if i == 0:
                nodes.clear()
                return "x"
            raise IndexError

    nodes["A"] = Evil()
    with pytest.raises(BaseException) as info:
        Schema(nodes, {})
    assert "changed size" in str(info.value)


# ---------------------------------------------------------------------------------------------
# Lookups


def test_lookups(movies):
    assert movies.node_labels() == ["Genre", "Movie", "Person"]
    assert movies.rel_types() == ["ACTED_IN", "IN_GENRE", "REVIEWED"]
    assert movies.has_node_label("Person") is True
    assert movies.has_node_label("person") is False
    assert movies.has_rel_type("ACTED_IN") is True
    assert movies.has_rel_type("acted_in") is False
    assert movies.node_properties("Person") == ["age", "name"]
    assert movies.node_properties("Nobody") == []
    assert movies.rel_properties("REVIEWED") == ["Summary", "stars"]
    assert movies.rel_properties("NOPE") == []
    assert movies.rel_endpoints("REVIEWED") == ("Critic", "Movie")
    assert movies.rel_endpoints("NOPE") is None


def test_lookups_return_new_lists(movies):
    first = movies.node_labels()
    first.append("X")
    assert movies.node_labels() == ["Genre", "Movie", "Person"]
    assert movies.node_properties("Person") is not movies.node_properties("Person")


@pytest.mark.parametrize(
    "method, name",
    [
        ("has_node_label", "label"),
        ("has_rel_type", "rel_type"),
        ("node_properties", "label"),
        ("rel_properties", "rel_type"),
        ("rel_endpoints", "rel_type"),
    ],
)
def test_lookup_argument_errors(movies, method, name):
    bound = getattr(movies, method)
    q = f"Schema.{method}()"
    cases = [
        ((), {}, f"{q} missing 1 required positional argument: '{name}'"),
        (("a", "b"), {}, f"{q} takes 1 positional arguments but 2 were given"),
        ((), {"nme": "a"}, f"{q} got an unexpected keyword argument 'nme'"),
        (("a",), {name: "a"}, f"{q} got multiple values for argument '{name}'"),
        ((5,), {}, f"argument '{name}': 'int' object cannot be cast as 'str'"),
        ((), {name: None}, f"argument '{name}': 'NoneType' object cannot be cast as 'str'"),
    ]
    for args, kwargs, message in cases:
        with pytest.raises(TypeError) as info:
            bound(*args, **kwargs)
        assert str(info.value) == message
    # The keyword form works like the positional one, also for a name built at run time
    # (not the interned object).
    runtime_name = "".join(list(name))
    assert bound(**{runtime_name: "Movie"}) == bound("Movie")


@pytest.mark.parametrize(
    "method", ["node_labels", "rel_types", "to_dict", "to_json", "to_prompt", "to_markdown", "to_cypher_context"]
)
def test_methods_without_arguments_refuse_arguments(movies, method):
    with pytest.raises(TypeError):
        getattr(movies, method)(1)


# ---------------------------------------------------------------------------------------------
# Dict and JSON forms


def test_to_dict_is_sorted_and_fresh(movies):
    d = movies.to_dict()
    assert d == {
        "nodes": {"Genre": [], "Movie": ["released", "title"], "Person": ["age", "name"]},
        "relationships": {
            "ACTED_IN": ("Person", "Movie", ["role"]),
            "IN_GENRE": ("Movie", "Genre", []),
            "REVIEWED": ("Critic", "Movie", ["Summary", "stars"]),
        },
    }
    assert list(d) == ["nodes", "relationships"]
    assert list(d["nodes"]) == ["Genre", "Movie", "Person"]
    assert isinstance(d["relationships"]["ACTED_IN"], tuple)
    assert movies.to_dict() is not d


def test_to_dict_round_trips_through_constructor_and_from_dict(movies):
    d = movies.to_dict()
    assert Schema(d["nodes"], d["relationships"]).to_dict() == d
    assert Schema.from_dict(d).to_dict() == d


def test_json_round_trip_and_identity_equality(movies):
    restored = Schema.from_json(movies.to_json())
    assert restored.to_dict() == movies.to_dict()
    assert (restored == movies) is False
    assert movies == movies


def test_to_json_shape(movies):
    data = json.loads(movies.to_json())
    assert set(data) == {"nodes", "relationships"}
    assert sorted(data["nodes"]["Person"]) == ["age", "name"]
    assert data["relationships"]["ACTED_IN"] == ["Person", "Movie", ["role"]]


def test_from_json_accepts_relationships_as_arrays():
    # The same data that the constructor refuses as a list of three items.
    s = Schema.from_json('{"nodes": {"A": ["x"]}, "relationships": {"R": ["A", "B", ["p"]]}}')
    assert s.rel_endpoints("R") == ("A", "B")


@pytest.mark.parametrize("text", ["{", "", "[]", '{"nodes": {}}', '{"nodes": 1, "relationships": {}}'])
def test_from_json_errors(text):
    with pytest.raises(ValueError) as info:
        Schema.from_json(text)
    assert str(info.value).startswith("Invalid Schema JSON: ")
    assert " at line " in str(info.value)


def test_from_json_argument_errors():
    with pytest.raises(TypeError) as info:
        Schema.from_json(b"{}")
    assert str(info.value) == "argument 'json_str': 'bytes' object cannot be cast as 'str'"
    assert Schema.from_json(json_str='{"nodes":{},"relationships":{}}').node_labels() == []


@pytest.mark.parametrize(
    "d, exc, message",
    [
        ({"relationships": {}}, KeyError, "'nodes' key missing from dict"),
        ({"nodes": {}}, KeyError, "'relationships' key missing from dict"),
        ({"nodes": [], "relationships": {}}, TypeError, "'nodes' must be a dict"),
        ({"nodes": {}, "relationships": ()}, TypeError, "'relationships' must be a dict"),
        ({"relationships": ()}, KeyError, "'nodes' key missing from dict"),
        ({"nodes": {"A": 1}, "relationships": {}}, TypeError, NODE_SHAPE.format("A")),
        ([("nodes", {})], TypeError, "argument 'd': 'list' object cannot be cast as 'dict'"),
    ],
)
def test_from_dict_errors(d, exc, message):
    with pytest.raises(exc) as info:
        Schema.from_dict(d)
    assert info.value.args[0] == message


def test_from_dict_ignores_other_keys_and_takes_keyword():
    s = Schema.from_dict(d={"nodes": {"A": []}, "relationships": {}, "extra": 1})
    assert s.node_labels() == ["A"]


def test_from_dict_lookup_error_propagates():
    class BadKey:
        def __hash__(self):
            return hash("nodes")

        def __eq__(self, other):
            raise ZeroDivisionError

    with pytest.raises(ZeroDivisionError):
        Schema.from_dict({BadKey(): {}})


# ---------------------------------------------------------------------------------------------
# Merge


def test_merge_unions_properties_and_keeps_receiver_endpoints():
    a = Schema({"Person": ["name"]}, {"KNOWS": ("Person", "Person", ["since"])})
    b = Schema(
        {"Person": ["age"], "Movie": ["title"]},
        {"KNOWS": ("Robot", "Robot", ["weight"]), "ACTED_IN": ("Person", "Movie", ["role"])},
    )
    before_a, before_b = a.to_dict(), b.to_dict()
    m = a.merge(b)
    assert m.node_labels() == ["Movie", "Person"]
    assert m.node_properties("Person") == ["age", "name"]
    assert m.node_properties("Movie") == ["title"]
    assert m.rel_endpoints("KNOWS") == ("Person", "Person")
    assert m.rel_properties("KNOWS") == ["since", "weight"]
    assert m.rel_endpoints("ACTED_IN") == ("Person", "Movie")
    assert a.to_dict() == before_a and b.to_dict() == before_b  # operands unchanged
    assert m is not a and a.merge(other=b).to_dict() == m.to_dict()
    assert a.merge(a).to_dict() == before_a


def test_merge_argument_errors(movies):
    with pytest.raises(TypeError) as info:
        movies.merge({"nodes": {}, "relationships": {}})
    assert str(info.value) == "argument 'other': 'dict' object cannot be cast as 'Schema'"
    with pytest.raises(TypeError) as info:
        movies.merge()
    assert str(info.value) == "Schema.merge() missing 1 required positional argument: 'other'"


# ---------------------------------------------------------------------------------------------
# Repr


@pytest.mark.parametrize(
    "nodes, relationships, expected",
    [
        ({"B": [], "A": ["p"]}, {}, 'Schema(nodes=["A", "B"], relationships=[])'),
        ({}, {"R": ("X", "Y", ["z"])}, 'Schema(nodes=[], relationships=["R"])'),
        ({'a"b': [], "c\\d": []}, {}, r'Schema(nodes=["a\"b", "c\\d"], relationships=[])'),
        ({"l\n\r\t\0": []}, {}, r'Schema(nodes=["l\n\r\t\0"], relationships=[])'),
        ({"\x07\x7f": []}, {}, r'Schema(nodes=["\u{7}\u{7f}"], relationships=[])'),
        ({"é日本": []}, {}, 'Schema(nodes=["é日本"], relationships=[])'),
        ({"e\u0301": []}, {}, r'Schema(nodes=["e\u{301}"], relationships=[])'),  # combining
        ({"a\u00a0b\u200bc": []}, {}, r'Schema(nodes=["a\u{a0}b\u{200b}c"], relationships=[])'),
        ({"a b": []}, {}, 'Schema(nodes=["a b"], relationships=[])'),
    ],
)
def test_repr(nodes, relationships, expected):
    assert repr(Schema(nodes, relationships)) == expected


# ---------------------------------------------------------------------------------------------
# Docstrings


@pytest.mark.parametrize(
    "member, signature, first_line",
    [
        ("from_dict", "(d)", "Create a Schema from a plain Python dict (e.g. previously exported with ``to_dict()``)."),
        ("from_json", "(json_str)", "Deserialise a Schema from a JSON string produced by ``to_json()``."),
        ("node_labels", "($self)", None),
        ("rel_types", "($self)", None),
        ("has_node_label", "($self, label)", None),
        ("has_rel_type", "($self, rel_type)", None),
        ("node_properties", "($self, label)", "Return the list of properties declared for a node label."),
        ("rel_properties", "($self, rel_type)", "Return the list of properties declared for a relationship type."),
        ("rel_endpoints", "($self, rel_type)", "Return `(src_label, tgt_label)` for a relationship type, or None if unknown."),
        ("to_dict", "($self)", "Export the schema as a plain Python dict compatible with the Schema constructor."),
        ("to_json", "($self)", "Serialise the schema to a JSON string."),
        ("merge", "($self, other)", "Return a new Schema that is the union of *self* and *other*."),
    ],
)
def test_member_docstrings(member, signature, first_line):
    fn = getattr(Schema, member)
    assert fn.__text_signature__ == signature
    if first_line is None:
        assert fn.__doc__ is None  # text signature only
    else:
        assert fn.__doc__.splitlines()[0] == first_line


def test_static_methods_work_on_the_class_and_on_instances():
    s = Schema({}, {})
    assert s.from_json(s.to_json()).to_dict() == Schema.from_dict(s.to_dict()).to_dict()


# ---------------------------------------------------------------------------------------------
# Round trips over arbitrary names

names = st.text(max_size=8)
schemas = st.tuples(
    st.dictionaries(names, st.lists(names, max_size=4), max_size=5),
    st.dictionaries(names, st.tuples(names, names, st.lists(names, max_size=3)), max_size=4),
)


@settings(max_examples=200, deadline=None)
@given(schemas)
def test_dict_and_json_forms_round_trip(parts):
    nodes, relationships = parts
    s = Schema(nodes, relationships)
    expected = {
        "nodes": {label: sorted(set(props)) for label, props in sorted(nodes.items())},
        "relationships": {
            t: (src, tgt, sorted(set(props))) for t, (src, tgt, props) in sorted(relationships.items())
        },
    }
    d = s.to_dict()
    assert d == expected and list(d["nodes"]) == list(expected["nodes"])
    assert Schema.from_json(s.to_json()).to_dict() == expected
    assert Schema.from_dict(d).to_dict() == expected
    assert json.loads(s.to_json())["relationships"] == {
        t: [src, tgt, list(dict.fromkeys(props))] for t, (src, tgt, props) in relationships.items()
    }
