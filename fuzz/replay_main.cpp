// A driver for the fuzz targets without libFuzzer, so that they run in every
// build (gcc included) as ordinary tests:
//
//   <name>_replay [-t SECONDS] [-s SEED] [-m MAXLEN] PATH...
//
// Every file named, and every regular file of every folder named (sorted by
// name), is run once as it is. Then, for SECONDS (default 3; 0 skips it),
// inputs are made from those files by stacked random mutations (bit flips,
// byte changes, inserted and removed runs, copies within the input, splices
// with another file) and run. The mutations follow a fixed pseudo-random
// sequence from SEED, so a failure shows up again with the same arguments;
// only how far the sequence gets depends on the machine's speed.
//
// When an input crashes (an invariant's abort, a signal, a sanitizer report),
// it is written to ./<program>-crash-input (or $ECG_FUZZ_CRASH_DIR/...) and
// can be run again by naming that file.
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
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

// Present when the program runs under a sanitizer runtime.
extern "C" void __sanitizer_set_death_callback(void (*callback)()) __attribute__((weak));

namespace {

using Bytes = std::vector<std::uint8_t>;

// What is running now, for the crash handler (which may only use what is
// safe in a signal handler: no allocation, no stdio).
const Bytes* g_current = nullptr;
const char* g_currentName = "";
char g_crashPath[4096];

void WriteAll(int fd, const void* data, std::size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t n = ::write(fd, p, size);
    if (n <= 0) return;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
}

void Say(const char* text) { WriteAll(STDERR_FILENO, text, std::strlen(text)); }

void SaveCurrentInput() {
  static volatile sig_atomic_t saved = 0;
  if (saved || g_current == nullptr) return;
  saved = 1;
  const int fd = ::open(g_crashPath, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return;
  WriteAll(fd, g_current->data(), g_current->size());
  ::close(fd);
  Say("\n==replay== crashing input (");
  Say(g_currentName);
  Say(") saved to ");
  Say(g_crashPath);
  Say("\n");
}

void OnFatalSignal(int signal) {
  SaveCurrentInput();
  ::signal(signal, SIG_DFL);
  ::raise(signal);
}

void InstallCrashHandlers() {
  for (int signal : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL}) ::signal(signal, OnFatalSignal);
  if (__sanitizer_set_death_callback) __sanitizer_set_death_callback(SaveCurrentInput);
}

bool ReadFile(const std::string& path, Bytes& out) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return false;
  out.clear();
  std::uint8_t buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) out.insert(out.end(), buffer, buffer + n);
  const bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}

// Files named directly, and the regular files of named folders.
bool CollectInputs(const std::string& path, std::vector<std::string>& files) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return false;
  if (!S_ISDIR(info.st_mode)) {
    files.push_back(path);
    return true;
  }
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return false;
  std::vector<std::string> found;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string child = path + "/" + entry->d_name;
    struct stat childInfo {};
    if (entry->d_name[0] != '.' && ::stat(child.c_str(), &childInfo) == 0 && S_ISREG(childInfo.st_mode)) {
      found.push_back(child);
    }
  }
  ::closedir(dir);
  std::sort(found.begin(), found.end());
  files.insert(files.end(), found.begin(), found.end());
  return true;
}

// splitmix64: small, fast and the same on every platform and library (the
// standard distributions are not), so a seed always means the same inputs.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 .. n-1; n must be above 0.
  std::size_t Below(std::size_t n) { return static_cast<std::size_t>(Next() % n); }
  std::uint8_t Byte() { return static_cast<std::uint8_t>(Next()); }

 private:
  std::uint64_t state_;
};

// Bytes that mean something to one target or another: the frame start bytes,
// the identification stop byte, the data file marker, command letters,
// register addresses, the set-up command's parameter digits.
constexpr std::uint8_t kInteresting[] = {0x00, 0x01, 0x05, 0x1F, 0x30, 0x31, 0x37, 0x49, 0x7F, 0x80, 0xF8,
                                         0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF, 'S',  'A',  '5',  'F',
                                         'P',  'E',  'C',  'D',  'M',  'q',  'r',  'K',  'I',  '0'};

class Mutator {
 public:
  Mutator(const std::vector<Bytes>& seeds, std::uint64_t seed, std::size_t maxLength)
      : seeds_(seeds), random_(seed), maxLength_(maxLength) {}

  Bytes Next() {
    // Mostly start again from a seed; sometimes walk on from an earlier
    // mutant, which reaches inputs several mutations away.
    Bytes data = (!pool_.empty() && random_.Below(4) == 0) ? pool_[random_.Below(pool_.size())]
                                                           : seeds_[random_.Below(seeds_.size())];
    const std::size_t steps = 1 + random_.Below(8);
    for (std::size_t i = 0; i < steps; ++i) MutateOnce(data);
    if (data.size() > maxLength_) data.resize(maxLength_);
    if (pool_.size() < kPoolSize) {
      pool_.push_back(data);
    } else {
      pool_[random_.Below(kPoolSize)] = data;
    }
    return data;
  }

 private:
  static constexpr std::size_t kPoolSize = 64;

