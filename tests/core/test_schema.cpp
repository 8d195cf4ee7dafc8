// Schema model: sorted accessors, insertions, the JSON writer and the JSON reader.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <variant>
#include <vector>

#include "schema.hpp"

namespace tessary {
namespace {

using Views = std::vector<std::string_view>;

Schema movie_schema() {
  Schema s;
  s.insert_node("Person", {"name", "age"});
  s.insert_node("Movie", {"title"});
  s.insert_relationship("ACTED_IN", "Person", "Movie", {"role"});
  s.insert_relationship("KNOWS", "Person", "Person", {});
  return s;
}

TEST(SchemaAccessors, EmptySchemaAndUnknownNames) {
  Schema s;
  EXPECT_TRUE(s.node_labels().empty());
  EXPECT_TRUE(s.rel_types().empty());
  EXPECT_TRUE(s.node_properties("X").empty());
  EXPECT_TRUE(s.rel_properties("X").empty());
  EXPECT_FALSE(s.rel_src_tgt("X").has_value());
  s.insert_node("Empty", {});
  s.insert_relationship("R", "A", "B", {});
  EXPECT_TRUE(s.node_properties("Empty").empty());
  EXPECT_TRUE(s.rel_properties("R").empty());
}

TEST(SchemaAccessors, SortedByBytes) {
  Schema s;
  for (const char* label : {"b", "B", "a", "aa", "", "\xc3\xa9", "AB", "A"})
    s.insert_node(label, {});
  EXPECT_EQ(s.node_labels(), (Views{"", "A", "AB", "B", "a", "aa", "b", "\xc3\xa9"}));
  s.insert_node("P", {"z", "Z", "y", "\xc3\xa9", "_"});
  EXPECT_EQ(s.node_properties("P"), (Views{"Z", "_", "y", "z", "\xc3\xa9"}));
  s.insert_relationship("T2", "A", "B", {"b", "a"});
  s.insert_relationship("T1", "A", "B", {});
  EXPECT_EQ(s.rel_types(), (Views{"T1", "T2"}));
  EXPECT_EQ(s.rel_properties("T2"), (Views{"a", "b"}));
}

TEST(SchemaAccessors, LookupsAreCaseSensitive) {
  Schema s = movie_schema();
  EXPECT_TRUE(s.has_node_label("Person"));
  EXPECT_FALSE(s.has_node_label("person"));
  EXPECT_TRUE(s.has_rel_type("KNOWS"));
  EXPECT_FALSE(s.has_rel_type("knows"));
  auto ends = s.rel_src_tgt("ACTED_IN");
  ASSERT_TRUE(ends.has_value());
  EXPECT_EQ(ends->first, "Person");
  EXPECT_EQ(ends->second, "Movie");
}

TEST(SchemaInsertions, ReplaceWholeEntryAndKeepPlace) {
  Schema s;
  s.insert_node("A", {"x", "y"});
  s.insert_node("B", {});
  s.insert_node("A", {"z"});
  EXPECT_EQ(s.node_properties("A"), (Views{"z"}));
  EXPECT_EQ(s.serialize(), R"({"nodes":{"A":["z"],"B":[]},"relationships":{}})");
  s.insert_relationship("R", "A", "B", {"p"});
  s.insert_relationship("R", "B", "C", {});
  EXPECT_EQ(s.rel_src_tgt("R")->first, "B");
  EXPECT_EQ(s.rel_src_tgt("R")->second, "C");
  EXPECT_TRUE(s.rel_properties("R").empty());
  // In-place access, as merging uses it.
  s.node_entry("B")->insert("q");
  s.rel_entry("R")->properties.insert("w");
  EXPECT_EQ(s.node_properties("B"), (Views{"q"}));
  EXPECT_EQ(s.rel_properties("R"), (Views{"w"}));
  EXPECT_EQ(s.node_entry("nope"), nullptr);
}

TEST(SchemaJsonWriter, ExactText) {
  EXPECT_EQ(Schema{}.serialize(), R"({"nodes":{},"relationships":{}})");
  Schema s;
  s.insert_node("Person", {"name"});
  s.insert_relationship("KNOWS", "Person", "Person", {});
  EXPECT_EQ(s.serialize(),
            R"({"nodes":{"Person":["name"]},"relationships":{"KNOWS":["Person","Person",[]]}})");
  Schema t;
  t.insert_node("A", {"x", "y"});
  t.insert_relationship("R", "A", "B", {"p", "q"});
  EXPECT_EQ(t.serialize(),
            R"({"nodes":{"A":["x","y"]},"relationships":{"R":["A","B",["p","q"]]}})");
}

TEST(SchemaJsonWriter, StringEscapes) {
  struct Case {
    std::string in;
    std::string out;
  };
  const std::vector<Case> cases = {
      {"a\"b", R"("a\"b")"},
      {"a\\b", R"("a\\b")"},
      {"\b\t\n\f\r", R"("\b\t\n\f\r")"},
      {std::string("\x00\x01\x1f", 3), R"("\u0000\u0001\u001f")"},
      {"\x0b\x1b", R"("\u000b\u001b")"},
      {"\x7f", "\"\x7f\""},
      {"/", "\"/\""},
      {"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80", "\"\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\""},
  };
  for (const auto& c : cases) {
    std::string out;
    append_json_string(out, c.in);
    EXPECT_EQ(out, c.out);
  }
}

Schema read_ok(std::string_view json) {
  auto r = Schema::deserialize(json);
  if (auto* e = std::get_if<SchemaJsonError>(&r)) {
    ADD_FAILURE() << "unexpected error for " << json << ": " << e->message;
    return Schema{};
  }
  return std::get<Schema>(std::move(r));
}

std::string read_err(std::string_view json) {
  auto r = Schema::deserialize(json);
  if (auto* e = std::get_if<SchemaJsonError>(&r)) return e->message;
  return "<ok>";
}

TEST(SchemaJsonReader, Shapes) {
  Schema a = read_ok(R"({"relationships":{},"nodes":{},"version":3})");
  EXPECT_TRUE(a.node_labels().empty());
  Schema b = read_ok("[{},{}]");
  EXPECT_TRUE(b.node_labels().empty());
  EXPECT_TRUE(b.rel_types().empty());
  Schema c = read_ok(R"( [ {"A":["x"]} , {"R":["A","B",["p"]]} ] )");
  EXPECT_EQ(c.node_properties("A"), (Views{"x"}));
  EXPECT_EQ(c.rel_properties("R"), (Views{"p"}));
  Schema d = read_ok(
      "\t\r\n{\"x\":{\"deep\":[1,2.5,-3e2,true,false,null,\"s\",{\"k\":[[]]}]},"
      "\"nodes\":{\"A\":[\"x\",\"x\",\"y\"],\"B\":[]},\"y\":null,"
      "\"relationships\":{\"R\":[\"A\",\"B\",[]]},\"z\":\"q\"}\n");
  EXPECT_EQ(d.node_labels(), (Views{"A", "B"}));
  EXPECT_EQ(d.node_properties("A"), (Views{"x", "y"}));
  EXPECT_EQ(d.rel_src_tgt("R")->second, "B");
}

TEST(SchemaJsonReader, RepeatedKeysKeepTheLastValue) {
  Schema s = read_ok(
      R"({"nodes":{"A":["x"],"B":[],"A":["y"]},"relationships":{"R":["A","B",["p"]],"R":["C","D",[]]}})");
  EXPECT_EQ(s.node_properties("A"), (Views{"y"}));
  EXPECT_EQ(s.rel_src_tgt("R")->first, "C");
  EXPECT_TRUE(s.rel_properties("R").empty());
  // The repeated label keeps its first place in the written text.
  EXPECT_EQ(s.serialize(), R"({"nodes":{"A":["y"],"B":[]},"relationships":{"R":["C","D",[]]}})");
}

TEST(SchemaJsonReader, EscapesAreDecoded) {
  Schema s = read_ok(
      R"({"nodes":{"\u00e9\ud83d\ude00\"\\\/\b\f\n\r\t\u0000":["\u0041"]},"relationships":{}})");
  const std::string label = std::string("\xc3\xa9\xf0\x9f\x98\x80\"\\/\b\f\n\r\t") + '\0';
  EXPECT_TRUE(s.has_node_label(label));
  EXPECT_EQ(s.node_properties(label), (Views{"A"}));
}

