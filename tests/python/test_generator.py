"""The CypherGenerator class: reproducibility, argument conversion, errors and its queries."""
import os

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import _tessary
from _tessary import CypherGenerator, Schema

TYPES = [
    "match_return",
    "match_where_return",
    "create",
    "merge",
    "aggregation",
    "match_relationship",
    "create_relationship",
    "match_set",
    "match_delete",
    "with_chain",
    "distinct_return",
    "order_by",
    "unwind",
]

UNKNOWN = "Generator error: Unknown query type: {}"


@pytest.fixture
def movies():
    return Schema(
        {"Person": ["name", "age"], "Movie": ["title", "released"], "Genre": []},
        {"ACTED_IN": ("Person", "Movie", ["role"]), "IN_GENRE": ("Movie", "Genre", [])},
    )


def run(gen, calls):
    return [gen.generate(t) for t in calls]


def test_supported_types_is_a_fresh_list_on_the_class():
    first = CypherGenerator.supported_types()
    assert first == TYPES
    first.append("x")
    assert CypherGenerator.supported_types() == TYPES
    assert CypherGenerator.supported_types.__text_signature__ == "()"


def test_docstrings_and_repr(movies):
    assert CypherGenerator.__text_signature__ == "(schema, seed=None)"
    assert CypherGenerator.generate.__text_signature__ == "($self, query_type)"
    assert CypherGenerator.generate_batch.__text_signature__ == "($self, query_type, n)"
    doc = CypherGenerator.generate_batch.__doc__
    assert doc.startswith("Generate *n* queries of the given type in a single call.")
    for section in ("Parameters\n----------", "Returns\n-------", "Raises\n------"):
        assert section in doc
    assert repr(CypherGenerator(movies)) == "CypherGenerator()"
    assert repr(CypherGenerator(Schema({}, {}), 7)) == "CypherGenerator()"


def test_same_seed_same_strings_across_instances_and_argument_forms(movies):
    calls = TYPES * 3
    by_position = run(CypherGenerator(movies, 42), calls)
    by_keyword = run(CypherGenerator(schema=movies, seed=42), calls)
    assert by_position == by_keyword
    other = run(CypherGenerator(movies, 43), calls)
    assert other != by_position


@pytest.mark.parametrize("query_type", TYPES)
def test_batch_equals_consecutive_generate_calls(movies, query_type):
    batch = CypherGenerator(movies, 5).generate_batch(query_type, 3)
    one_by_one = CypherGenerator(movies, 5)
    assert batch == [one_by_one.generate(query_type) for _ in range(3)]
    # And the batch leaves the state where three single calls would.
    a, b = CypherGenerator(movies, 9), CypherGenerator(movies, 9)
    a.generate_batch(query_type, 3)
    run(b, [query_type] * 3)
    assert a.generate("create") == b.generate("create")


def test_unknown_type_raises_and_leaves_the_state_untouched(movies):
    a, b = CypherGenerator(movies, 1), CypherGenerator(movies, 1)
    for call in (lambda: a.generate("Match_Return"), lambda: a.generate_batch("nope", 2)):
        with pytest.raises(ValueError) as info:
            call()
        assert str(info.value) in (UNKNOWN.format("Match_Return"), UNKNOWN.format("nope"))
    assert a.generate_batch("nope", 0) == []  # nothing generated, nothing checked
    assert run(a, TYPES) == run(b, TYPES)


def test_seed_conversions(movies):
    assert run(CypherGenerator(movies, 2**64 - 1), TYPES) == run(CypherGenerator(movies, 2**64 - 1), TYPES)
    assert run(CypherGenerator(movies, True), TYPES) == run(CypherGenerator(movies, 1), TYPES)
    CypherGenerator(movies, None).generate("create")
    CypherGenerator(movies, seed=None).generate("create")
    for seed in (-1, 2**64, -(2**70)):
        with pytest.raises(OverflowError):
            CypherGenerator(movies, seed)
    with pytest.raises(TypeError) as info:
        CypherGenerator(movies, "1")
    assert str(info.value).startswith("argument 'seed': ")
    with pytest.raises(TypeError) as info:
        CypherGenerator(movies, 1.0)
    assert str(info.value).startswith("argument 'seed': ")


def test_count_conversions(movies):
    gen = CypherGenerator(movies, 3)
    for n in (-1, 2**64):
        with pytest.raises(OverflowError):
            gen.generate_batch("create", n)
    with pytest.raises(TypeError) as info:
        gen.generate_batch("create", "3")
    assert str(info.value).startswith("argument 'n': ")
    with pytest.raises(TypeError) as info:
        gen.generate_batch(5, 1)
    assert str(info.value) == "argument 'query_type': 'int' object cannot be cast as 'str'"
    assert len(gen.generate_batch(query_type="create", n=2)) == 2


# AddressSanitizer stops the process at an allocation this large instead of failing it.
@pytest.mark.skipif(os.environ.get("TESSARY_SANITIZED") == "1",
                    reason="huge allocations abort under AddressSanitizer")
def test_count_too_large_to_reserve_fails_in_order(movies):
    gen = CypherGenerator(movies, 3)
    reference = CypherGenerator(movies, 3)
    # Room that cannot be expressed: the internal-failure exception.
    with pytest.raises(BaseException) as info:
        gen.generate_batch("create", 2**63)
    assert type(info.value).__name__ == "PanicException"
    assert str(info.value) == "capacity overflow"
    # Room that can be expressed but not allocated: MemoryError.
    with pytest.raises(MemoryError):
        gen.generate_batch("create", 2**52)
    # Neither touched the random state.
    assert run(gen, TYPES) == run(reference, TYPES)


