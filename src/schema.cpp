// Schema model: sorted accessors, insertions and the JSON form.
//
// The JSON reader drives RapidJSON's iterative (non-recursive) SAX reader, so no nesting depth can
// exhaust the C++ stack, and feeds its events into a small state machine that builds the schema
// and names the first shape problem it meets.
#include "schema.hpp"

#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "utf8.hpp"

namespace tessary {

namespace {

template <class Container, class KeyOf>
std::vector<std::string_view> sorted_keys(const Container& container, KeyOf key_of) {
  std::vector<std::string_view> out;
  out.reserve(container.size());
  for (const auto& entry : container) out.emplace_back(key_of(entry));
  // std::string_view compares bytes as unsigned char: a proper prefix sorts first.
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string_view> sorted_set(const PropertySet& set) {
  return sorted_keys(set, [](const std::string& s) -> std::string_view { return s; });
}

}  // namespace

std::vector<std::string_view> Schema::node_labels() const {
  return sorted_keys(nodes, [](const auto& e) -> std::string_view { return e.first; });
}

std::vector<std::string_view> Schema::rel_types() const {
  return sorted_keys(relationships, [](const auto& e) -> std::string_view { return e.first; });
}

std::vector<std::string_view> Schema::node_properties(std::string_view label) const {
  const PropertySet* set = nodes.find(label);
  return set ? sorted_set(*set) : std::vector<std::string_view>{};
}

std::vector<std::string_view> Schema::rel_properties(std::string_view rel_type) const {
  const RelationshipDef* def = relationships.find(rel_type);
  return def ? sorted_set(def->properties) : std::vector<std::string_view>{};
}

std::optional<std::pair<std::string_view, std::string_view>> Schema::rel_src_tgt(
    std::string_view rel_type) const {
  const RelationshipDef* def = relationships.find(rel_type);
  if (!def) return std::nullopt;
  return std::pair<std::string_view, std::string_view>(def->source, def->target);
}

void Schema::insert_node(std::string_view label, PropertySet properties) {
  nodes.insert_or_assign(label, std::move(properties));
}

void Schema::insert_relationship(std::string_view rel_type, std::string_view source,
                                 std::string_view target, PropertySet properties) {
  relationships.insert_or_assign(
      rel_type, RelationshipDef{std::string(source), std::string(target), std::move(properties)});
}

// ---------------------------------------------------------------------------------------------
// Writer

void append_json_string(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  std::size_t run = 0;  // start of the bytes not yet copied
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto b = static_cast<unsigned char>(text[i]);
    if (b >= 0x20 && b != '"' && b != '\\') continue;
    out.append(text, run, i - run);
    run = i + 1;
    switch (b) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case 0x08:
        out += "\\b";
        break;
      case 0x09:
        out += "\\t";
        break;
      case 0x0A:
        out += "\\n";
        break;
      case 0x0C:
        out += "\\f";
        break;
      case 0x0D:
        out += "\\r";
        break;
      default:
        out += "\\u00";
        out += kHex[b >> 4];
        out += kHex[b & 0xF];
    }
  }
  out.append(text, run, text.size() - run);
  out += '"';
}

namespace {

void write_string_array(std::string& out, const PropertySet& set) {
  out += '[';
  bool first = true;
  for (const std::string& name : set) {
    if (!first) out += ',';
    first = false;
    append_json_string(out, name);
  }
  out += ']';
}

}  // namespace

std::string Schema::serialize() const {
  // Reserve for the text without escapes: names, quotes and separators.
  std::size_t size = 32;
  for (const auto& [label, props] : nodes) {
    size += label.size() + 5;
    for (const std::string& name : props) size += name.size() + 3;
  }
  for (const auto& [type, def] : relationships) {
    size += type.size() + def.source.size() + def.target.size() + 13;
    for (const std::string& name : def.properties) size += name.size() + 3;
  }
  std::string out;
  out.reserve(size);
  out += "{\"nodes\":{";
  bool first = true;
  for (const auto& [label, props] : nodes) {
    if (!first) out += ',';
    first = false;
    append_json_string(out, label);
    out += ':';
    write_string_array(out, props);
  }
  out += "},\"relationships\":{";
  first = true;
  for (const auto& [type, def] : relationships) {
    if (!first) out += ',';
    first = false;
    append_json_string(out, type);
    out += ":[";
    append_json_string(out, def.source);
    out += ',';
    append_json_string(out, def.target);
    out += ',';
    write_string_array(out, def.properties);
    out += ']';
  }
  out += "}}";
  return out;
}

// ---------------------------------------------------------------------------------------------
// Reader