TEST(SchemaJsonReader, RoundTrip) {
  Schema s = movie_schema();
  s.insert_node("we\"ird\\\ttab\x01\xc3\xa9\x7f", {"", "a\nb"});
  s.insert_relationship("", "we\"ird", "", {"\\"});
  Schema back = read_ok(s.serialize());
  EXPECT_EQ(back.node_labels(), s.node_labels());
  for (auto label : s.node_labels())
    EXPECT_EQ(back.node_properties(label), s.node_properties(label));
  EXPECT_EQ(back.rel_types(), s.rel_types());
  for (auto type : s.rel_types()) {
    EXPECT_EQ(back.rel_properties(type), s.rel_properties(type));
    EXPECT_EQ(back.rel_src_tgt(type), s.rel_src_tgt(type));
  }
  EXPECT_EQ(back.serialize(), s.serialize());
}

TEST(SchemaJsonReader, ShapeErrors) {
  struct Case {
    const char* json;
    const char* message;
  };
  const Case cases[] = {
      {"{}", "missing field `nodes` at line 1 column 2"},
      {R"({"relationships":{}})", "missing field `nodes` at line 1 column 20"},
      {R"({"nodes":{}})", "missing field `relationships` at line 1 column 12"},
      {R"({"nodes":{},"nodes":{}})", "duplicate field `nodes` at line 1 column 19"},
      {R"({"nodes":{},"relationships":{},"relationships":1})",
       "duplicate field `relationships` at line 1 column 46"},
      {"5", "invalid type: integer `5`, expected struct Schema at line 1 column 1"},
      {"\"s\"", "invalid type: string \"s\", expected struct Schema at line 1 column 3"},
      {"null", "invalid type: null, expected struct Schema at line 1 column 4"},
      {"[]", "invalid length 0, expected struct Schema with 2 elements at line 1 column 2"},
      {"[{}]", "invalid length 1, expected struct Schema with 2 elements at line 1 column 4"},
      {"[{},{},{}]", "trailing characters at line 1 column 8"},
      {"[{},{},1]", "trailing characters at line 1 column 8"},
      {"[[],{}]", "invalid type: sequence, expected a map at line 1 column 2"},
      {R"({"nodes":[]})", "invalid type: sequence, expected a map at line 1 column 10"},
      {R"({"nodes":true})", "invalid type: boolean `true`, expected a map at line 1 column 13"},
      {R"({"relationships":1.5,"nodes":{}})",
       "invalid type: floating point `1.5`, expected a map at line 1 column 20"},
      {R"({"nodes":{"A":"x"}})",
       "invalid type: string \"x\", expected a sequence at line 1 column 17"},
      {R"({"nodes":{"A":{}}})", "invalid type: map, expected a sequence at line 1 column 15"},
      {R"({"nodes":{"A":[1]}})",
       "invalid type: integer `1`, expected a string at line 1 column 16"},
      {R"({"nodes":{"A":[[]]}})", "invalid type: sequence, expected a string at line 1 column 16"},
      {R"({"nodes":{},"relationships":{"R":{}}})",
       "invalid type: map, expected a tuple of size 3 at line 1 column 34"},
      {R"({"nodes":{},"relationships":{"R":"A"}})",
       "invalid type: string \"A\", expected a tuple of size 3 at line 1 column 36"},
      {R"({"nodes":{},"relationships":{"R":[]}})",
       "invalid length 0, expected a tuple of size 3 at line 1 column 35"},
      {R"({"nodes":{},"relationships":{"R":["A","B"]}})",
       "invalid length 2, expected a tuple of size 3 at line 1 column 42"},
      {R"({"nodes":{},"relationships":{"R":["A","B",[],1]}})",
       "trailing characters at line 1 column 46"},
      {R"({"nodes":{},"relationships":{"R":[1,"B",[]]}})",
       "invalid type: integer `1`, expected a string at line 1 column 35"},
      {R"({"nodes":{},"relationships":{"R":["A",null,[]]}})",
       "invalid type: null, expected a string at line 1 column 42"},
      {R"({"nodes":{},"relationships":{"R":["A","B","p"]}})",
       "invalid type: string \"p\", expected a sequence at line 1 column 45"},
      {R"({"nodes":{},"relationships":{"R":["A","B",[false]]}})",
       "invalid type: boolean `false`, expected a string at line 1 column 48"},
      {"{\"nodes\":{},\"relationships\":{}} x", "trailing characters at line 1 column 33"},
      {"{\"nodes\":{},\"relationships\":{}}{}", "trailing characters at line 1 column 32"},
      {"{\n  \"nodes\": 7\n}", "invalid type: integer `7`, expected a map at line 2 column 12"},
  };
  for (const Case& c : cases) EXPECT_EQ(read_err(c.json), c.message) << c.json;
}

