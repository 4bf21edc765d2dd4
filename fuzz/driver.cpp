// A small fuzzing engine for compilers without libFuzzer (g++): links with a
// target's LLVMFuzzerTestOneInput and takes the same command line as a
// libFuzzer binary, so that scripts/fuzz.sh runs either the same way.
//
//   fuzz_json [-flag=value ...] CORPUS_DIR [SEED_DIR ...]   replay, then mutate
//   fuzz_json FILE ...                                       run these inputs once
//
// Flags: -max_total_time=S, -runs=N, -seed=N, -max_len=N (default 4096),
// -timeout=S (per input, default 20), -artifact_prefix=PATH, -dict=FILE (the
// libFuzzer/AFL format); any other flag is accepted and ignored.
//
// Every input of the directories is run first. Then seeded mutations of the
// corpus run until the time or the run count is used up. The code under test
// is built with -fsanitize-coverage=trace-pc; an input that reaches a new edge
// bucket (AFL's scheme: the pair of previous and current location, hit count
// bucketed) joins the corpus and is written to CORPUS_DIR under its hash.
//
// A crash (sanitizer report, signal, abort from a failed check) or an input
// running past the timeout writes that input to {artifact_prefix}crash-{hash}
// (timeout-{hash}) before the process dies; the process then ends non-zero.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" [[gnu::weak]] int LLVMFuzzerInitialize(int* argc, char*** argv);
extern "C" [[gnu::weak]] void __sanitizer_set_death_callback(void (*callback)());

namespace {

// ---- coverage --------------------------------------------------------------

constexpr std::size_t kMapSize = std::size_t{1} << 16;
std::uint8_t g_hits[kMapSize];      // this run: hit counts per edge
std::uint16_t g_touched[kMapSize];  // this run: the edges hit, in first-hit order
std::size_t g_touched_count = 0;
std::uint8_t g_seen[kMapSize];  // all runs: bucket bits seen per edge
thread_local std::uintptr_t g_previous = 0;

// 1, 2, 3, 4-7, 8-15, 16-31, 32-127, 128+ hits: one bit each.
std::uint8_t bucket(std::uint8_t hits) {
  if (hits <= 3) return hits == 0 ? 0 : static_cast<std::uint8_t>(1u << (hits - 1));
  if (hits <= 7) return 8;
  if (hits <= 15) return 16;
  if (hits <= 31) return 32;
  if (hits <= 127) return 64;
  return 128;
}

// Folds this run's hits into the seen map; the number of new bucket bits.
std::size_t merge_coverage() {
  std::size_t added = 0;
  for (std::size_t k = 0; k < g_touched_count; ++k) {
    const std::size_t i = g_touched[k];
    const std::uint8_t bits = bucket(g_hits[i]);
    if ((g_seen[i] | bits) != g_seen[i]) {
      g_seen[i] |= bits;
      ++added;
    }
    g_hits[i] = 0;
  }
  g_touched_count = 0;
  return added;
}

std::size_t edges_seen() {
  return static_cast<std::size_t>(std::count_if(g_seen, g_seen + kMapSize, [](std::uint8_t b) { return b; }));
}

// ---- the input being run, for the crash handlers ---------------------------

const std::uint8_t* volatile g_data = nullptr;
volatile std::size_t g_size = 0;
char g_prefix[4096] = "./";

std::uint64_t fnv1a(const std::uint8_t* data, std::size_t size) {
  std::uint64_t h = 1469598103934665603ull;
  for (std::size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 1099511628211ull;
  return h;
}

void append(char* out, std::size_t cap, const char* text) {
  std::size_t n = std::strlen(out);
  while (*text != '\0' && n + 1 < cap) out[n++] = *text++;
  out[n] = '\0';
}

void append_hex(char* out, std::size_t cap, std::uint64_t value) {
  char digits[17];
  for (int i = 15; i >= 0; --i) {
    digits[i] = "0123456789abcdef"[value & 15];
    value >>= 4;
  }
  digits[16] = '\0';
  append(out, cap, digits);
}

// Writes the current input to {prefix}{kind}-{hash}. Async-signal-safe.
void save_current(const char* kind) {
  const std::uint8_t* data = g_data;
  const std::size_t size = g_size;
  if (data == nullptr) return;
  char path[4200] = "";
  append(path, sizeof path, g_prefix);
  append(path, sizeof path, kind);
  append(path, sizeof path, "-");
  append_hex(path, sizeof path, fnv1a(data, size));
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd >= 0) {
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = write(fd, data + done, size - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    close(fd);
  }
  char message[4300] = "==driver== input saved to ";
  append(message, sizeof message, path);
  append(message, sizeof message, "\n");
  [[maybe_unused]] ssize_t ignored = write(2, message, std::strlen(message));
}

void on_death() {
  save_current("crash");
}

void on_signal(int signal) {
  save_current(signal == SIGALRM ? "timeout" : "crash");
  if (signal == SIGALRM) {
    static const char text[] = "==driver== ERROR: input ran past the timeout\n";
    [[maybe_unused]] ssize_t ignored = write(2, text, sizeof text - 1);
    _exit(70);
  }
  ::signal(signal, SIG_DFL);
  raise(signal);
}

void install_handlers(bool sanitizer) {
  if (__sanitizer_set_death_callback != nullptr) __sanitizer_set_death_callback(on_death);
  std::vector<int> signals{SIGABRT, SIGALRM};
  // Under a sanitizer its own handlers report these and then call on_death.
  if (!sanitizer) signals.insert(signals.end(), {SIGSEGV, SIGBUS, SIGFPE, SIGILL});
  for (int signal : signals) {
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
  }
}

// ---- running ----------------------------------------------------------------

using Bytes = std::vector<std::uint8_t>;

unsigned g_timeout = 20;

// Runs one input; the number of new coverage bucket bits it reached.
std::size_t run(const Bytes& input) {
  // A copy of exactly the input's size, so that reads past its end are caught.
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[input.size()]);
  if (!input.empty()) std::memcpy(copy.get(), input.data(), input.size());
  g_size = input.size();
  g_data = copy.get();
  if (g_timeout != 0) alarm(g_timeout);
  g_previous = 0;
  LLVMFuzzerTestOneInput(copy.get(), input.size());
  if (g_timeout != 0) alarm(0);
  g_data = nullptr;
  return merge_coverage();
}

bool read_file(const std::string& path, Bytes& out) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  out.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  return true;
}

