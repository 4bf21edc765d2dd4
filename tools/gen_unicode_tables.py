#!/usr/bin/env python3
"""Writes src/idl/unicode_tables.cpp from the Unicode Character Database.

Usage (from the repository root):
    python3 tools/gen_unicode_tables.py [UCD_DIR] [OUTPUT]

UCD_DIR defaults to /usr/share/unicode (Debian's unicode-data package) and
OUTPUT to src/idl/unicode_tables.cpp. Files read below UCD_DIR:
    UnicodeData.txt                   general categories, simple lower-case mappings
    SpecialCasing.txt                 unconditional full lower-case mappings
    DerivedCoreProperties.txt         Alphabetic, Lowercase, Uppercase
    auxiliary/WordBreakProperty.txt   Word_Break
    emoji/emoji-data.txt              Extended_Pictographic

The output is committed; a build never needs the database. Rerun this script
by hand when moving to another Unicode version. Standard library only.
"""

import os
import re
import sys

# Must match enum class WordBreak in src/idl/unicode_tables.h, in this order.
WORD_BREAK_VALUES = [
    "Other", "CR", "LF", "Newline", "Extend", "ZWJ", "Regional_Indicator",
    "Format", "Katakana", "Hebrew_Letter", "ALetter", "Single_Quote",
    "Double_Quote", "MidNumLet", "MidLetter", "MidNum", "Numeric",
    "ExtendNumLet", "WSegSpace",
]
# Bit layout of the packed property value; must match unicode_tables.h.
WB_BITS = 5
FLAG_EXT_PICT = 1 << 5
FLAG_ALPHABETIC = 1 << 6
FLAG_LOWERCASE = 1 << 7
FLAG_UPPERCASE = 1 << 8
FLAG_NUMERIC = 1 << 9

MAX_CP = 0x10FFFF

VERSION_RE = re.compile(r"^#\s*\S+?-(\d+\.\d+\.\d+)\.txt")


def read_version(path):
    with open(path, encoding="utf-8") as f:
        m = VERSION_RE.match(f.readline())
    if not m:
        sys.exit(f"{path}: no version in the first line")
    return m.group(1)


def parse_range(field):
    field = field.strip()
    if ".." in field:
        a, b = field.split("..")
        return int(a, 16), int(b, 16)
    cp = int(field, 16)
    return cp, cp


def read_property_file(path, wanted):
    """Yields (first, last, value) for lines whose value is in `wanted`."""
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            fields = [x.strip() for x in line.split(";")]
            if fields[1] in wanted:
                first, last = parse_range(fields[0])
                yield first, last, fields[1]


def read_unicode_data(path):
    """Returns (numeric code point ranges, simple lower-case mapping dict)."""
    numeric = []
    lower = {}
    range_first = None
    with open(path, encoding="utf-8") as f:
        for line in f:
            fields = line.rstrip("\n").split(";")
            cp = int(fields[0], 16)
            name, category, simple_lower = fields[1], fields[2], fields[13]
            if name.endswith(", First>"):
                range_first = cp
                continue
            first = cp
            if name.endswith(", Last>"):
                first, range_first = range_first, None
            if category in ("Nd", "Nl", "No"):
                numeric.append((first, cp))
            if simple_lower:
                if first != cp:
                    sys.exit(f"{path}: lower-case mapping on a range at {cp:04X}")
                lower[cp] = [int(simple_lower, 16)]
    return numeric, lower


def read_special_lower(path):
    """Unconditional full lower-case mappings (lines without a condition)."""
    out = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if not line:
                continue
            fields = [x.strip() for x in line.split(";")]
            # code; lower; title; upper; [condition;]
            if len(fields) > 4 and fields[4]:
                continue
            out[int(fields[0], 16)] = [int(x, 16) for x in fields[1].split()]
    return out


def build_property_runs(props):
    """Compresses the per-code-point values into (first, value) runs."""
    runs = []
    prev = None
    for cp in range(MAX_CP + 1):
        v = props[cp]
        if v != prev:
            runs.append((cp, v))
            prev = v
    return runs


def build_lower_runs(mapping):
    """Groups single-code-point mappings into (first, last, delta, stride) runs.

    A run holds code points first, first+stride, ..., last that all map to
    cp + delta; consecutive entries of the sorted mapping only, so runs never
    overlap.
    """
    runs = []
    for cp in sorted(mapping):
        delta = mapping[cp] - cp
        if runs:
            first, last, d, stride = runs[-1]
            if d == delta:
                if stride == 0 and cp - last in (1, 2):
                    runs[-1] = (first, cp, d, cp - last)
                    continue
                if stride and cp - last == stride:
                    runs[-1] = (first, cp, d, stride)
                    continue
        runs.append((cp, cp, delta, 0))
    return [(a, b, d, s or 1) for a, b, d, s in runs]


