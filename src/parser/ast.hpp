#pragma once
// The query tree: the owned, read-only representation of one parsed query.
//
// Every node owns its children (no sharing, no back references) and copies deeply. Sum types
// are a struct holding a `std::variant` named `node` whose alternatives are nested structs in
// a fixed order; `kind()` returns that order as an enumeration, and `is<T>()`, `get_if<T>()`
// and `as<T>()` ask for one alternative. The variants of an expression are listed once, in
// expr_variants.def. A walk over an expression visits it, with one lambda per variant or per
// shape of variant; a variant that no lambda takes does not compile:
//
//   e.visit(Overload{
//       [&]<ExprKind K>(const BinaryExpr<K>& op) { walk(op.left()); walk(op.right()); },
//       [&](const Expr::Property& p) { walk(*p.expr); },
//       [](const OneOf<Expr::Integer, Expr::Null /* ... */> auto&) {},
//       ...
//   });
//
// Boxed children are `Box<T>` (a deep-copying owning pointer); an optional boxed child is a
// `Box<T>` that may be empty (test it with `if (box)`). A tree's boxes and lists take their memory
// from the arena that the root holds (parser/arena.hpp), released whole with the root.
// Maps (map literals, inline property maps) are vectors of unique keys in the order the keys
// were first written; a key written twice holds the value written last.
//
// Beside its text, every label, relationship type and property key keeps the byte offset in the
// query text at which it is written (`NameOffsets`, `key_offset`), so that a fix can rewrite
// exactly the name a finding is about. The text is the name exactly as written, backticks
// included, so its length is the length of what stands at that offset.
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <ostream>
#include <stdexcept>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "parser/arena.hpp"

namespace tessary {

// Owning pointer that copies its pointee. Empty only where a field is documented as optional.
// Made while a tree is built, the pointee lives in the tree's arena, and releasing the box only
// destroys it; otherwise (a copy made later, or a box made outside a build) it is on the heap and
// the box frees it. The low bit of the pointer tells which.
template <class T>
class Box {
 public:
  Box() = default;
  explicit Box(T value) {
    if (Arena* arena = building_arena()) {
      bits_ = reinterpret_cast<std::uintptr_t>(new (arena->allocate(sizeof(T), alignof(T)))
                                                   T(std::move(value)));
    } else {
      bits_ = reinterpret_cast<std::uintptr_t>(new T(std::move(value))) | kOnHeap;
    }
  }
  // A box of what `make()` returns, made in the box's own room: the value is never moved.
  template <class Make>
  static Box made_by(Make&& make) {
    return made_by(building(), std::forward<Make>(make));
  }
  // The same, by `b`: this thread's Building, as a step that keeps it hands it over.
  template <class Make>
  static Box made_by(const Building& b, Make&& make) {
    Box box;
    if (Arena* arena = b.arena) {
      box.bits_ =
          reinterpret_cast<std::uintptr_t>(new (arena->allocate(sizeof(T), alignof(T))) T(make()));
    } else {
      box.bits_ = reinterpret_cast<std::uintptr_t>(new T(make())) | kOnHeap;
    }
    return box;
  }
  Box(const Box& other) : bits_(other ? copy_of(*other) : 0) {}
  Box(Box&& other) noexcept : bits_(std::exchange(other.bits_, 0)) {}
  Box& operator=(const Box& other) {
    if (this != &other) {
      std::uintptr_t copy = other ? copy_of(*other) : 0;
      release();
      bits_ = copy;
    }
    return *this;
  }
  Box& operator=(Box&& other) noexcept {
    if (this != &other) {
      release();
      bits_ = std::exchange(other.bits_, 0);
    }
    return *this;
  }
  ~Box() { release(); }

  explicit operator bool() const { return bits_ != 0; }
  bool has_value() const { return bits_ != 0; }
  T& operator*() { return *get(); }
  const T& operator*() const { return *get(); }
  T* operator->() { return get(); }
  const T* operator->() const { return get(); }
  T* get() { return reinterpret_cast<T*>(bits_ & ~kOnHeap); }
  const T* get() const { return reinterpret_cast<const T*>(bits_ & ~kOnHeap); }