def test_argument_errors(movies):
    gen = CypherGenerator(movies, 1)
    cases = [
        (CypherGenerator, (), {}, "CypherGenerator.__new__() missing 1 required positional argument: 'schema'"),
        (CypherGenerator, (movies, 1, 2), {}, "CypherGenerator.__new__() takes from 1 to 2 positional arguments but 3 were given"),
        (CypherGenerator, (movies,), {"sed": 1}, "CypherGenerator.__new__() got an unexpected keyword argument 'sed'"),
        (CypherGenerator, (movies, 1), {"seed": 1}, "CypherGenerator.__new__() got multiple values for argument 'seed'"),
        (CypherGenerator, ({},), {}, "argument 'schema': 'dict' object cannot be cast as 'Schema'"),
        (gen.generate, (), {}, "CypherGenerator.generate() missing 1 required positional argument: 'query_type'"),
        (gen.generate_batch, ("create",), {}, "CypherGenerator.generate_batch() missing 1 required positional argument: 'n'"),
        (gen.generate_batch, (), {}, "CypherGenerator.generate_batch() missing 2 required positional arguments: 'query_type' and 'n'"),
        (gen.generate_batch, ("create", 1, 2), {}, "CypherGenerator.generate_batch() takes 2 positional arguments but 3 were given"),
    ]
    for fn, args, kwargs, message in cases:
        with pytest.raises(TypeError) as info:
            fn(*args, **kwargs)
        assert str(info.value) == message
    with pytest.raises(TypeError):
        CypherGenerator.supported_types(1)


def test_generator_keeps_its_own_copy_of_the_schema(movies):
    gen = CypherGenerator(movies, 11)
    expected = run(CypherGenerator(Schema.from_dict(movies.to_dict()), 11), TYPES * 2)
    bigger = movies.merge(Schema({"Robot": ["serial"]}, {}))
    del movies
    assert bigger.has_node_label("Robot")
    assert run(gen, TYPES * 2) == expected


def test_empty_schema_falls_back_to_node():
    gen = CypherGenerator(Schema({}, {}), 0)
    queries = [gen.generate(t) for t in TYPES]
    assert all(isinstance(q, str) and q for q in queries)
    assert any(":Node" in q for q in queries)


@pytest.mark.skipif(not hasattr(_tessary, "Tessary"), reason="validator classes not built")
@settings(max_examples=60, deadline=None)
@given(seed=st.integers(min_value=0, max_value=2**64 - 1))
def test_generated_queries_parse_and_validate(seed):
    schema = Schema(
        {"Person": ["name", "age"], "Movie": ["title", "released"], "Genre": [], "Studio": ["name"]},
        {
            "ACTED_IN": ("Person", "Movie", ["role"]),
            "IN_GENRE": ("Movie", "Genre", []),
            "PRODUCED": ("Studio", "Movie", ["year"]),
        },
    )
    validator = _tessary.Tessary(schema)
    gen = CypherGenerator(schema, seed)
    for query_type in TYPES:
        query = gen.generate(query_type)
        info = _tessary.parse_query(query)
        assert info.is_valid, (query, info.errors)
        result = validator.validate(query)
        assert result.errors == [], (query, result.errors)


@pytest.mark.skipif(not hasattr(_tessary, "Tessary"), reason="validator classes not built")
@settings(max_examples=20, deadline=None)
@given(seed=st.integers(min_value=0, max_value=2**64 - 1))
def test_generated_queries_validate_against_sparse_schemas(seed):
    # No relationship types, labels without properties, or no labels at all.
    for schema in (Schema({"Tag": []}, {}), Schema({}, {}), Schema({"A": ["x"]}, {"R": ("A", "A", [])})):
        gen = CypherGenerator(schema, seed)
        validator = _tessary.Tessary(schema)
        for query in (gen.generate(t) for t in TYPES):
            assert _tessary.parse_query(query).is_valid, query
            # Without labels the stand-in label "Node" is the only thing the schema lacks.
            expected = ["Unknown node label: :Node"] if ":Node" in query else []
            assert validator.validate(query).errors == expected, query


# Names a query can only hold in backticks: reserved words in any letter case, and names with
# spaces, punctuation, non-ASCII letters or a leading digit; mixed with plain names.
AWKWARD_NAME = st.one_of(
    st.sampled_from(["Order", "order", "IN", "From", "count", "ENDS", "asc", "with", "null",
                     "Person", "name", "nullable", "TrueValue", "_x1"]),
    st.text(alphabet="aZ_1 -é€.:", max_size=5),
)


@pytest.mark.skipif(not hasattr(_tessary, "Tessary"), reason="validator classes not built")
@settings(max_examples=60, deadline=None)
@given(data=st.data(), seed=st.integers(min_value=0, max_value=2**64 - 1))
def test_generated_queries_parse_whatever_the_schema_names(data, seed):
    labels = data.draw(st.lists(AWKWARD_NAME, min_size=1, max_size=4, unique=True))
    nodes = {label: data.draw(st.lists(AWKWARD_NAME, max_size=4)) for label in labels}
    rels = {
        rel_type: (data.draw(st.sampled_from(labels)), data.draw(st.sampled_from(labels)),
                   data.draw(st.lists(AWKWARD_NAME, max_size=2)))
        for rel_type in data.draw(st.lists(AWKWARD_NAME, max_size=3, unique=True))
    }
    schema = Schema(nodes, rels)
    validator = _tessary.Tessary(schema)
    gen = CypherGenerator(schema, seed)
    for _ in range(2):
        for query_type in TYPES:
            query = gen.generate(query_type)
            info = _tessary.parse_query(query)
            assert info.is_valid, (query, info.errors)
            assert validator.validate(query).errors == [], query
