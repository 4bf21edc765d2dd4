#include "columnar/layout.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "decode/limits.h"

namespace varkel::columnar {

namespace {

using decode::DecodePlan;
using decode::FieldsRef;
using decode::Kind;
using decode::PlanDefinition;
using decode::PlanNode;

SlotKind scalar_slot(Kind kind) {
  switch (kind) {
    case Kind::Bool:
      return SlotKind::Bool;
    case Kind::U8:
      return SlotKind::U8;
    case Kind::I8:
      return SlotKind::I8;
    case Kind::U16:
      return SlotKind::U16;
    case Kind::I16:
      return SlotKind::I16;
    case Kind::U32:
      return SlotKind::U32;
    case Kind::I32:
      return SlotKind::I32;
    case Kind::F32:
      return SlotKind::F32;
    case Kind::U64:
      return SlotKind::U64;
    case Kind::I64:
      return SlotKind::I64;
    case Kind::F64:
      return SlotKind::F64;
    case Kind::U128:
    case Kind::I128:
    case Kind::U256:
    case Kind::I256:
      return SlotKind::Utf8;  // the decimal text
    case Kind::Bytes:
      return SlotKind::Binary;
    case Kind::String:
      return SlotKind::Utf8;
    case Kind::Pubkey:
      return SlotKind::Pubkey;
    default:
      return SlotKind::Null;
  }
}

// Builds one table. Slots are added depth first; a slot's children are laid
// out together, right after it is created, so that they are contiguous.
class LayoutBuilder {
 public:
  LayoutBuilder(const DecodePlan& plan, Layout& out) : plan_(plan), out_(out) {}

  void root(const FieldsRef* fields, std::span<const ColumnSpec> before, std::span<const ColumnSpec> after,
            bool nullable) {
    out_.slots.emplace_back().kind = SlotKind::Struct;
    out_.before = static_cast<std::uint32_t>(before.size());
    out_.after = static_cast<std::uint32_t>(after.size());
    std::vector<std::string> taken;
    for (const ColumnSpec& column : before) taken.push_back(column.name);
    for (const ColumnSpec& column : after) taken.push_back(column.name);
    static const FieldsRef kNone{};
    struct_children(0, fields != nullptr ? *fields : kNone, nullable, 0, before, after, taken);
  }

 private:
  // Fills in the children of the struct slot `at` from `fields`, between
  // the columns `before` and `after`; a field's name in `taken` is renamed.
  void struct_children(std::uint32_t at, const FieldsRef& fields, bool nullable, unsigned depth,
                       std::span<const ColumnSpec> before = {}, std::span<const ColumnSpec> after = {},
                       const std::vector<std::string>& taken = {}) {
    // The columns: distinct names in the order of first use; each is stored
    // by the last field of its name.
    std::vector<std::uint32_t> stored(fields.count, kNoIndex);
    std::vector<std::uint32_t> columns;  // field index that a column takes its type from
    std::vector<std::string> names;
    if (fields.form == FieldsRef::Form::Named) {
      std::unordered_map<std::uint32_t, std::uint32_t> column_of_key;
      for (std::uint32_t i = 0; i < fields.count; ++i) {
        const std::uint32_t key = plan_.fields[fields.first + i].key;
        auto [it, inserted] = column_of_key.try_emplace(key, static_cast<std::uint32_t>(columns.size()));
        if (inserted) {
          columns.push_back(i);
          names.push_back(plan_.keys[key]);
        } else {
          columns[it->second] = i;  // a later field of the name wins
        }
      }
    } else {
      for (std::uint32_t i = 0; i < fields.count; ++i) {
        columns.push_back(i);
        names.push_back(std::to_string(i));
      }
    }
    auto holds = [](const std::vector<std::string>& list, const std::string& name) {
      return std::find(list.begin(), list.end(), name) != list.end();
    };
    for (std::string& name : names) {
      if (!holds(taken, name)) continue;
      std::string renamed = name + "_";
      while (holds(taken, renamed) || holds(names, renamed)) renamed.push_back('_');
      name = std::move(renamed);
    }
    const std::uint32_t all = reserve_children(at, before.size() + columns.size() + after.size());
    for (std::size_t c = 0; c < before.size(); ++c) own(all + static_cast<std::uint32_t>(c), before[c]);
    const std::uint32_t first = all + static_cast<std::uint32_t>(before.size());
    const std::uint32_t last = first + static_cast<std::uint32_t>(columns.size());
    for (std::size_t c = 0; c < after.size(); ++c) own(last + static_cast<std::uint32_t>(c), after[c]);
    for (std::size_t c = 0; c < columns.size(); ++c)
      stored[columns[c]] = first + static_cast<std::uint32_t>(c);
    out_.slots[at].first_target = static_cast<std::uint32_t>(out_.targets.size());
    out_.targets.insert(out_.targets.end(), stored.begin(), stored.end());
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const std::uint32_t node = plan_.fields[fields.first + columns[c]].type;
      fill(first + static_cast<std::uint32_t>(c), std::move(names[c]), node, nullable, depth);
    }
  }

