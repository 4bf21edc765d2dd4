// Base58 text of 32-byte public keys, both ways: nanoseconds per key of the
// general encoder (repeated division of 32-bit limbs) and of the key route
// (table of powers of 2^32 in base 58^5), and of the general and key
// decoders, in one run on the same seeded keys.
//
//   cmake -S . -B build-bench -G Ninja -DVARKEL_BUILD_BENCH=ON
//   cmake --build build-bench --target bench_base58 && build-bench/bench_base58 [keys] [repeat]
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "decode/base58.h"

namespace {

using varkel::decode::kKeyTextMax;
using Clock = std::chrono::steady_clock;

struct Sample {
  const char* name;
  double ns_per_key;
};

// Runs `pass` (one pass over every key, returning a checksum) until at least
// 20 ms have gone by, `repeat` times; the best time per key.
template <class Pass>
double time_per_key(std::size_t keys, int repeat, Pass pass, std::uint64_t& sink) {
  double best = 1e300;
  for (int r = 0; r < repeat; ++r) {
    std::size_t passes = 0;
    const auto start = Clock::now();
    auto now = start;
    do {
      sink += pass();
      ++passes;
      now = Clock::now();
    } while (now - start < std::chrono::milliseconds(20));
    const double ns = std::chrono::duration<double, std::nano>(now - start).count();
    best = std::min(best, ns / static_cast<double>(passes * keys));
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const std::size_t count = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 4096;
  const int repeat = argc > 2 ? std::atoi(argv[2]) : 25;
  if (count == 0 || repeat <= 0) {
    std::fprintf(stderr, "usage: bench_base58 [keys > 0] [repeat > 0]\n");
    return 2;
  }

  std::mt19937_64 rng(0xBA5E58);
  std::vector<std::uint8_t> keys(32 * count);
  for (std::size_t i = 0; i < keys.size(); i += 8) {
    const std::uint64_t word = rng();
    std::memcpy(&keys[i], &word, 8);
  }
  std::vector<std::string> texts(count);
  std::vector<char> out(kKeyTextMax);

  // Untimed: both encoders give the same text, and both decoders the key.
  for (std::size_t k = 0; k < count; ++k) {
    const std::span<const std::uint8_t> key(&keys[32 * k], 32);
    const auto generic = varkel::decode::base58_encode_generic(key, std::span<char>(out));
    texts[k].assign(out.data(), generic.value_or(0));
    const std::size_t length = varkel::decode::base58_encode_key(key.data(), out.data());
    const auto bytes = varkel::decode::base58_decode(texts[k]);
    const auto decoded = varkel::decode::base58_decode_key(texts[k]);
    if (!generic || std::string_view(out.data(), length) != texts[k] || !bytes || !decoded ||
        !std::equal(key.begin(), key.end(), bytes->begin(), bytes->end()) ||
        !std::equal(key.begin(), key.end(), decoded->begin())) {
      std::fprintf(stderr, "mismatch at key %zu\n", k);
      return 1;
    }
  }

  auto encode_generic = [&] {
    std::uint64_t sum = 0;
    for (std::size_t k = 0; k < count; ++k) {
      const std::span<const std::uint8_t> key(&keys[32 * k], 32);
      sum += *varkel::decode::base58_encode_generic(key, std::span<char>(out)) + out[1];
    }
    return sum;
  };
  auto encode_key = [&] {
    std::uint64_t sum = 0;
    for (std::size_t k = 0; k < count; ++k) {
      sum += varkel::decode::base58_encode_key(&keys[32 * k], out.data()) + out[1];
    }
    return sum;
  };
  auto encode = [&] {
    std::uint64_t sum = 0;
    for (std::size_t k = 0; k < count; ++k) {
      const std::span<const std::uint8_t> key(&keys[32 * k], 32);
      sum += *varkel::decode::base58_encode(key, std::span<char>(out)) + out[1];
    }
    return sum;
  };
  auto decode_generic = [&] {
    std::uint64_t sum = 0;
    for (const std::string& text : texts) sum += (*varkel::decode::base58_decode(text))[1];
    return sum;
  };
  auto decode_key = [&] {
    std::uint64_t sum = 0;
    for (const std::string& text : texts) sum += (*varkel::decode::base58_decode_key(text))[1];
    return sum;
  };

  std::uint64_t sink = 0;
  const Sample samples[] = {
      {"encode, general route (base58_encode_generic)", time_per_key(count, repeat, encode_generic, sink)},
      {"encode, key route (base58_encode_key)", time_per_key(count, repeat, encode_key, sink)},
      {"encode, base58_encode of 32 bytes", time_per_key(count, repeat, encode, sink)},
      {"decode, general (base58_decode)", time_per_key(count, repeat, decode_generic, sink)},
      {"decode, key (base58_decode_key)", time_per_key(count, repeat, decode_key, sink)},
  };

  double load[1] = {-1};
  getloadavg(load, 1);
  std::printf(
      "%zu random 32-byte keys, best of %d runs of at least 20 ms, load average %.2f (checksum %llu)\n",
      count, repeat, load[0], static_cast<unsigned long long>(sink % 1000));
  for (const Sample& s : samples) std::printf("  %-48s %8.1f ns/key\n", s.name, s.ns_per_key);
  return 0;
}
