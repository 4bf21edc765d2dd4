#include "decode/zero_copy.h"

#include <algorithm>
#include <optional>
#include <unordered_set>
#include <utility>
#include <variant>

namespace varkel::decode {

using Kind = idl::IdlType::Kind;

namespace {

// rustc refuses alignments above 2^29.
constexpr std::uint64_t kMaxAlign = std::uint64_t{1} << 29;

std::uint64_t round_up(std::uint64_t value, std::uint64_t align) {
  return (value + align - 1) / align * align;
}

// The shape of the kinds that need nothing else to know it.
std::optional<MemoryShape> primitive_shape(Kind kind) {
  switch (kind) {
    case Kind::Bool:
    case Kind::U8:
    case Kind::I8:
      return MemoryShape{1, 1};
    case Kind::U16:
    case Kind::I16:
      return MemoryShape{2, 2};
    case Kind::U32:
    case Kind::I32:
    case Kind::F32:
      return MemoryShape{4, 4};
    case Kind::U64:
    case Kind::I64:
    case Kind::F64:
      return MemoryShape{8, 8};
    case Kind::U128:
    case Kind::I128:
      return MemoryShape{16, 8};  // SBF aligns 128-bit integers to 8
    case Kind::U256:
    case Kind::I256:
      return MemoryShape{32, 8};  // as [u64; 4]
    case Kind::Pubkey:
      return MemoryShape{32, 1};  // [u8; 32]
    default:
      return std::nullopt;
  }
}

// The name of a kind whose size depends on the value, or nullptr.
const char* unsized_kind_name(Kind kind) {
  switch (kind) {
    case Kind::Bytes:
      return "bytes";
    case Kind::String:
      return "string";
    case Kind::Option:
      return "option";
    case Kind::Vec:
      return "vec";
    default:
      return nullptr;
  }
}

// The shape of a type expression. `path` names where the expression sits
// ("[]" is appended for array elements, then removed); `defined` gives the
// shape of a defined name; `fail_at(path, problem)` builds the message of a
// refusal.
template <class Defined, class FailAt>
Result<MemoryShape> expression_shape(const idl::IdlType& type, std::string& path, Defined&& defined,
                                     FailAt&& fail_at) {
  if (std::optional<MemoryShape> shape = primitive_shape(type.kind)) return *shape;
  if (const char* name = unsized_kind_name(type.kind)) {
    return fail(fail_at(path, std::string("has type ") + name + ", which has no fixed memory layout"));
  }
  switch (type.kind) {
    case Kind::Generic:
      return fail(
          fail_at(path, "has the generic type '" + type.generic() + "', which has no fixed memory layout"));
    case Kind::Defined: {
      const auto& ref = type.defined();
      if (!ref.generics.empty()) {
        return fail(fail_at(
            path, "has type '" + ref.name + "' with generic arguments, which has no fixed memory layout"));
      }
      return defined(ref.name);
    }
    case Kind::Array: {
      const auto& array = type.array();
      if (const auto* generic = std::get_if<idl::IdlArrayLen::Generic>(&array.len.value)) {
        return fail(fail_at(
            path, "is an array of generic length '" + generic->name + "', which has no fixed memory layout"));
      }
      const std::uint64_t count = std::get<std::uint64_t>(array.len.value);
      const std::size_t mark = path.size();
      path += "[]";
      Result<MemoryShape> element = expression_shape(*array.element, path, defined, fail_at);
      path.resize(mark);
      if (!element) return element;
      if (element->size != 0 && count > kMaxZeroCopySize / element->size) {
        return fail(fail_at(path, "is an array larger than 2^40 bytes"));
      }
      return MemoryShape{count * element->size, element->align};
    }
    default:
      return fail(fail_at(path, "has a type of unknown kind"));
  }
}

}  // namespace

// Lays out defined types depth first, each once. The path names the fields
// from the current root down to the expression at hand.
class ZeroCopyLayoutBuilder {
 public:
  ZeroCopyLayoutBuilder(const TypeLookup& lookup, ZeroCopyLayouts& out) : lookup_(lookup), out_(out) {}