namespace {

// A RapidJSON input stream over a byte range that need not be NUL-terminated. Past the end it
// reads '\0', which the reader treats as the end of input.
class RangeStream {
 public:
  using Ch = char;
  RangeStream(const char* begin, const char* end) : begin_(begin), cur_(begin), end_(end) {}
  Ch Peek() const { return cur_ < end_ ? *cur_ : '\0'; }
  Ch Take() { return cur_ < end_ ? *cur_++ : '\0'; }
  std::size_t Tell() const { return static_cast<std::size_t>(cur_ - begin_); }
  // Write access is never used by a non-in-situ reader.
  Ch* PutBegin() { return nullptr; }
  void Put(Ch) {}
  void Flush() {}
  std::size_t PutEnd(Ch*) { return 0; }

 private:
  const char* begin_;
  const char* cur_;
  const char* end_;
};

// What the state machine expects of the next value, given the innermost open container.
enum class Frame : std::uint8_t {
  Root,       // the top-level value: an object or a two-element array
  TopObject,  // the top-level object: "nodes", "relationships" or skipped keys
  TopArray,   // the top-level array: the nodes map, then the relationships map
  NodesMap,   // label -> property list
  NodeProps,  // the property list of one label
  RelsMap,    // type -> [source, target, properties]
  RelTuple,   // the three-element array of one type
  RelProps,   // the property list of one type
  Skip,       // the inside of a skipped value of an unknown key
};

enum class Field : std::uint8_t { None, Nodes, Relationships, Unknown };

struct FrameState {
  Frame frame;
  std::uint32_t index = 0;  // elements seen so far (arrays)
};

class SchemaBuilder {
 public:
  Schema schema;
  std::string error;     // set when a handler refused an event
  std::size_t stop = 0;  // the offset just after the refused token

  explicit SchemaBuilder(const RangeStream& stream) : stream_(stream) {
    stack_.push_back({Frame::Root});
  }

  bool done() const { return finished_; }

  // --- RapidJSON SAX interface -----------------------------------------------------------------
  bool Null() { return scalar("null"); }
  bool Bool(bool b) { return scalar(b ? "boolean `true`" : "boolean `false`"); }
  bool Int(int) { return scalar("integer"); }
  bool Uint(unsigned) { return scalar("integer"); }
  bool Int64(std::int64_t) { return scalar("integer"); }
  bool Uint64(std::uint64_t) { return scalar("integer"); }
  bool Double(double) { return scalar("floating point"); }
  bool RawNumber(const char* str, rapidjson::SizeType len, bool) {
    const std::string_view text(str, len);
    const bool is_float = text.find_first_of(".eE") != std::string_view::npos;
    std::string desc = is_float ? "floating point `" : "integer `";
    desc.append(text);
    desc += '`';
    return scalar(desc);
  }
  // The reader validates the input bytes, but a \u escape of a lone low surrogate would still
  // reach a handler encoded, so every decoded text is checked again.
  bool String(const char* str, rapidjson::SizeType len, bool) {
    bracket_ = false;
    const std::string_view text(str, len);
    if (!utf8_valid(text)) return fail("invalid unicode code point in string");
    FrameState& top = stack_.back();
    switch (top.frame) {
      case Frame::NodeProps:
        current_set_.insert(text);
        return true;
      case Frame::RelProps:
        current_rel_.properties.insert(text);
        return true;
      case Frame::RelTuple:
        if (top.index == 0) {
          current_rel_.source.assign(text);
          ++top.index;
          return true;
        }
        if (top.index == 1) {
          current_rel_.target.assign(text);
          ++top.index;
          return true;
        }
        break;
      default:
        break;
    }
    std::string desc = "string \"";
    desc.append(text);
    desc += '"';
    return scalar(desc);
  }
  bool StartObject() {
    bracket_ = true;  // the reader consumes a bracket only after its event
    switch (expectation()) {
      case Expect::Schema:
        stack_.push_back({Frame::TopObject});
        return true;
      case Expect::Map:
        stack_.push_back({pending_map_});
        return true;
      case Expect::Skip:
        return enter_skip();
      case Expect::Trailing:
        return fail("trailing characters");
      default:
        return mismatch("map");
    }
  }
  bool Key(const char* str, rapidjson::SizeType len, bool) {
    bracket_ = false;
    const std::string_view key(str, len);
    if (!utf8_valid(key)) return fail("invalid unicode code point in string");
    FrameState& top = stack_.back();
    switch (top.frame) {
      case Frame::TopObject:
        if (key == "nodes") {
          if (seen_nodes_) return fail("duplicate field `nodes`");
          seen_nodes_ = true;
          field_ = Field::Nodes;
        } else if (key == "relationships") {
          if (seen_rels_) return fail("duplicate field `relationships`");
          seen_rels_ = true;
          field_ = Field::Relationships;
        } else {
          field_ = Field::Unknown;
        }
        return true;
      case Frame::NodesMap:
      case Frame::RelsMap:
        current_key_.assign(key);
        return true;
      default:  // keys inside skipped values
        return true;
    }
  }
  bool EndObject(rapidjson::SizeType) {
    bracket_ = true;
    const Frame frame = stack_.back().frame;
    if (frame == Frame::Skip) return leave_skip();
    if (frame == Frame::TopObject) {
      if (!seen_nodes_) return fail("missing field `nodes`");
      if (!seen_rels_) return fail("missing field `relationships`");
    }
    pop_value();
    return true;
  }
  bool StartArray() {
    bracket_ = true;
    switch (expectation()) {
      case Expect::Schema:
        stack_.push_back({Frame::TopArray});
        return true;
      case Expect::Sequence:
        if (stack_.back().frame == Frame::RelTuple) {
          current_rel_.properties = PropertySet{};
          stack_.push_back({Frame::RelProps});
        } else {
          current_set_ = PropertySet{};
          stack_.push_back({Frame::NodeProps});
        }
        return true;
      case Expect::Tuple:
        current_rel_ = RelationshipDef{};
        stack_.push_back({Frame::RelTuple});
        return true;
      case Expect::Skip:
        return enter_skip();
      case Expect::Trailing:
        return fail("trailing characters");
      default:
        return mismatch("sequence");
    }
  }
  bool EndArray(rapidjson::SizeType) {
    bracket_ = true;
    const FrameState top = stack_.back();
    switch (top.frame) {
      case Frame::Skip:
        return leave_skip();
      case Frame::TopArray:
        if (top.index < 2) {
          return fail("invalid length " + std::to_string(top.index) +
                      ", expected struct Schema with 2 elements");
        }
        break;
      case Frame::NodeProps:
        schema.insert_node(current_key_, std::move(current_set_));
        current_set_ = PropertySet{};
        break;
      case Frame::RelTuple:
        if (top.index < 3) {
          return fail("invalid length " + std::to_string(top.index) +
                      ", expected a tuple of size 3");
        }
        schema.relationships.insert_or_assign(current_key_, std::move(current_rel_));
        current_rel_ = RelationshipDef{};
        break;
      default:
        break;
    }
    pop_value();
    return true;
  }

