// The key text cache gives the base58 text of every key, whether remembered,
// displaced by another key of the same place, or forgotten by clear().
#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "columnar/key_text.h"
#include "decode/base58.h"

namespace varkel::columnar {
namespace {

using Key = std::array<std::uint8_t, 32>;

TEST(KeyTextCache, EveryLookupGivesTheKeysText) {
  std::mt19937 rng(58);
  std::vector<Key> keys(40);
  for (Key& key : keys) {
    for (auto& byte : key) byte = static_cast<std::uint8_t>(rng());
  }
  keys[0].fill(0);     // "111...1"
  keys[1].fill(0xFF);  // the longest text
  keys[2] = keys[0];
  keys[2][31] = 1;        // differs in the last byte only
  KeyTextCache cache(2);  // four places: keys displace each other
  for (int round = 0; round < 3; ++round) {
    for (std::size_t i = 0; i < 2000; ++i) {
      const Key& key = keys[rng() % keys.size()];
      ASSERT_EQ(std::string(cache.text(key.data())), decode::base58_encode(key));
    }
    cache.clear();
  }
}

}  // namespace
}  // namespace varkel::columnar