  // A column of the table's own, and the slots below it.
  void own(std::uint32_t at, const ColumnSpec& column) {
    out_.slots[at].name = column.name;
    out_.slots[at].kind = column.kind;
    out_.slots[at].nullable = column.nullable;
    if (column.children.empty()) return;
    const std::uint32_t first = reserve_children(at, column.children.size());
    for (std::size_t c = 0; c < column.children.size(); ++c)
      own(first + static_cast<std::uint32_t>(c), column.children[c]);
  }

  // Appends `count` placeholder slots as the children of `at`.
  std::uint32_t reserve_children(std::uint32_t at, std::size_t count) {
    const auto first = static_cast<std::uint32_t>(out_.slots.size());
    out_.slots.resize(out_.slots.size() + count);
    out_.slots[at].first_child = first;
    out_.slots[at].child_count = static_cast<std::uint32_t>(count);
    return first;
  }

  // Lays out the value of plan node `node` in slot `at`. `depth` counts the
  // levels above it as the decoders count them.
  void fill(std::uint32_t at, std::string name, std::uint32_t node, bool nullable, unsigned depth) {
    out_.slots[at].name = std::move(name);
    out_.slots[at].nullable = nullable;
    const PlanNode& n = plan_.nodes[node];
    const bool compound =
        n.kind == Kind::Option || n.kind == Kind::Vec || n.kind == Kind::Array || n.kind == Kind::Defined;
    if (compound && depth >= decode::kMaxDepth) {
      // An empty option still decodes here; anything else fails.
      out_.slots[at].kind = SlotKind::Null;
      out_.slots[at].nullable = true;
      return;
    }
    if (out_.slots.size() >= kMaxSlots && compound && n.kind != Kind::Option) {
      out_.slots[at].kind = SlotKind::Opaque;
      return;
    }
    switch (n.kind) {
      case Kind::Option:
        fill(at, std::move(out_.slots[at].name), n.child, true, depth + 1);
        return;
      case Kind::Vec: {
        out_.slots[at].kind = SlotKind::List;
        const std::uint32_t child = reserve_children(at, 1);
        fill(child, "item", n.child, false, depth + 1);
        return;
      }
      case Kind::Array: {
        if (n.generic_length) {
          out_.slots[at].kind = SlotKind::Null;
          out_.slots[at].nullable = true;
          return;
        }
        const std::uint32_t child = reserve_children(at, 1);
        fill(child, "item", n.child, nullable, depth + 1);
        const std::uint64_t each = null_expansion(child);
        const bool fixed =
            n.length <= kMaxNullExpansion && each <= kMaxNullExpansion / std::max<std::uint64_t>(n.length, 1);
        out_.slots[at].kind = fixed ? SlotKind::FixedList : SlotKind::List;
        out_.slots[at].list_size = n.length;
        return;
      }
      case Kind::Defined:
        defined(at, n, nullable, depth + 1);
        return;
      case Kind::Generic:
        out_.slots[at].kind = SlotKind::Null;
        out_.slots[at].nullable = true;
        return;
      default:
        out_.slots[at].kind = scalar_slot(n.kind);
        return;
    }
  }

