// Word splitting and snake_case conversion of names.
//
// to_snake_case cuts the text into words at the default word boundaries of
// Unicode text segmentation (UAX #29), keeping only words with a letter or a
// digit; cuts each word at case changes and underscores; and joins the
// lower-cased pieces with single underscores. Any byte string is accepted:
// bytes that do not form valid UTF-8 count as one character each, of no
// letter, digit or case, and never reach the output.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace varkel::idl {

// The word segments of `text` (slices of it, in order) that hold at least one
// alphabetic or numeric character. Uses the ASCII scan when `text` is ASCII.
std::vector<std::string_view> split_words(std::string_view text);

// `text` in snake_case: initializeMarket -> initialize_market, XMLParser ->
// xml_parser. Empty when the text has no letter or digit.
std::string to_snake_case(std::string_view text);

// The two paths behind split_words, exposed so tests can compare them.
// split_words_ascii is exact for ASCII text only (any other byte is a
// segment of its own, and dropped).
std::vector<std::string_view> split_words_ascii(std::string_view text);
std::vector<std::string_view> split_words_unicode(std::string_view text);

// Every segment between two word boundaries, kept or not; the segments
// cover `text` exactly.
std::vector<std::string_view> word_segments(std::string_view text);

// Cuts the given segments into pieces, lower-cases them and joins them with
// '_': the part of to_snake_case after split_words.
std::string join_snake_case(std::span<const std::string_view> segments);

}  // namespace varkel::idl