  void MutateOnce(Bytes& data) {
    switch (random_.Below(9)) {
      case 0:  // flip one bit
        if (!data.empty()) data[random_.Below(data.size())] ^= static_cast<std::uint8_t>(1u << random_.Below(8));
        break;
      case 1:  // any byte
        if (!data.empty()) data[random_.Below(data.size())] = random_.Byte();
        break;
      case 2:  // a byte that means something
        if (!data.empty()) data[random_.Below(data.size())] = kInteresting[random_.Below(std::size(kInteresting))];
        break;
      case 3: {  // a small step up or down
        if (data.empty()) break;
        std::uint8_t& b = data[random_.Below(data.size())];
        b = static_cast<std::uint8_t>(b + (random_.Below(2) ? 1 : -1) * static_cast<int>(1 + random_.Below(4)));
        break;
      }
      case 4: {  // insert a run of random or meaningful bytes
        const std::size_t at = random_.Below(data.size() + 1);
        const std::size_t count = 1 + random_.Below(8);
        Bytes run(count);
        for (auto& b : run)
          b = random_.Below(2) ? random_.Byte() : kInteresting[random_.Below(std::size(kInteresting))];
        data.insert(data.begin() + static_cast<std::ptrdiff_t>(at), run.begin(), run.end());
        break;
      }
      case 5: {  // remove a run
        if (data.empty()) break;
        const std::size_t at = random_.Below(data.size());
        const std::size_t count = std::min(data.size() - at, 1 + random_.Below(16));
        data.erase(data.begin() + static_cast<std::ptrdiff_t>(at),
                   data.begin() + static_cast<std::ptrdiff_t>(at + count));
        break;
      }
      case 6: {  // copy a run of the input to another place in it
        if (data.empty()) break;
        const std::size_t from = random_.Below(data.size());
        const std::size_t count = std::min(data.size() - from, 1 + random_.Below(64));
        const Bytes run(data.begin() + static_cast<std::ptrdiff_t>(from),
                        data.begin() + static_cast<std::ptrdiff_t>(from + count));
        const std::size_t at = random_.Below(data.size() + 1);
        data.insert(data.begin() + static_cast<std::ptrdiff_t>(at), run.begin(), run.end());
        break;
      }
      case 7: {  // splice: keep a head of this input, continue with a tail of another
        const Bytes& other = seeds_[random_.Below(seeds_.size())];
        const std::size_t keep = random_.Below(data.size() + 1);
        const std::size_t from = random_.Below(other.size() + 1);
        data.resize(keep);
        data.insert(data.end(), other.begin() + static_cast<std::ptrdiff_t>(from), other.end());
        break;
      }
      default: {  // insert a piece of another input
        const Bytes& other = seeds_[random_.Below(seeds_.size())];
        if (other.empty()) break;
        const std::size_t from = random_.Below(other.size());
        const std::size_t count = std::min(other.size() - from, 1 + random_.Below(64));
        const std::size_t at = random_.Below(data.size() + 1);
        data.insert(data.begin() + static_cast<std::ptrdiff_t>(at), other.begin() + static_cast<std::ptrdiff_t>(from),
                    other.begin() + static_cast<std::ptrdiff_t>(from + count));
        break;
      }
    }
  }

  const std::vector<Bytes>& seeds_;
  std::vector<Bytes> pool_;
  Random random_;
  std::size_t maxLength_;
};

void RunOne(const Bytes& data, const char* name) {
  g_current = &data;
  g_currentName = name;
  LLVMFuzzerTestOneInput(data.data(), data.size());
  g_current = nullptr;
}

int Usage(const char* program) {
  std::fprintf(stderr, "usage: %s [-t SECONDS] [-s SEED] [-m MAXLEN] CORPUS-FOLDER-OR-FILE...\n", program);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 3;
  std::uint64_t seed = 1;
  std::size_t maxLength = 4096;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if ((arg == "-t" || arg == "-s" || arg == "-m") && i + 1 < argc) {
      const char* value = argv[++i];
      char* end = nullptr;
      if (arg == "-t") seconds = std::strtod(value, &end);
      if (arg == "-s") seed = std::strtoull(value, &end, 10);
      if (arg == "-m") maxLength = std::strtoull(value, &end, 10);
      if (end == value || *end != '\0' || seconds < 0) return Usage(argv[0]);
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage(argv[0]);
    } else {
      paths.push_back(arg);
    }
  }
  if (paths.empty()) return Usage(argv[0]);

  const char* crashDir = std::getenv("ECG_FUZZ_CRASH_DIR");
  const char* base = std::strrchr(argv[0], '/');
  std::snprintf(g_crashPath, sizeof g_crashPath, "%s/%s-crash-input", crashDir ? crashDir : ".",
                base ? base + 1 : argv[0]);
  InstallCrashHandlers();

  std::vector<std::string> files;
  for (const std::string& path : paths) {
    if (!CollectInputs(path, files)) {
      std::fprintf(stderr, "%s: cannot read %s\n", argv[0], path.c_str());
      return 2;
    }
  }
  std::vector<Bytes> seeds;
  for (const std::string& file : files) {
    Bytes data;
    if (!ReadFile(file, data)) {
      std::fprintf(stderr, "%s: cannot read %s\n", argv[0], file.c_str());
      return 2;
    }
    RunOne(data, file.c_str());
    seeds.push_back(std::move(data));
  }
  std::printf("replayed %zu file(s)\n", seeds.size());
  std::fflush(stdout);
  if (seeds.empty()) {
    std::fprintf(stderr, "%s: no input files\n", argv[0]);
    return 2;
  }

  if (seconds > 0) {
    Mutator mutator(seeds, seed, maxLength);
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::duration<double>(seconds);
    long runs = 0;
    while (std::chrono::steady_clock::now() < deadline) {
      const Bytes data = mutator.Next();
      RunOne(data, "a mutated input");
      ++runs;
    }
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("ran %ld mutated input(s) in %.1f s (seed %llu)\n", runs, took, static_cast<unsigned long long>(seed));
  }
  return 0;
}