def main():
    ucd = sys.argv[1] if len(sys.argv) > 1 else "/usr/share/unicode"
    out_path = sys.argv[2] if len(sys.argv) > 2 else "src/idl/unicode_tables.cpp"
    files = {
        "data": os.path.join(ucd, "UnicodeData.txt"),
        "special": os.path.join(ucd, "SpecialCasing.txt"),
        "core": os.path.join(ucd, "DerivedCoreProperties.txt"),
        "wb": os.path.join(ucd, "auxiliary", "WordBreakProperty.txt"),
        "emoji": os.path.join(ucd, "emoji", "emoji-data.txt"),
    }
    missing = [p for p in files.values() if not os.path.exists(p)]
    if missing:
        sys.exit("missing Unicode data files: " + ", ".join(missing))

    versions = {read_version(files[k]) for k in ("special", "core", "wb")}
    if len(versions) != 1:
        sys.exit(f"the data files disagree on the Unicode version: {sorted(versions)}")
    version = versions.pop()
    with open(files["emoji"], encoding="utf-8") as f:
        m = re.search(r"Emoji Version (\d+\.\d+)", f.read())
    if not m or not version.startswith(m.group(1) + "."):
        sys.exit(f"{files['emoji']}: not the emoji data of Unicode {version}")

    props = [0] * (MAX_CP + 1)
    wb_index = {name: i for i, name in enumerate(WORD_BREAK_VALUES)}
    assigned = set()
    for first, last, value in read_property_file(files["wb"], set(WORD_BREAK_VALUES)):
        for cp in range(first, last + 1):
            if cp in assigned:
                sys.exit(f"U+{cp:04X} has two Word_Break values")
            assigned.add(cp)
            props[cp] |= wb_index[value]
    flags = {"Alphabetic": FLAG_ALPHABETIC, "Lowercase": FLAG_LOWERCASE,
             "Uppercase": FLAG_UPPERCASE}
    for first, last, value in read_property_file(files["core"], set(flags)):
        for cp in range(first, last + 1):
            props[cp] |= flags[value]
    for first, last, _ in read_property_file(files["emoji"], {"Extended_Pictographic"}):
        for cp in range(first, last + 1):
            props[cp] |= FLAG_EXT_PICT
    numeric, simple_lower = read_unicode_data(files["data"])
    for first, last in numeric:
        for cp in range(first, last + 1):
            props[cp] |= FLAG_NUMERIC
    for cp in range(MAX_CP + 1):
        if props[cp] & FLAG_LOWERCASE and props[cp] & FLAG_UPPERCASE:
            sys.exit(f"U+{cp:04X} is both Lowercase and Uppercase")

    special = read_special_lower(files["special"])
    # Full mappings that differ from the simple one go to their own table.
    full = {}
    for cp, seq in special.items():
        simple = simple_lower.get(cp, [cp])
        if seq != simple:
            full[cp] = seq
    for cp, seq in full.items():
        if len(seq) > 3:
            sys.exit(f"U+{cp:04X}: full lower-case mapping longer than 3")
    single = {cp: m[0] for cp, m in simple_lower.items() if cp not in full}

    prop_runs = build_property_runs(props)
    lower_runs = build_lower_runs(single)

    rel_out = os.path.relpath(out_path)
    command = f"python3 tools/gen_unicode_tables.py {ucd} {rel_out}"
    lines = []
    w = lines.append
    w(f"// Generated by tools/gen_unicode_tables.py from the Unicode Character Database {version}")
    w("// (UnicodeData.txt, SpecialCasing.txt, DerivedCoreProperties.txt,")
    w("// auxiliary/WordBreakProperty.txt, emoji/emoji-data.txt). Do not edit by hand.")
    w(f"// Command: {command}")
    w("// Unicode data: Copyright (c) Unicode, Inc.; used under the Unicode License.")
    w("// clang-format off")
    w("")
    w('#include "idl/unicode_tables.h"')
    w("")
    w("#include <algorithm>")
    w("#include <array>")
    w("")
    w("namespace varkel::idl::unicode {")
    w("")
    w(f'const char kUnicodeVersion[] = "{version}";')
    w("")
    w(f"static_assert(static_cast<int>(WordBreak::{WORD_BREAK_VALUES[-1]}) == "
      f"{len(WORD_BREAK_VALUES) - 1});")
    w(f"static_assert(kWordBreakMask == {(1 << WB_BITS) - 1} && kExtendedPictographic == "
      f"{FLAG_EXT_PICT} && kAlphabetic == {FLAG_ALPHABETIC});")
    w(f"static_assert(kLowercase == {FLAG_LOWERCASE} && kUppercase == {FLAG_UPPERCASE} && "
      f"kNumeric == {FLAG_NUMERIC});")
    w("")
    w("namespace {")
    w("")
    w("// Each entry packs (first code point << 10) | properties; the properties")
    w("// hold from `first` up to the next entry's first code point.")
    w(f"constexpr std::array<std::uint32_t, {len(prop_runs)}> kPropertyRuns = {{")
    for i in range(0, len(prop_runs), 8):
        chunk = prop_runs[i:i + 8]
        w("    " + " ".join(f"0x{(cp << 10) | v:x}u," for cp, v in chunk))
    w("};")
    w("")
    w("struct LowerRun {")
    w("  char32_t first;")
    w("  char32_t last;")
    w("  std::int32_t delta;")
    w("  std::uint32_t stride;")
    w("};")
    w("")
    w("// first, first + stride, ..., last map to themselves plus delta.")
    w(f"constexpr std::array<LowerRun, {len(lower_runs)}> kLowerRuns = {{{{")
    for a, b, d, s in lower_runs:
        w(f"    {{0x{a:x}, 0x{b:x}, {d}, {s}}},")
    w("}};")
    w("")
    w("struct FullLower {")
    w("  char32_t cp;")
    w("  std::uint32_t count;")
    w("  char32_t seq[3];")
    w("};")
    w("")
    w("// Unconditional full mappings that differ from the simple mapping.")
    w(f"constexpr std::array<FullLower, {len(full)}> kFullLower = {{{{")
    for cp in sorted(full):
        seq = full[cp] + [0] * (3 - len(full[cp]))
        w(f"    {{0x{cp:x}, {len(full[cp])}, {{{', '.join(f'0x{x:x}' for x in seq)}}}}},")
    w("}};")
    w("")
    w("}  // namespace")
    w("")
    w("std::uint16_t properties(char32_t cp) {")
    w("  if (cp > 0x10FFFF) return 0;")
    w("  const std::uint32_t key = (static_cast<std::uint32_t>(cp) << 10) | 0x3FFu;")
    w("  const auto it = std::upper_bound(kPropertyRuns.begin(), kPropertyRuns.end(), key);")
    w("  // kPropertyRuns[0] starts at U+0000, so `it` is never the first entry.")
    w("  return static_cast<std::uint16_t>(*(it - 1) & 0x3FFu);")
    w("}")
    w("")
    w("std::size_t to_lower_full(char32_t cp, char32_t (&out)[3]) {")
    w("  const auto full = std::lower_bound(kFullLower.begin(), kFullLower.end(), cp,")
    w("                                     [](const FullLower& e, char32_t c) { return e.cp < c; });")
    w("  if (full != kFullLower.end() && full->cp == cp) {")
    w("    std::copy_n(full->seq, full->count, out);")
    w("    return full->count;")
    w("  }")
    w("  out[0] = cp;")
    w("  const auto run = std::upper_bound(kLowerRuns.begin(), kLowerRuns.end(), cp,")
    w("                                    [](char32_t c, const LowerRun& r) { return c < r.first; });")
    w("  if (run != kLowerRuns.begin()) {")
    w("    const LowerRun& r = *(run - 1);")
    w("    if (cp <= r.last && (cp - r.first) % r.stride == 0) {")
    w("      out[0] = static_cast<char32_t>(static_cast<std::int32_t>(cp) + r.delta);")
    w("    }")
    w("  }")
    w("  return 1;")
    w("}")
    w("")
    w("}  // namespace varkel::idl::unicode")
    text = "\n".join(lines) + "\n"
    with open(out_path, "w", encoding="utf-8") as f:
        f.write(text)
    print(f"{out_path}: Unicode {version}, {len(prop_runs)} property runs, "
          f"{len(lower_runs)} lower-case runs, {len(full)} full mappings, {len(text)} bytes")


if __name__ == "__main__":
    main()