  Result<void> lay_out_root(const std::string& name) {
    root_ = name;
    path_.clear();
    if (out_.find(name) != nullptr) return {};
    if (lookup_(name) == nullptr) return fail("zero-copy type '" + name + "' is not defined in the IDL");
    Result<MemoryShape> shape = defined_shape(name);
    if (!shape) return fail(std::move(shape.error()));
    return {};
  }

 private:
  // "zero-copy type 'Pool'", or "zero-copy type 'Pool': field 'fees.base'".
  std::string subject(const std::string& path) const {
    std::string text = "zero-copy type '" + root_ + "'";
    if (!path.empty()) text += ": field '" + path + "'";
    return text;
  }

  std::string at(const std::string& path, std::string_view problem) const {
    std::string text = subject(path);
    text += ' ';
    text += problem;
    return text;
  }

  // A problem of the definition of `name` itself, reached at the current path.
  std::string type_problem(std::string_view name, std::string_view problem) const {
    if (path_.empty() && name == root_) return at(path_, problem);
    std::string text = subject(path_);
    text += " has type '";
    text += name;
    text += "', which ";
    text += problem;
    return text;
  }

  Result<MemoryShape> shape(const idl::IdlType& type) {
    return expression_shape(
        type, path_, [this](const std::string& name) { return defined_shape(name); },
        [this](const std::string& path, std::string_view problem) { return at(path, problem); });
  }

  Result<MemoryShape> defined_shape(const std::string& name) {
    if (const TypeLayout* done = out_.find(name)) return MemoryShape{done->size, done->align};
    if (open_.contains(name)) {
      return fail(type_problem(name, "contains itself, so its size would be infinite"));
    }
    const idl::IdlTypeDef* def = lookup_(name);
    if (def == nullptr) {
      return fail(at(path_, "refers to the unknown type '" + name + "', which has no fixed memory layout"));
    }
    if (!def->generics.empty()) {
      return fail(type_problem(name, "is generic, so its layout depends on its parameters"));
    }
    if (open_.size() >= kMaxZeroCopyNesting) {
      return fail(
          at(path_, "nests defined types more than " + std::to_string(kMaxZeroCopyNesting) + " deep"));
    }
    open_.insert(name);
    Result<TypeLayout> layout = definition_layout(name, *def);
    open_.erase(name);
    if (!layout) return fail(std::move(layout.error()));
    const MemoryShape result{layout->size, layout->align};
    out_.layouts_.emplace(name, std::move(*layout));
    return result;
  }

  Result<TypeLayout> definition_layout(const std::string& name, const idl::IdlTypeDef& def) {
    if (const auto* alias = std::get_if<idl::IdlTypeDefTy::Type>(&def.type.value)) {
      Result<MemoryShape> aliased = shape(alias->alias);
      if (!aliased) return fail(std::move(aliased.error()));
      return TypeLayout{aliased->size, aliased->align, {}};
    }
    if (const auto* an_enum = std::get_if<idl::IdlTypeDefTy::Enum>(&def.type.value)) {
      return enum_layout(name, *an_enum);
    }
    return struct_layout(name, def, std::get<idl::IdlTypeDefTy::Struct>(def.type.value));
  }