bool is_directory(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::vector<std::string> list_directory(const std::string& dir) {
  std::vector<std::string> paths;
  if (DIR* handle = opendir(dir.c_str())) {
    while (dirent* entry = readdir(handle)) {
      if (entry->d_name[0] == '.') continue;
      const std::string path = dir + "/" + entry->d_name;
      if (!is_directory(path)) paths.push_back(path);
    }
    closedir(handle);
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

void write_unit(const std::string& dir, const Bytes& input) {
  char name[17] = "";
  append_hex(name, sizeof name, fnv1a(input.data(), input.size()));
  std::ofstream(dir + "/" + name, std::ios::binary)
      .write(reinterpret_cast<const char*>(input.data()), static_cast<std::streamsize>(input.size()));
}

// The tokens of a dictionary file: lines `"text"` or `name="text"`, with
// \\, \" and \xNN escapes; `#` starts a comment line.
std::vector<Bytes> read_dictionary(const std::string& path) {
  std::vector<Bytes> tokens;
  std::ifstream file(path);
  std::string line;
  while (std::getline(file, line)) {
    const std::size_t open = line.find('"');
    const std::size_t close = line.rfind('"');
    if (line.empty() || line[0] == '#' || open == std::string::npos || close <= open) continue;
    Bytes token;
    for (std::size_t i = open + 1; i < close; ++i) {
      if (line[i] == '\\' && i + 1 < close) {
        if (line[i + 1] == 'x' && i + 3 < close) {
          token.push_back(static_cast<std::uint8_t>(std::stoul(line.substr(i + 2, 2), nullptr, 16)));
          i += 3;
        } else {
          token.push_back(static_cast<std::uint8_t>(line[++i]));
        }
      } else {
        token.push_back(static_cast<std::uint8_t>(line[i]));
      }
    }
    tokens.push_back(std::move(token));
  }
  return tokens;
}

class Mutator {
 public:
  Mutator(std::uint64_t seed, std::size_t max_len, std::vector<Bytes> dictionary)
      : rng_(seed), max_len_(max_len), dictionary_(std::move(dictionary)) {}

  Bytes mutate(const std::vector<Bytes>& corpus) {
    Bytes out = corpus[below(corpus.size())];
    const unsigned count = 1u << below(4);  // 1, 2, 4 or 8 changes
    for (unsigned i = 0; i < count; ++i) change(out, corpus);
    if (out.size() > max_len_) out.resize(max_len_);
    return out;
  }

 private:
  std::size_t below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(rng_() % n); }

  void change(Bytes& out, const std::vector<Bytes>& corpus) {
    static constexpr std::uint64_t kInteresting[] = {0,          1,      0x7f,      0x80,       0xff,
                                                     0x7fff,     0x8000, 0xffff,    0x7fffffff, 0x80000000,
                                                     0xffffffff, ~0ull,  1ull << 63};
    const std::size_t at = below(out.size() + 1);
    switch (below(10)) {
      case 0:  // flip one bit
        if (!out.empty()) out[below(out.size())] ^= static_cast<std::uint8_t>(1u << below(8));
        break;
      case 1:  // set one byte
        if (!out.empty()) out[below(out.size())] = static_cast<std::uint8_t>(rng_());
        break;
      case 2: {  // write an interesting value, 1 to 8 bytes little-endian
        const std::uint64_t value = kInteresting[below(std::size(kInteresting))];
        const std::size_t width = std::size_t{1} << below(4);
        for (std::size_t k = 0; k < width; ++k) {
          const auto byte = static_cast<std::uint8_t>(value >> (8 * k));
          if (at + k < out.size())
            out[at + k] = byte;
          else
            out.push_back(byte);
        }
        break;
      }
      case 3:  // erase a range
        if (at < out.size())
          out.erase(out.begin() + static_cast<std::ptrdiff_t>(at),
                    out.begin() + static_cast<std::ptrdiff_t>(std::min(out.size(), at + 1 + below(32))));
        break;
      case 4: {  // insert random bytes
        const std::size_t n = 1 + below(16);
        for (std::size_t k = 0; k < n; ++k)
          out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), static_cast<std::uint8_t>(rng_()));
        break;
      }
      case 5: {  // repeat one byte many times (deep nesting, long runs)
        const std::uint8_t byte = out.empty() ? static_cast<std::uint8_t>(rng_()) : out[below(out.size())];
        out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), 1 + below(512), byte);
        break;
      }
      case 6: {  // copy a range of this input elsewhere
        if (out.empty()) break;
        const std::size_t from = below(out.size());
        const std::size_t n = 1 + below(std::min<std::size_t>(out.size() - from, 64));
        Bytes piece(out.begin() + static_cast<std::ptrdiff_t>(from),
                    out.begin() + static_cast<std::ptrdiff_t>(from + n));
        out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), piece.begin(), piece.end());
        break;
      }
      case 7: {  // splice: the tail of another corpus entry
        const Bytes& other = corpus[below(corpus.size())];
        const std::size_t from = below(other.size() + 1);
        out.resize(at);
        out.insert(out.end(), other.begin() + static_cast<std::ptrdiff_t>(from), other.end());
        break;
      }
      case 8:  // insert a dictionary token
        if (!dictionary_.empty()) {
          const Bytes& token = dictionary_[below(dictionary_.size())];
          out.insert(out.begin() + static_cast<std::ptrdiff_t>(at), token.begin(), token.end());
        }
        break;
      default:  // add or subtract a little
        if (!out.empty()) out[below(out.size())] += static_cast<std::uint8_t>(below(33) - 16);
        break;
    }
  }

  std::mt19937_64 rng_;
  std::size_t max_len_;
  std::vector<Bytes> dictionary_;
};