 private:
  static constexpr std::uintptr_t kOnHeap = 1;  // every tree type is aligned to at least 2
  // A copy made while a tree is built belongs to that tree, any other to the heap.
  static std::uintptr_t copy_of(const T& value) {
    if (Arena* arena = building_arena()) {
      return reinterpret_cast<std::uintptr_t>(new (arena->allocate(sizeof(T), alignof(T)))
                                                  T(value));
    }
    return reinterpret_cast<std::uintptr_t>(new T(value)) | kOnHeap;
  }
  void release() noexcept {
    if (bits_ == 0) return;
    if (bits_ & kOnHeap) {
      delete get();
    } else {
      get()->~T();
    }
    bits_ = 0;
  }
  std::uintptr_t bits_ = 0;
};

// An optional boxed child: a Box that is empty when the child is absent.
template <class T>
using MaybeBox = Box<T>;

// The byte offsets in the query text at which names are written, in order: one for each name of
// a label list, a relationship-type list or a property chain, or one for each writing of a map
// key. Nearly every such list has at most one name, so the first offset is held inline and only
// the others take an allocation; the inline part is all that most trees create, move and release.
class NameOffsets {
 public:
  NameOffsets() = default;
  explicit NameOffsets(std::uint32_t offset) : size_(1), first_(offset) {}
  NameOffsets(const NameOffsets& other) : size_(other.size()), first_(other.first_) {
    if (other.rest_ != nullptr) copy_rest(other);
  }
  NameOffsets(NameOffsets&& other) noexcept
      : size_(std::exchange(other.size_, 0)),
        first_(other.first_),
        rest_(std::exchange(other.rest_, nullptr)) {}
  NameOffsets& operator=(NameOffsets other) noexcept {
    std::swap(size_, other.size_);
    std::swap(first_, other.first_);
    std::swap(rest_, other.rest_);
    return *this;
  }
  ~NameOffsets() {
    if (size_ & kRestOnHeap) release();
  }

  std::size_t size() const { return size_ & ~kRestOnHeap; }
  bool empty() const { return size() == 0; }
  std::uint32_t operator[](std::size_t i) const { return i == 0 ? first_ : rest_[i - 1]; }
  void push_back(std::uint32_t offset) {
    if (empty()) {
      first_ = offset;
    } else {
      append(offset);
    }
    ++size_;
  }

 private:
  // Set in `size_` when `rest_` is on the heap rather than in a tree's arena.
  static constexpr std::uint32_t kRestOnHeap = std::uint32_t{1} << 31;

  // The offsets after the first live in `rest_`, which holds room for the next power of two of
  // their number.
  [[gnu::noinline]] void append(std::uint32_t offset) {
    const std::size_t held = size() - 1;
    if ((held & (held - 1)) == 0) {  // full: 0, 1, 2, 4, ... offsets
      const bool was_on_heap = (size_ & kRestOnHeap) != 0;
      std::uint32_t* grown = room(held == 0 ? 1 : 2 * held);
      std::copy(rest_, rest_ + held, grown);
      if (was_on_heap) delete[] rest_;
      rest_ = grown;
    }
    rest_[held] = offset;
  }
  [[gnu::noinline]] void copy_rest(const NameOffsets& other) {
    const std::size_t held = size() - 1;
    rest_ = room(std::bit_ceil(held));
    std::copy(other.rest_, other.rest_ + held, rest_);
  }
  // Room for `n` offsets, in the building arena or else on the heap (noted in `size_`).
  std::uint32_t* room(std::size_t n) {
    if (Arena* arena = building_arena()) {
      size_ &= ~kRestOnHeap;
      return static_cast<std::uint32_t*>(
          arena->allocate(n * sizeof(std::uint32_t), alignof(std::uint32_t)));
    }
    auto* heap = new std::uint32_t[n];
    size_ |= kRestOnHeap;
    return heap;
  }
  [[gnu::noinline]] void release() noexcept { delete[] rest_; }