  // An enum whose variants all lack fields is one byte, whatever its repr:
  // the bytemuck-Pod enums of real programs are #[repr(u8)] (marginfi's
  // BankOperationalState, Meteora's PairStatus), and the IDL records
  // #[repr(u8)] as {"kind": "rust"}, since it keeps only C, transparent,
  // packed and align. (A bare #[repr(C)] enum would be 4 bytes; the IDL
  // cannot tell it from #[repr(C, u8)], and no program here uses one.)
  Result<TypeLayout> enum_layout(const std::string& name, const idl::IdlTypeDefTy::Enum& an_enum) {
    for (const idl::IdlEnumVariant& variant : an_enum.variants) {
      if (variant.fields && field_count(*variant.fields) != 0) {
        return fail(type_problem(name, "is an enum with fields, so it has no fixed memory layout"));
      }
    }
    if (an_enum.variants.empty()) return fail(type_problem(name, "is an enum without variants"));
    if (an_enum.variants.size() > 256) {
      return fail(type_problem(name, "is an enum of more than 256 variants, more than its one byte holds"));
    }
    return TypeLayout{1, 1, {}};
  }

  static std::size_t field_count(const idl::IdlDefinedFields& fields) {
    if (const auto* named = std::get_if<idl::IdlDefinedFields::Named>(&fields.value)) return named->size();
    return std::get<idl::IdlDefinedFields::Tuple>(fields.value).size();
  }

  // The field list of a struct: (name, type) with tuple fields named by
  // position.
  static std::vector<std::pair<std::string, const idl::IdlType*>> fields_of(
      const idl::IdlTypeDefTy::Struct& body) {
    std::vector<std::pair<std::string, const idl::IdlType*>> out;
    if (!body.fields) return out;
    if (const auto* named = std::get_if<idl::IdlDefinedFields::Named>(&body.fields->value)) {
      out.reserve(named->size());
      for (const idl::IdlField& field : *named) out.emplace_back(field.name, &field.type);
    } else {
      const auto& tuple = std::get<idl::IdlDefinedFields::Tuple>(body.fields->value);
      out.reserve(tuple.size());
      for (std::size_t i = 0; i < tuple.size(); ++i) out.emplace_back(std::to_string(i), &tuple[i]);
    }
    return out;
  }

  // The shape of each field, in order, with the path extended by its name.
  Result<std::vector<MemoryShape>> field_shapes(
      const std::vector<std::pair<std::string, const idl::IdlType*>>& fields) {
    std::vector<MemoryShape> shapes;
    shapes.reserve(fields.size());
    for (const auto& [field_name, type] : fields) {
      const std::size_t mark = path_.size();
      if (!path_.empty()) path_ += '.';
      path_ += field_name;
      Result<MemoryShape> field = shape(*type);
      path_.resize(mark);
      if (!field) return fail(std::move(field.error()));
      shapes.push_back(*field);
    }
    return shapes;
  }

  Result<TypeLayout> struct_layout(const std::string& name, const idl::IdlTypeDef& def,
                                   const idl::IdlTypeDefTy::Struct& body) {
    if (!def.repr) return fail(type_problem(name, "has no repr, so Rust does not define its memory layout"));
    const auto fields = fields_of(body);
    if (std::holds_alternative<idl::IdlRepr::Transparent>(def.repr->value)) {
      return transparent_layout(name, fields);
    }
    idl::IdlReprModifier modifier;
    if (const auto* rust = std::get_if<idl::IdlRepr::Rust>(&def.repr->value)) {
      if (!rust->modifier.packed) {
        return fail(
            type_problem(name, "is repr(Rust) without packed, so Rust does not define its memory layout"));
      }
      modifier = rust->modifier;
    } else {
      modifier = std::get<idl::IdlRepr::C>(def.repr->value).modifier;
    }
    if (modifier.packed && modifier.align) {
      return fail(type_problem(name, "is both packed and aligned, which Rust does not allow"));
    }
    if (modifier.align && (*modifier.align == 0 || (*modifier.align & (*modifier.align - 1)) != 0 ||
                           *modifier.align > kMaxAlign)) {
      return fail(type_problem(name, "has align(" + std::to_string(*modifier.align) +
                                         "), which is not a power of two up to 2^29"));
    }
    Result<std::vector<MemoryShape>> shapes = field_shapes(fields);
    if (!shapes) return fail(std::move(shapes.error()));

    TypeLayout layout;
    layout.field_offsets.reserve(shapes->size());
    std::uint64_t cursor = 0;
    std::uint64_t align = 1;
    for (const MemoryShape& field : *shapes) {
      // Every size is at most 2^40 and the cursor is checked after each
      // field, so the sums stay far from overflow.
      const std::uint64_t offset = modifier.packed ? cursor : round_up(cursor, field.align);
      if (!modifier.packed) align = std::max(align, field.align);
      layout.field_offsets.push_back(offset);
      cursor = offset + field.size;
      if (cursor > kMaxZeroCopySize) return fail(type_problem(name, "is larger than 2^40 bytes"));
    }
    if (modifier.align) align = std::max(align, *modifier.align);
    layout.align = align;
    // 2^40 is a multiple of every alignment allowed, so rounding up keeps
    // the size within the bound.
    layout.size = round_up(cursor, align);
    return layout;
  }