TEST(SchemaJsonReader, SyntaxErrorsCarryAPosition) {
  struct Case {
    std::string json;
    std::string prefix;
  };
  const std::vector<Case> cases = {
      {"", "EOF while parsing a value at line 1 column 0"},
      {"   \n  ", "EOF while parsing a value at line 2 column 2"},
      {"{", "key must be a string at line 1 column 1"},
      {R"({"nodes":{"A":["x)", "EOF while parsing a string"},
      {R"({"nodes":{"A":["\q"]}})", "invalid escape at line 1 column 17"},
      {R"({"nodes":{"A":["\ud800"]}})", "lone leading surrogate in hex escape"},
      {R"({"nodes":{"A":["\udc00"]}})", "invalid unicode code point in string"},
      {R"({"nodes":{"A":["\u12"]}})", "invalid escape"},
      {"{\"nodes\":{\"A\":[\"\xff\"]}}", "invalid unicode code point"},
      {"{\"nodes\" {}}", "expected `:`"},
      {"[{} {}]", "expected `,` or `]`"},
      {"{\"x\":tru}", "expected value"},
      {std::string("{\"nodes\":{}\0,", 13), "expected `,` or `}`"},
  };
  for (const Case& c : cases) {
    const std::string msg = read_err(c.json);
    EXPECT_EQ(msg.rfind(c.prefix, 0), 0u) << c.json << " -> " << msg;
    EXPECT_NE(msg.find(" at line "), std::string::npos) << msg;
  }
}