  std::uint32_t size_ = 0;  // the count, and kRestOnHeap
  std::uint32_t first_ = 0;
  std::uint32_t* rest_ = nullptr;
};

// A text of the tree in 13 bytes and with no alignment of its own, so that an expression holds a
// variable's name in place beside its kind. It takes its bytes as a Text does: while a tree is
// built, where the tree's Text of the same bytes would point (into the arena's copy of the query
// text, or into the arena), which it never frees; otherwise a copy on the heap that it owns.
class PackedText {
 public:
  PackedText() = default;
  PackedText(std::string_view text) { assign(text); }  // NOLINT: implicit on purpose
  PackedText(const char* text) { assign(text); }       // NOLINT: implicit on purpose
  // The same, by `b`: this thread's Building, as a step that keeps it hands it over.
  PackedText(std::string_view text, const Building& b) { assign(text, b); }
  PackedText(const PackedText& other) { assign(other.view()); }
  PackedText(PackedText&& other) noexcept { take(other); }
  PackedText& operator=(const PackedText& other) {
    if (this != &other) *this = PackedText(other);
    return *this;
  }
  PackedText& operator=(PackedText&& other) noexcept {
    if (this != &other) {
      release();
      take(other);
    }
    return *this;
  }
  ~PackedText() { release(); }

  const char* data() const {
    const char* data;
    std::memcpy(&data, data_, sizeof data);
    return data;
  }
  std::size_t size() const {
    std::uint32_t size;
    std::memcpy(&size, size_, sizeof size);
    return size;
  }
  bool empty() const { return size() == 0; }
  std::string_view view() const { return {data(), size()}; }
  operator std::string_view() const { return view(); }  // NOLINT: implicit on purpose
  std::string str() const { return std::string(view()); }

  friend bool operator==(const PackedText& a, const PackedText& b) { return a.view() == b.view(); }
  friend bool operator==(const PackedText& a, std::string_view b) { return a.view() == b; }
  friend bool operator==(const PackedText& a, const char* b) { return a.view() == b; }
  friend std::ostream& operator<<(std::ostream& out, const PackedText& t) {
    return out << t.view();
  }

 private:
  void assign(std::string_view text) { assign(text, building()); }
  void assign(std::string_view text, const Building& b) {
    if (b.arena != nullptr) {
      // Made while a tree is built, a Text points into the tree's memory and owns no bytes.
      const Text made(text, b);
      set(made.data(), made.size(), false);
      return;
    }
    assign_on_heap(text);
  }
  void assign_on_heap(std::string_view text) {
    if (text.empty()) return;
    if (text.size() > std::numeric_limits<std::uint32_t>::max()) {
      throw std::length_error("tree text longer than 4 GiB");
    }
    char* bytes = new char[text.size()];
    std::memcpy(bytes, text.data(), text.size());
    set(bytes, text.size(), true);
  }
  void set(const char* data, std::size_t size, bool on_heap) noexcept {
    const auto size32 = static_cast<std::uint32_t>(size);
    std::memcpy(data_, &data, sizeof data);
    std::memcpy(size_, &size32, sizeof size32);
    on_heap_ = on_heap;
  }
  // Takes what `other` held, which is left empty.
  void take(PackedText& other) noexcept {
    std::memcpy(data_, other.data_, sizeof data_);
    std::memcpy(size_, other.size_, sizeof size_);
    on_heap_ = other.on_heap_;
    other.set(nullptr, 0, false);
  }
  void release() noexcept {
    if (on_heap_) delete[] data();
  }