  // repr(transparent): the layout of its one field of non-zero size (the
  // others are zero-sized markers); every field sits at offset 0.
  Result<TypeLayout> transparent_layout(
      const std::string& name, const std::vector<std::pair<std::string, const idl::IdlType*>>& fields) {
    Result<std::vector<MemoryShape>> shapes = field_shapes(fields);
    if (!shapes) return fail(std::move(shapes.error()));
    TypeLayout layout;
    layout.field_offsets.assign(shapes->size(), 0);
    std::size_t sized = 0;
    for (const MemoryShape& field : *shapes) {
      if (field.size != 0) {
        ++sized;
        layout.size = field.size;
      }
      layout.align = std::max(layout.align, field.align);
    }
    if (sized > 1) {
      return fail(type_problem(name, "is repr(transparent) with more than one field of non-zero size"));
    }
    return layout;
  }

  const TypeLookup& lookup_;
  ZeroCopyLayouts& out_;
  std::string root_;
  std::string path_;
  // The definitions being laid out, from the root down: one that is reached
  // again contains itself.
  std::unordered_set<std::string> open_;
};

const TypeLayout* ZeroCopyLayouts::find(std::string_view type_name) const {
  const auto it = layouts_.find(type_name);
  return it == layouts_.end() ? nullptr : &it->second;
}

Result<MemoryShape> ZeroCopyLayouts::shape_of(const idl::IdlType& type) const {
  std::string path;
  const auto at = [](const std::string& where, std::string_view problem) {
    std::string text = "zero-copy type expression";
    if (!where.empty()) text += " (at '" + where + "')";
    text += ' ';
    text += problem;
    return text;
  };
  return expression_shape(
      type, path,
      [this, &path, &at](const std::string& name) -> Result<MemoryShape> {
        const TypeLayout* layout = find(name);
        if (layout == nullptr)
          return fail(at(path, "refers to type '" + name + "', which has no layout here"));
        return MemoryShape{layout->size, layout->align};
      },
      at);
}

Result<ZeroCopyLayouts> compute_zero_copy_layouts(const TypeLookup& lookup,
                                                  std::span<const std::string> roots) {
  ZeroCopyLayouts layouts;
  ZeroCopyLayoutBuilder builder(lookup, layouts);
  for (const std::string& root : roots) {
    Result<void> done = builder.lay_out_root(root);
    if (!done) return fail(std::move(done.error()));
  }
  return layouts;
}

Result<ZeroCopyLayouts> compute_zero_copy_layouts(std::span<const idl::IdlTypeDef> types,
                                                  std::span<const std::string> roots) {
  std::unordered_map<std::string_view, const idl::IdlTypeDef*> by_name;
  by_name.reserve(types.size());
  for (const idl::IdlTypeDef& def : types) by_name[def.name] = &def;
  const TypeLookup lookup = [&by_name](std::string_view name) -> const idl::IdlTypeDef* {
    const auto it = by_name.find(name);
    return it == by_name.end() ? nullptr : it->second;
  };
  return compute_zero_copy_layouts(lookup, roots);
}

}  // namespace varkel::decode