TEST(SchemaJsonReader, DeepNestingInSkippedValuesDoesNotRecurse) {
  const std::size_t depth = 200000;
  std::string json = "{\"x\":";
  json += std::string(depth, '[');
  json += std::string(depth, ']');
  json += ",\"nodes\":{},\"relationships\":{}}";
  Schema s = read_ok(json);
  EXPECT_TRUE(s.node_labels().empty());
  std::string open = "{\"x\":" + std::string(depth, '{');
  EXPECT_EQ(read_err(open).rfind("key must be a string", 0), 0u);
  std::string unclosed = "{\"x\":" + std::string(depth, '[');
  EXPECT_EQ(read_err(unclosed).rfind("expected value", 0), 0u);
}

TEST(SchemaJsonReader, NumbersInSkippedValues) {
  Schema s = read_ok(
      R"({"v":[-123456789012345678901234567890,1.5e300,0,-0.0],"nodes":{},"relationships":{}})");
  EXPECT_TRUE(s.rel_types().empty());
  EXPECT_EQ(read_err(R"({"v":1e999999,"nodes":{},"relationships":{}})"),
            "number out of range at line 1 column 6");
}

// Random and mutated texts: every one must come back as a schema or an error with a position.
TEST(SchemaJsonReader, FuzzNeverCrashes) {
  const std::vector<std::string> seeds = {
      movie_schema().serialize(),
      R"([{"A":["x","y"]},{"R":["A","B",["p"]]}])",
      R"({"v":{"a":[1,2,{"b":null}]},"nodes":{"\u00e9":[]},"relationships":{}})",
  };
  const std::string alphabet = "{}[]\",:\\ u0123456789abcdefnrtl.-+eE\xc3\xa9\xff\n";
  std::mt19937_64 rng(12345);
  std::size_t ok = 0;
  for (int iter = 0; iter < 40000; ++iter) {
    std::string text;
    if (iter % 4 == 0) {
      const std::size_t len = rng() % 40;
      for (std::size_t i = 0; i < len; ++i) text += alphabet[rng() % alphabet.size()];
    } else {
      text = seeds[rng() % seeds.size()];
      const int edits = 1 + static_cast<int>(rng() % 4);
      for (int e = 0; e < edits && !text.empty(); ++e) {
        const std::size_t at = rng() % text.size();
        switch (rng() % 4) {
          case 0:
            text.erase(at, 1);
            break;
          case 1:
            text.insert(at, 1, alphabet[rng() % alphabet.size()]);
            break;
          case 2:
            text[at] = alphabet[rng() % alphabet.size()];
            break;
          default:
            text.resize(at);
            break;
        }
      }
    }
    auto r = Schema::deserialize(text);
    if (auto* e = std::get_if<SchemaJsonError>(&r)) {
      ASSERT_NE(e->message.find(" at line "), std::string::npos) << text;
      ASSERT_GE(e->line, 1u);
    } else {
      ++ok;
      // Whatever was read writes and reads back to the same text.
      const std::string written = std::get<Schema>(r).serialize();
      auto again = Schema::deserialize(written);
      ASSERT_TRUE(std::holds_alternative<Schema>(again)) << written;
      ASSERT_EQ(std::get<Schema>(again).serialize(), written);
    }
  }
  EXPECT_GT(ok, 0u);
}

}  // namespace
}  // namespace tessary