  unsigned char data_[sizeof(const char*)] = {};
  unsigned char size_[sizeof(std::uint32_t)] = {};
  bool on_heap_ = false;
};

static_assert(sizeof(PackedText) == 13 && alignof(PackedText) == 1);

struct Expr;
struct Pattern;
struct PatternElement;
struct RegularQuery;
struct MapEntry;  // defined after Expr: { key, value }

// ---------------------------------------------------------------------------------------------
// Patterns

struct MapOrParam {
  struct Map {
    TreeList<MapEntry> entries;  // unique keys, first-written order, last value kept
  };
  struct Param {
    Text name;  // without the leading "$"
  };
  std::variant<Map, Param> node;
};

enum class RelationshipDirection : std::uint8_t { Right = 0, Left = 1, Both = 2 };

struct NodePattern {
  MaybeText variable;
  TreeList<Text> labels;            // without the colons
  MaybeBox<MapOrParam> properties;  // absent without a map or parameter
  NameOffsets label_offsets;        // where each of `labels` is written
};

struct RangeBounds {
  std::optional<std::int64_t> min;
  std::optional<std::int64_t> max;
};

struct RelationshipPattern {
  MaybeText variable;
  TreeList<Text> rel_types;
  MaybeBox<MapOrParam> properties;
  MaybeBox<RangeBounds> range;  // absent without "*"; both bounds absent for a bare "*"
  RelationshipDirection direction = RelationshipDirection::Both;
  NameOffsets rel_type_offsets;  // where each of `rel_types` is written
};

struct PatternStep {
  RelationshipPattern relationship;
  NodePattern node;
};

struct PatternElement {
  NodePattern start;
  TreeList<PatternStep> chain;  // each relationship with the node after it, left to right
};

struct PatternPart {
  MaybeText variable;  // path variable of p = (...)
  PatternElement element;
};

struct Pattern {
  TreeList<PatternPart> parts;
};

// ---------------------------------------------------------------------------------------------
// Expressions

enum class ExprKind : std::uint8_t {
#define TESSARY_EXPR(name, shape) name,
#include "parser/expr_variants.def"
};

inline constexpr std::size_t kExprKindCount = 0
#define TESSARY_EXPR(name, shape) +1
#include "parser/expr_variants.def"
    ;

struct OperandPair;  // defined after Expr: { left, right }

// Operator with two operands (the tag keeps the alternatives distinct types). Both operands are
// in one box, so that an operator takes one allocation and is held inline by its expression.
template <ExprKind K>
struct BinaryExpr {
  Box<OperandPair> operands;  // never empty
  const Expr& left() const;
  const Expr& right() const;
};

// Operator with one operand.
template <ExprKind K>
struct UnaryExpr {
  Box<Expr> operand;
};

// all / any / none / single (x IN list WHERE predicate).
template <ExprKind K>
struct QuantifierExpr {
  Text variable;
  Box<Expr> list;
  MaybeBox<Expr> predicate;
};

struct CaseAlternative;  // defined after Expr: { when, then }

// std::variant of all the types but the first, which lets a generated list put a comma before
// each of its entries.
template <class Ignored, class... T>
using VariantOfRest = std::variant<T...>;

// The position of `T` among the types of a std::variant (their number when it is not one).
template <class T, class... U>
constexpr std::size_t index_in(std::variant<U...>*) {
  constexpr bool same[] = {std::is_same_v<T, U>...};
  std::size_t i = 0;
  while (i < sizeof...(U) && !same[i]) ++i;
  return i;
}

// A visitor made of several lambdas: Expr::visit calls the one that takes the visited type.
template <class... F>
struct Overload : F... {
  using F::operator()...;
};
template <class... F>
Overload(F...) -> Overload<F...>;

// For a lambda that takes any one of a few types:
//   [](const OneOf<Expr::Integer, Expr::Null> auto&) { ... }
template <class T, class... U>
concept OneOf = (std::is_same_v<T, U> || ...);

struct Expr {
  struct Integer {
    std::int64_t value = 0;
  };
  struct Float {
    double value = 0.0;
  };
  struct String {
    Text value;
  };  // content between the quotes, escapes unprocessed
  struct Bool {
    bool value = false;
  };
  struct Null {};
  struct List {
    TreeList<Expr> items;
  };
  struct Map {
    TreeList<MapEntry> entries;
  };  // unique keys, last value kept
  struct Variable {
    PackedText name;  // held in place by its expression
  };
  struct Property {
    Box<Expr> expr;
    Text key;
    std::uint32_t key_offset = 0;  // where `key` is written
  };
  struct Index {
    Box<Expr> expr;
    Box<Expr> index;
  };
  struct Slice {
    Box<Expr> expr;
    MaybeBox<Expr> from;
    MaybeBox<Expr> to;
  };
  struct Parameter {
    Text name;
  };  // without "$"
  struct FunctionCall {
    Text name;  // as written, namespace included
    TreeList<Expr> args;
    bool distinct = false;
  };
  struct CountStar {};
  struct Case {
    MaybeBox<Expr> subject;  // present for the simple form CASE x WHEN ...
    TreeList<CaseAlternative> alternatives;
    MaybeBox<Expr> else_expr;
  };
  struct ListComprehension {
    Text variable;
    Box<Expr> list;
    MaybeBox<Expr> filter;      // the WHERE part
    MaybeBox<Expr> projection;  // the part after "|"
  };
  struct Reduce {
    Text accumulator;
    Box<Expr> init;
    Text variable;
    Box<Expr> list;
    Box<Expr> projection;
  };
  struct ShortestPath {
    Box<PatternElement> element;
    bool all = false;  // allShortestPaths
  };
  struct PatternComprehension {
    Box<PatternElement> element;
    MaybeBox<Expr> filter;
    Box<Expr> projection;
  };
  struct Exists {
    Box<Pattern> pattern;
  };
  struct CountSubquery {
    Box<RegularQuery> query;
  };
  struct CollectSubquery {
    Box<RegularQuery> query;
  };