struct Options {
  double max_total_time = 0;
  std::uint64_t runs = 0;  // 0: no limit
  std::uint64_t seed = 0;
  std::size_t max_len = 4096;
  std::string dict;
  std::vector<std::string> inputs;
};

Options parse_options(int argc, char** argv) {
  Options options;
  options.seed = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg.size() < 2 || arg[0] != '-') {
      options.inputs.push_back(arg);
      continue;
    }
    const std::size_t eq = arg.find('=');
    const std::string name = arg.substr(1, eq == std::string::npos ? std::string::npos : eq - 1);
    const std::string value = eq == std::string::npos ? "" : arg.substr(eq + 1);
    if (name == "max_total_time")
      options.max_total_time = std::stod(value);
    else if (name == "runs")
      options.runs = std::stoull(value);
    else if (name == "seed")
      options.seed = std::stoull(value);
    else if (name == "max_len")
      options.max_len = std::stoull(value);
    else if (name == "timeout")
      g_timeout = static_cast<unsigned>(std::stoul(value));
    else if (name == "dict")
      options.dict = value;
    else if (name == "artifact_prefix") {
      g_prefix[0] = '\0';
      append(g_prefix, sizeof g_prefix, value.c_str());
    }
  }
  return options;
}

}  // namespace

int main(int argc, char** argv) {
  Options options = parse_options(argc, argv);
  install_handlers(__sanitizer_set_death_callback != nullptr);
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);

  // Files only: run them once each (replaying saved findings).
  const bool files_only =
      !options.inputs.empty() && std::none_of(options.inputs.begin(), options.inputs.end(), is_directory);
  if (files_only) {
    for (const std::string& path : options.inputs) {
      Bytes input;
      if (!read_file(path, input)) {
        std::fprintf(stderr, "==driver== cannot read %s\n", path.c_str());
        return 2;
      }
      std::fprintf(stderr, "Running: %s\n", path.c_str());
      run(input);
      std::fprintf(stderr, "Executed %s\n", path.c_str());
    }
    return 0;
  }

  const auto start = std::chrono::steady_clock::now();
  auto elapsed = [&] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  std::string writable;  // the first directory: new units go there
  std::vector<Bytes> corpus;
  std::uint64_t executed = 0;
  for (const std::string& dir : options.inputs) {
    if (!is_directory(dir)) continue;
    if (writable.empty()) writable = dir;
    for (const std::string& path : list_directory(dir)) {
      Bytes input;
      if (!read_file(path, input)) continue;
      if (input.size() > options.max_len) input.resize(options.max_len);
      const std::size_t added = run(input);
      ++executed;
      if (added > 0 || corpus.empty()) corpus.push_back(std::move(input));
    }
  }
  if (corpus.empty()) corpus.emplace_back();
  std::fprintf(stderr, "#%llu INITED cov: %zu corp: %zu seed: %llu\n",
               static_cast<unsigned long long>(executed), edges_seen(), corpus.size(),
               static_cast<unsigned long long>(options.seed));

  std::vector<Bytes> dictionary;
  if (!options.dict.empty()) dictionary = read_dictionary(options.dict);
  Mutator mutator(options.seed, options.max_len, std::move(dictionary));
  std::uint64_t added_units = 0;
  std::uint64_t next_report = executed * 2 + 1024;
  for (std::uint64_t mutations = 0;; ++mutations) {
    if (options.runs != 0 && mutations >= options.runs) break;
    if ((mutations & 63) == 0 && options.max_total_time > 0 && elapsed() >= options.max_total_time) break;
    Bytes input = mutator.mutate(corpus);
    const std::size_t added = run(input);
    ++executed;
    if (added > 0) {
      if (!writable.empty()) write_unit(writable, input);
      corpus.push_back(std::move(input));
      ++added_units;
    }
    if (executed >= next_report) {
      std::fprintf(stderr, "#%llu pulse cov: %zu corp: %zu exec/s: %.0f\n",
                   static_cast<unsigned long long>(executed), edges_seen(), corpus.size(),
                   executed / elapsed());
      next_report *= 2;
    }
  }
  const double seconds = elapsed();
  std::fprintf(stderr, "Done %llu runs in %.0f second(s)\n", static_cast<unsigned long long>(executed),
               seconds);
  std::fprintf(stderr, "stat::number_of_executed_units: %llu\n", static_cast<unsigned long long>(executed));
  std::fprintf(stderr, "stat::average_exec_per_sec:     %.0f\n", seconds > 0 ? executed / seconds : 0.0);
  std::fprintf(stderr, "stat::new_units_added:          %llu\n",
               static_cast<unsigned long long>(added_units));
  std::fprintf(stderr, "stat::edges_seen:               %zu\n", edges_seen());
  return 0;
}

// The hook of -fsanitize-coverage=trace-pc, called at every edge of the code
// under test (this file is built without the instrumentation, and the hook
// without the sanitizers: it runs at every edge).
extern "C" __attribute__((no_sanitize("address", "undefined"))) void __sanitizer_cov_trace_pc() {
  const auto location = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  const std::uintptr_t mixed = (location ^ (location >> 16)) * 0x9E3779B97F4A7C15ull;
  const std::size_t index = static_cast<std::size_t>((mixed >> 40) ^ g_previous) & (kMapSize - 1);
  const std::uint8_t hits = g_hits[index];
  if (hits == 0) g_touched[g_touched_count++] = static_cast<std::uint16_t>(index);
  if (hits != 255) g_hits[index] = static_cast<std::uint8_t>(hits + 1);
  g_previous = (mixed >> 41) & (kMapSize - 1);
}
