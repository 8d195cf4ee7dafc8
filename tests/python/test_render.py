"""The three text renderings of a schema: to_prompt, to_markdown and to_cypher_context."""
import pytest

from _tessary import Schema

PROMPT_HEAD = "Graph Schema\n============\n\nNodes\n-----\n"
PROMPT_RELS = "\nRelationships\n-------------\n"
MD_NODES = "### Nodes\n\n| Label | Properties |\n|---|---|\n"
MD_RELS = "\n### Relationships\n\n| Type | Source \u2192 Target | Properties |\n|---|---|---|\n"
CY_NODES = "// Node labels and their properties\n"
CY_RELS = "\n// Relationship types\n"


@pytest.fixture
def company():
    return Schema(
        {"Person": ["name", "age", "email"], "Company": ["name", "founded"], "City": []},
        {"WORKS_FOR": ("Person", "Company", ["since", "role"]), "LIVES_IN": ("Person", "City", [])},
    )


def test_to_prompt_worked_example(company):
    assert company.to_prompt() == (
        PROMPT_HEAD
        + "  :City\n"
        + "  :Company" + " " * 19 + "  founded, name\n"
        + "  :Person" + " " * 20 + "  age, email, name\n"
        + PROMPT_RELS
        + "  :LIVES_IN" + " " * 18 + "  (Person)-->(City)\n"
        + "  :WORKS_FOR" + " " * 17 + "  (Person)-->(Company)   role, since\n"
    )


def test_to_markdown_worked_example(company):
    assert company.to_markdown() == (
        MD_NODES
        + "| :City | \u2014 |\n"
        + "| :Company | founded, name |\n"
        + "| :Person | age, email, name |\n"
        + MD_RELS
        + "| :LIVES_IN | :Person \u2192 :City | \u2014 |\n"
        + "| :WORKS_FOR | :Person \u2192 :Company | role, since |\n"
    )


def test_to_cypher_context_worked_example(company):
    assert company.to_cypher_context() == (
        CY_NODES
        + "(:City)\n"
        + "(:Company {founded, name})\n"
        + "(:Person {age, email, name})\n"
        + CY_RELS
        + "(:Person)-[:LIVES_IN]->(:City)\n"
        + "(:Person)-[:WORKS_FOR {role, since}]->(:Company)\n"
    )


def test_empty_schema_renders_fixed_parts_only():
    s = Schema({}, {})
    assert s.to_prompt() == PROMPT_HEAD + PROMPT_RELS
    assert s.to_markdown() == MD_NODES + MD_RELS
    assert s.to_cypher_context() == CY_NODES + CY_RELS


@pytest.mark.parametrize(
    "label, line",
    [
        ("A" * 26, "  :" + "A" * 26 + "  p\n"),  # exactly the width: no fill
        ("B" * 30, "  :" + "B" * 30 + "  p\n"),  # wider: printed whole
        ("Ünïcødé", "  :Ünïcødé" + " " * 19 + "  p\n"),  # filled by characters, not bytes
        ("日本", "  :日本" + " " * 24 + "  p\n"),
    ],
)
def test_prompt_width_in_characters(label, line):
    assert Schema({label: ["p"]}, {}).to_prompt() == PROMPT_HEAD + line + PROMPT_RELS


def test_prompt_fill_rules_without_properties():
    # A label without properties is not filled; a relationship type without properties is.
    s = Schema({"Lonely": []}, {"R": ("X", "Y", [])})
    assert s.to_prompt() == PROMPT_HEAD + "  :Lonely\n" + PROMPT_RELS + "  :R" + " " * 25 + "  (X)-->(Y)\n"


def test_properties_sorted_by_bytes_and_names_unescaped():
    s = Schema({"N|x": ["b", "B", "a"]}, {"R`": ("Undeclared", "N|x", ["z", "Z"])})
    assert s.to_markdown() == (
        MD_NODES + "| :N|x | B, a, b |\n" + MD_RELS + "| :R` | :Undeclared \u2192 :N|x | Z, z |\n"
    )
    assert s.to_cypher_context() == (
        CY_NODES + "(:N|x {B, a, b})\n" + CY_RELS + "(:Undeclared)-[:R` {Z, z}]->(:N|x)\n"
    )


@pytest.mark.parametrize(
    "method, first_line",
    [
        ("to_prompt", "Return a human-readable, LLM-friendly representation of the schema."),
        ("to_markdown", "Return the schema formatted as a Markdown table."),
        ("to_cypher_context", "Return the schema as inline Cypher patterns."),
    ],
)
def test_docstrings(method, first_line):
    fn = getattr(Schema, method)
    assert fn.__text_signature__ == "($self)"
    assert fn.__doc__.splitlines()[0] == first_line
    assert "Example" in fn.__doc__