  // The operators and quantifiers, one template per shape tagged with the variant's kind.
#define TESSARY_EXPR_own(name)
#define TESSARY_EXPR_binary(name) using name = BinaryExpr<ExprKind::name>;
#define TESSARY_EXPR_unary(name) using name = UnaryExpr<ExprKind::name>;
#define TESSARY_EXPR_quantifier(name) using name = QuantifierExpr<ExprKind::name>;
#define TESSARY_EXPR(name, shape) TESSARY_EXPR_##shape(name)
#include "parser/expr_variants.def"
#undef TESSARY_EXPR_own
#undef TESSARY_EXPR_binary
#undef TESSARY_EXPR_unary
#undef TESSARY_EXPR_quantifier

  // How an expression holds a variant: in place when it fits the expression's room (a box, a
  // number, a variable's name, an operator with its box of operands), else boxed, so that an
  // expression takes 16 bytes and the larger variants (a property access, a list, a function
  // call, CASE, ...) do not size every expression of the tree.
  static constexpr std::size_t kRoom = 13;
  template <class T>
  static constexpr bool kInPlace = sizeof(T) <= kRoom && alignof(T) <= 8;
  template <class T>
  using Held = std::conditional_t<kInPlace<T>, T, Box<T>>;

  // The variants in their order (a list of types; no such variant is ever made).
  using Alternatives = VariantOfRest<void
#define TESSARY_EXPR(name, shape) , name
#include "parser/expr_variants.def"
                                     >;
  // The kind of the variant `T`.
  template <class T>
  static constexpr ExprKind kKindOf =
      static_cast<ExprKind>(index_in<T>(static_cast<Alternatives*>(nullptr)));

  // An integer 0, as a std::variant of the variants would be.
  Expr() noexcept : kind_(ExprKind::Integer) { new (room_) Integer{}; }
  // A variant, or a box of one.
  template <class T, class = std::enable_if_t<!std::is_same_v<std::decay_t<T>, Expr>>>
  Expr(T&& alternative)  // NOLINT: implicit on purpose
      : kind_(kKindOf<typename Unboxed<std::decay_t<T>>::type>) {
    using Variant = typename Unboxed<std::decay_t<T>>::type;
    new (room_) Held<Variant>(std::forward<T>(alternative));
  }
  Expr(const Expr& other) : kind_(other.kind_) {
    other.visit_held([this]<class H>(const H& held) { new (room_) H(held); });
  }
  Expr(Expr&& other) noexcept : kind_(other.kind_) {
    other.visit_held([this]<class H>(H& held) { new (room_) H(std::move(held)); });
  }
  Expr& operator=(const Expr& other) {
    if (this != &other) *this = Expr(other);
    return *this;
  }
  Expr& operator=(Expr&& other) noexcept {
    if (this != &other) {
      destroy();
      kind_ = other.kind_;
      other.visit_held([this]<class H>(H& held) { new (room_) H(std::move(held)); });
    }
    return *this;
  }
  ~Expr() { destroy(); }

  // Makes this expression the variant `T` of `parts` (the members of `T`, in order), made in
  // its place or in its box. Whatever the expression held may have been moved into the parts.
  template <class T, class... Parts>
  void emplace(Parts&&... parts) {
    if constexpr (kInPlace<T>) {
      T made{std::forward<Parts>(parts)...};
      destroy();
      new (room_) T(std::move(made));
      kind_ = kKindOf<T>;
    } else {
      emplace_by<T>(building(), std::forward<Parts>(parts)...);
    }
  }
  // The same, boxing by `b`: this thread's Building, as a step that keeps it hands it over.
  template <class T, class... Parts>
  void emplace_by(const Building& b, Parts&&... parts) {
    if constexpr (kInPlace<T>) {
      emplace<T>(std::forward<Parts>(parts)...);
    } else {
      Box<T> made = Box<T>::made_by(b, [&] { return T{std::forward<Parts>(parts)...}; });
      destroy();
      new (room_) Box<T>(std::move(made));
      kind_ = kKindOf<T>;
    }
  }