  void defined(std::uint32_t at, const PlanNode& n, bool nullable, unsigned depth) {
    if (n.generic_args || n.child == kNoIndex) {
      out_.slots[at].kind = SlotKind::Null;
      out_.slots[at].nullable = true;
      return;
    }
    if (std::find(expanding_.begin(), expanding_.end(), n.child) != expanding_.end()) {
      out_.slots[at].kind = SlotKind::Opaque;  // the type repeats inside itself
      return;
    }
    expanding_.push_back(n.child);
    const PlanDefinition& def = plan_.definitions[n.child];
    switch (def.form) {
      case PlanDefinition::Form::Struct:
        out_.slots[at].kind = SlotKind::Struct;
        struct_children(at, def.fields, nullable, depth);
        break;
      case PlanDefinition::Form::Enum:
        enumeration(at, n.child, def, nullable, depth);
        break;
      case PlanDefinition::Form::Alias:
        // The alias adds a level (the decoders count the reference) but no slot.
        fill(at, std::move(out_.slots[at].name), def.alias, nullable, depth);
        break;
    }
    expanding_.pop_back();
  }

  void enumeration(std::uint32_t at, std::uint32_t def_index, const PlanDefinition& def, bool nullable,
                   unsigned depth) {
    out_.slots[at].names = def_index;
    std::vector<std::uint32_t> with_fields;
    for (std::uint32_t v = 0; v < def.variant_count; ++v) {
      if (plan_.variants[def.first_variant + v].fields.form != FieldsRef::Form::Absent)
        with_fields.push_back(v);
    }
    if (with_fields.empty()) {
      out_.slots[at].kind = SlotKind::Dictionary;
      return;
    }
    out_.slots[at].kind = SlotKind::Enum;
    const std::uint32_t first = reserve_children(at, 1 + with_fields.size());
    out_.slots[first].kind = SlotKind::Dictionary;
    out_.slots[first].name = "variant";
    out_.slots[first].nullable = nullable;
    out_.slots[first].names = def_index;
    std::vector<std::uint32_t> targets(def.variant_count, kNoIndex);
    for (std::size_t i = 0; i < with_fields.size(); ++i)
      targets[with_fields[i]] = first + 1 + static_cast<std::uint32_t>(i);
    out_.slots[at].first_target = static_cast<std::uint32_t>(out_.targets.size());
    out_.targets.insert(out_.targets.end(), targets.begin(), targets.end());
    for (std::size_t i = 0; i < with_fields.size(); ++i) {
      const std::uint32_t child = first + 1 + static_cast<std::uint32_t>(i);
      const decode::PlanVariant& variant = plan_.variants[def.first_variant + with_fields[i]];
      out_.slots[child].kind = SlotKind::Struct;
      out_.slots[child].name = plan_.keys[variant.key];
      out_.slots[child].nullable = true;
      struct_children(child, variant.fields, true, depth);
    }
  }

  // The values that one null of slot `at` puts into the arrays below it
  // (itself included), saturating.
  std::uint64_t null_expansion(std::uint32_t at) const {
    const Slot& slot = out_.slots[at];
    std::uint64_t total = 1;
    switch (slot.kind) {
      case SlotKind::FixedList: {
        const std::uint64_t each = null_expansion(slot.first_child);
        return slot.list_size > kMaxNullExpansion / std::max<std::uint64_t>(each, 1)
                   ? kMaxNullExpansion + 1
                   : 1 + slot.list_size * each;
      }
      case SlotKind::Struct:
      case SlotKind::Enum:
        for (std::uint32_t c = 0; c < slot.child_count; ++c) {
          total = std::min(total + null_expansion(slot.first_child + c), kMaxNullExpansion + 1);
        }
        return total;
      default:
        return 1;
    }
  }

  const DecodePlan& plan_;
  Layout& out_;
  std::vector<std::uint32_t> expanding_;  // definitions being laid out, outermost first
};

}  // namespace

Layout lay_out(const DecodePlan& plan, std::string name, const FieldsRef* fields,
               std::span<const ColumnSpec> before, std::span<const ColumnSpec> after, bool nullable) {
  Layout layout;
  layout.name = std::move(name);
  LayoutBuilder(plan, layout).root(fields, before, after, nullable);
  return layout;
}

Layout with_binary_keys(Layout layout) {
  for (Slot& slot : layout.slots) {
    if (slot.kind == SlotKind::Pubkey) slot.kind = SlotKind::KeyBytes;
  }
  return layout;
}

}  // namespace varkel::columnar