 private:
  enum class Expect : std::uint8_t { Schema, Map, Sequence, Tuple, String, Skip, Trailing };

  // What the next value must be, from the innermost open container (and, for the top-level
  // object, the key just read). Sets pending_map_ when a map is expected.
  Expect expectation() {
    const FrameState& top = stack_.back();
    switch (top.frame) {
      case Frame::Root:
        return finished_ ? Expect::Trailing : Expect::Schema;
      case Frame::TopObject:
        if (field_ == Field::Unknown) return Expect::Skip;
        pending_map_ = field_ == Field::Nodes ? Frame::NodesMap : Frame::RelsMap;
        return Expect::Map;
      case Frame::TopArray:
        if (top.index >= 2) return Expect::Trailing;
        pending_map_ = top.index == 0 ? Frame::NodesMap : Frame::RelsMap;
        return Expect::Map;
      case Frame::NodesMap:
        return Expect::Sequence;
      case Frame::RelsMap:
        return Expect::Tuple;
      case Frame::RelTuple:
        if (top.index < 2) return Expect::String;
        if (top.index == 2) return Expect::Sequence;
        return Expect::Trailing;
      case Frame::NodeProps:
      case Frame::RelProps:
        return Expect::String;
      case Frame::Skip:
        return Expect::Skip;
    }
    return Expect::Trailing;
  }

  static const char* expected_text(Expect e) {
    switch (e) {
      case Expect::Schema:
        return "struct Schema";
      case Expect::Map:
        return "a map";
      case Expect::Sequence:
        return "a sequence";
      case Expect::Tuple:
        return "a tuple of size 3";
      default:
        return "a string";
    }
  }

  bool mismatch(std::string_view found) {
    const Expect e = expectation();
    std::string msg = "invalid type: ";
    msg.append(found);
    msg += ", expected ";
    msg += expected_text(e);
    return fail(std::move(msg));
  }

  // A scalar value (null, boolean, number, or a string the current frame does not take).
  bool scalar(std::string_view desc) {
    bracket_ = false;
    const Expect e = expectation();
    if (e == Expect::Skip) {
      if (stack_.back().frame == Frame::TopObject) field_ = Field::None;
      return true;
    }
    if (e == Expect::Trailing) return fail("trailing characters");
    return mismatch(desc);
  }