  ExprKind kind() const { return kind_; }
  template <class T>
  bool is() const {
    return kind_ == kKindOf<T>;
  }
  // Throws std::bad_variant_access when the expression holds another variant.
  template <class T>
  const T& as() const {
    if (!is<T>()) throw std::bad_variant_access();
    return open(held<T>());
  }
  template <class T>
  T& as() {
    if (!is<T>()) throw std::bad_variant_access();
    return open(held<T>());
  }
  template <class T>
  const T* get_if() const {
    return is<T>() ? &open(held<T>()) : nullptr;
  }

  // Calls `visitor` with the alternative this expression holds, as its own type, and returns
  // what that call returns; every call must return the same type. A switch over the kind, so
  // that the visitor's bodies are inlined into one jump table rather than called through a
  // table of function pointers.
  template <class Visitor>
  [[gnu::always_inline]] decltype(auto) visit(Visitor&& visitor) const {
    switch (kind_) {
#define TESSARY_EXPR(name, shape) \
  case ExprKind::name:            \
    return std::forward<Visitor>(visitor)(open(held<name>()));
#include "parser/expr_variants.def"
    }
    __builtin_unreachable();  // a tree's expression always holds one of its variants
  }

 private:
  template <class T>
  struct Unboxed {
    using type = T;
  };
  template <class T>
  struct Unboxed<Box<T>> {
    using type = T;
  };
  template <class T>
  Held<T>& held() {
    return *std::launder(reinterpret_cast<Held<T>*>(room_));
  }
  template <class T>
  const Held<T>& held() const {
    return *std::launder(reinterpret_cast<const Held<T>*>(room_));
  }
  // Calls `f` with what the expression holds for its variant: the variant, or its box.
  template <class F>
  [[gnu::always_inline]] void visit_held(F&& f) {
    switch (kind_) {
#define TESSARY_EXPR(name, shape) \
  case ExprKind::name:            \
    return f(held<name>());
#include "parser/expr_variants.def"
    }
  }
  template <class F>
  [[gnu::always_inline]] void visit_held(F&& f) const {
    switch (kind_) {
#define TESSARY_EXPR(name, shape) \
  case ExprKind::name:            \
    return f(held<name>());
#include "parser/expr_variants.def"
    }
  }
  void destroy() noexcept {
    visit_held([]<class H>(H& held) { held.~H(); });
  }

  template <class T>
  static T& open(T& held) {
    return held;
  }
  template <class T>
  static const T& open(const T& held) {
    return held;
  }
  template <class T>
  static T& open(Box<T>& held) {
    return *held;
  }
  template <class T>
  static const T& open(const Box<T>& held) {
    return *held;
  }

  alignas(8) unsigned char room_[kRoom];
  ExprKind kind_;
};

static_assert(std::variant_size_v<Expr::Alternatives> == kExprKindCount);
static_assert(sizeof(Expr) == 16);
static_assert(Expr::kInPlace<Expr::Variable>);

struct OperandPair {
  Expr left;
  Expr right;
};

template <ExprKind K>
const Expr& BinaryExpr<K>::left() const {
  return operands->left;
}
template <ExprKind K>
const Expr& BinaryExpr<K>::right() const {
  return operands->right;
}

struct MapEntry {
  Text key;
  Expr value;
  NameOffsets key_offsets;  // every place the key is written, in order
};

struct CaseAlternative {
  Expr when;
  Expr then;
};

// ---------------------------------------------------------------------------------------------
// Projections

struct SortItem {
  Expr expr;
  bool descending = false;
};

struct ReturnItem {
  Expr expr;
  MaybeText alias;  // the name after AS
};

// The parts of a projection that few are written with, in one box that a projection without any
// of them leaves empty.
struct ProjectionTail {
  MaybeBox<TreeList<SortItem>> order_by;  // absent without ORDER BY
  MaybeBox<Expr> skip;
  MaybeBox<Expr> limit;
  MaybeBox<Expr> where_clause;  // a WITH's WHERE; always absent in a RETURN
};

// What a WITH and a RETURN both hold. The parts in the tail read as null when not written.
struct Projection {
  TreeList<ReturnItem> items;      // empty for WITH * and RETURN *
  MaybeBox<ProjectionTail> tail;   // absent when none of its parts is written
  bool distinct = false;

  const TreeList<SortItem>* order_by() const { return tail ? tail->order_by.get() : nullptr; }
  const Expr* skip() const { return tail ? tail->skip.get() : nullptr; }
  const Expr* limit() const { return tail ? tail->limit.get() : nullptr; }
};

struct WithClause : Projection {
  const Expr* where_clause() const { return tail ? tail->where_clause.get() : nullptr; }
};

struct ReturnClause : Projection {};

// ---------------------------------------------------------------------------------------------
// Clauses

struct YieldItem {
  Text variable;                     // the name bound in the query
  MaybeText result_field;  // the field before AS; absent without AS
};

enum class ReadingClauseKind : std::uint8_t { Match, Unwind, Call, CallSubquery };

struct ReadingClause {
  struct Match {
    Pattern pattern;
    MaybeBox<Expr> where_clause;
    bool optional = false;
  };
  struct Unwind {
    Expr expr;
    Text variable;
  };
  struct Call {
    Text procedure;
    TreeList<Expr> args;
    TreeList<YieldItem> yield_items;  // empty without YIELD
  };
  struct CallSubquery {
    Box<RegularQuery> query;
  };
  std::variant<Match, Unwind, Call, CallSubquery> node;

  ReadingClauseKind kind() const { return static_cast<ReadingClauseKind>(node.index()); }
  template <class T>
  const T& as() const {
    return std::get<T>(node);
  }
  template <class T>
  const T* get_if() const {
    return std::get_if<T>(&node);
  }
};

struct PropertyExpr {
  Text variable;
  TreeList<Text> keys;      // n.a.b gives a, b
  NameOffsets key_offsets;  // where each of `keys` is written
};

enum class SetItemKind : std::uint8_t { Property, Assign, Append, Labels };

struct SetItem {
  struct Property {
    PropertyExpr target;
    Expr value;
  };  // n.key = value
  struct Assign {
    Text variable;
    Expr value;
  };  // n = value
  struct Append {
    Text variable;
    Expr value;
  };               // n += value
  struct Labels {  // n:A:B
    Text variable;
    TreeList<Text> labels;
    NameOffsets label_offsets;  // where each of `labels` is written
  };
  std::variant<Property, Assign, Append, Labels> node;

  SetItemKind kind() const { return static_cast<SetItemKind>(node.index()); }
  template <class T>
  const T& as() const {
    return std::get<T>(node);
  }
  template <class T>
  const T* get_if() const {
    return std::get_if<T>(&node);
  }
};

enum class RemoveItemKind : std::uint8_t { Labels, Property };

struct RemoveItem {
  struct Labels {
    Text variable;
    TreeList<Text> labels;
    NameOffsets label_offsets;  // where each of `labels` is written
  };
  struct Property {
    PropertyExpr target;
  };
  std::variant<Labels, Property> node;

  RemoveItemKind kind() const { return static_cast<RemoveItemKind>(node.index()); }
  template <class T>
  const T& as() const {
    return std::get<T>(node);
  }
  template <class T>
  const T* get_if() const {
    return std::get_if<T>(&node);
  }
};

enum class UpdatingClauseKind : std::uint8_t { Create, Merge, Set, Remove, Delete, Foreach };

struct UpdatingClause {
  struct Create {
    Pattern pattern;
  };
  struct Merge {
    Box<PatternPart> part;                  // never empty
    TreeList<TreeList<SetItem>> on_match;   // one list per ON MATCH SET
    TreeList<TreeList<SetItem>> on_create;  // one list per ON CREATE SET
  };
  struct Set {
    TreeList<SetItem> items;
  };
  struct Remove {
    TreeList<RemoveItem> items;
  };
  struct Delete {
    TreeList<Expr> exprs;
    bool detach = false;
  };
  struct Foreach {
    Text variable;
    Expr list;
    TreeList<UpdatingClause> body;
  };
  std::variant<Create, Merge, Set, Remove, Delete, Foreach> node;