  bool enter_skip() {
    ++skip_depth_;
    if (skip_depth_ == 1) stack_.push_back({Frame::Skip});
    return true;
  }
  bool leave_skip() {
    if (--skip_depth_ == 0) {
      stack_.pop_back();
      if (stack_.back().frame == Frame::TopObject) field_ = Field::None;
    }
    return true;
  }

  // A container closed: it counts as one finished element of its parent.
  void pop_value() {
    stack_.pop_back();
    if (stack_.empty()) return;
    FrameState& parent = stack_.back();
    switch (parent.frame) {
      case Frame::Root:
        finished_ = true;
        break;
      case Frame::TopObject:
        field_ = Field::None;
        break;
      default:
        ++parent.index;
        break;
    }
  }

  bool fail(std::string msg) {
    error = std::move(msg);
    stop = stream_.Tell() + (bracket_ ? 1 : 0);
    return false;
  }

  const RangeStream& stream_;
  bool bracket_ = false;
  std::vector<FrameState> stack_;
  Frame pending_map_ = Frame::NodesMap;
  Field field_ = Field::None;
  bool seen_nodes_ = false;
  bool seen_rels_ = false;
  bool finished_ = false;
  std::size_t skip_depth_ = 0;
  std::string current_key_;
  PropertySet current_set_;
  RelationshipDef current_rel_;
};

// Descriptions of the JSON text's own syntax errors.
std::string syntax_message(rapidjson::ParseErrorCode code) {
  using namespace rapidjson;
  switch (code) {
    case kParseErrorDocumentEmpty:
      return "EOF while parsing a value";
    case kParseErrorValueInvalid:
      return "expected value";
    case kParseErrorObjectMissName:
      return "key must be a string";
    case kParseErrorObjectMissColon:
      return "expected `:`";
    case kParseErrorObjectMissCommaOrCurlyBracket:
      return "expected `,` or `}`";
    case kParseErrorArrayMissCommaOrSquareBracket:
      return "expected `,` or `]`";
    case kParseErrorStringUnicodeEscapeInvalidHex:
      return "invalid escape";
    case kParseErrorStringUnicodeSurrogateInvalid:
      return "lone leading surrogate in hex escape";
    case kParseErrorStringEscapeInvalid:
      return "invalid escape";
    case kParseErrorStringMissQuotationMark:
      return "EOF while parsing a string";
    case kParseErrorStringInvalidEncoding:
      return "invalid unicode code point";
    case kParseErrorNumberTooBig:
      return "number out of range";
    case kParseErrorNumberMissFraction:
      return "invalid number";
    case kParseErrorNumberMissExponent:
      return "invalid number";
    default:
      return GetParseError_En(code);
  }
}

// Line (from 1) and column of the place where the reader stopped, `offset` bytes into the text:
// the column counts the characters of that line up to there, so it names the last character
// read (0 when nothing of the line was read).
std::pair<std::size_t, std::size_t> line_column(std::string_view text, std::size_t offset) {
  offset = std::min(offset, text.size());
  std::size_t line = 1;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < offset; ++i) {
    if (text[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  std::size_t column = 0;
  for (std::size_t i = line_start; i < offset; ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++column;
  }
  return {line, column};
}

SchemaJsonError make_error(std::string_view text, std::size_t offset, std::string description) {
  const auto [line, column] = line_column(text, offset);
  SchemaJsonError err;
  err.message = std::move(description) + " at line " + std::to_string(line) + " column " +
                std::to_string(column);
  err.line = line;
  err.column = column;
  return err;
}

bool is_json_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

}  // namespace

std::variant<Schema, SchemaJsonError> Schema::deserialize(std::string_view json) {
  constexpr unsigned kFlags = rapidjson::kParseIterativeFlag | rapidjson::kParseStopWhenDoneFlag |
                              rapidjson::kParseValidateEncodingFlag |
                              rapidjson::kParseNumbersAsStringsFlag;
  RangeStream stream(json.data(), json.data() + json.size());
  SchemaBuilder builder(stream);
  rapidjson::Reader reader;
  const rapidjson::ParseResult result = reader.Parse<kFlags>(stream, builder);
  if (result.IsError()) {
    if (result.Code() == rapidjson::kParseErrorTermination) {
      return make_error(json, builder.stop, std::move(builder.error));
    }
    // A syntax error: the reader stopped on the offending character.
    return make_error(json, result.Offset() + 1, syntax_message(result.Code()));
  }
  std::size_t pos = stream.Tell();
  while (pos < json.size() && is_json_space(json[pos])) ++pos;
  if (pos < json.size()) return make_error(json, pos + 1, "trailing characters");
  return std::move(builder.schema);
}

}  // namespace tessary