  UpdatingClauseKind kind() const { return static_cast<UpdatingClauseKind>(node.index()); }
  template <class T>
  const T& as() const {
    return std::get<T>(node);
  }
  template <class T>
  const T* get_if() const {
    return std::get_if<T>(&node);
  }
};

// ---------------------------------------------------------------------------------------------
// Queries

struct SinglePartQuery {
  TreeList<ReadingClause> reading_clauses;
  TreeList<UpdatingClause> updating_clauses;
  std::optional<ReturnClause> return_clause;
};

// The clauses before one WITH, and that WITH.
struct QueryPartStep {
  TreeList<ReadingClause> reading_clauses;
  TreeList<UpdatingClause> updating_clauses;
  WithClause with_clause;
};

struct MultiPartQuery {
  TreeList<QueryPartStep> parts;              // one per WITH, in order
  TreeList<ReadingClause> reading_clauses;    // final part
  TreeList<UpdatingClause> updating_clauses;  // final part
  std::optional<ReturnClause> return_clause;
};

enum class SingleQueryKind : std::uint8_t { SinglePart, MultiPart };

struct SingleQuery {
  std::variant<SinglePartQuery, MultiPartQuery> node;

  SingleQueryKind kind() const { return static_cast<SingleQueryKind>(node.index()); }
  template <class T>
  const T& as() const {
    return std::get<T>(node);
  }
  template <class T>
  const T* get_if() const {
    return std::get_if<T>(&node);
  }
};

struct UnionBranch {
  bool all = false;  // UNION ALL
  SingleQuery query;
};

struct RegularQuery {
  SingleQuery first;
  TreeList<UnionBranch> unions;
};

// The root. A procedure call written alone is a one-part query whose only clause is a Call.
struct CypherQuery {
  // Holds the memory of the tree's nodes, and nothing else holds any of theirs: with an arena,
  // releasing the tree is releasing the arena, without a walk over the nodes. A copy of a tree
  // has no arena (its nodes are on the heap, and are released one by one).
  std::unique_ptr<Arena> arena;
  union {
    RegularQuery query;
  };

  CypherQuery() : query() {}
  explicit CypherQuery(RegularQuery q) : query(std::move(q)) {}
  CypherQuery(std::unique_ptr<Arena> a, RegularQuery q)
      : arena(std::move(a)), query(std::move(q)) {}
  // The tree that `make(arena)` returns, made in its place (not moved) with `a` as its arena.
  template <class Make,
            class = std::enable_if_t<std::is_invocable_r_v<RegularQuery, Make&, Arena*>>>
  CypherQuery(std::unique_ptr<Arena> a, Make&& make)
      : arena(std::move(a)), query(make(arena.get())) {}
  CypherQuery(const CypherQuery& other) : query(other.query) {}
  CypherQuery(CypherQuery&& other) noexcept
      : arena(std::move(other.arena)), query(std::move(other.query)) {}
  CypherQuery& operator=(const CypherQuery& other) {
    if (this != &other) *this = CypherQuery(other);
    return *this;
  }
  CypherQuery& operator=(CypherQuery&& other) noexcept {
    if (this != &other) {
      release_nodes();
      new (&query) RegularQuery(std::move(other.query));
      arena = std::move(other.arena);
    }
    return *this;
  }
  ~CypherQuery() { release_nodes(); }

 private:
  void release_nodes() noexcept {
    if (arena == nullptr) query.~RegularQuery();
  }
};

// Growing a list of nodes moves them; it never copies a subtree.
static_assert(std::is_nothrow_move_constructible_v<Expr>);
static_assert(std::is_nothrow_move_constructible_v<ReadingClause>);
static_assert(std::is_nothrow_move_constructible_v<UpdatingClause>);
static_assert(std::is_nothrow_move_constructible_v<PatternStep>);
static_assert(std::is_nothrow_move_constructible_v<QueryPartStep>);
static_assert(std::is_nothrow_move_constructible_v<NameOffsets>);
static_assert(sizeof(NameOffsets) == 16);
static_assert(sizeof(MaybeText) == sizeof(Text));
static_assert(sizeof(RelationshipDirection) == 1);

}  // namespace tessary
