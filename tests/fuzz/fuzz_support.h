// What the fuzz targets share: a scratch folder per process, file writing, taking parameters off
// the front of an input, and a check that stops the run with a readable message.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "test_util.h"

namespace korva::fuzz {

// A failed check is a finding: libFuzzer saves the input when the process aborts.
#define KORVA_FUZZ_CHECK(cond, ...)                                                 \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::fprintf(stderr, __VA_ARGS__);                                            \
      std::fprintf(stderr, "\n");                                                   \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

// One folder for the whole run, on tmpfs when there is one: every input is written to a file, and
// a disk would make that the bottleneck.
inline const std::string& scratchFolder() {
  static const std::string* folder = [] {
    std::string base = "/dev/shm";
    if (::access(base.c_str(), W_OK) != 0) {
      const char* tmp = std::getenv("TMPDIR");
      base = tmp ? tmp : "/tmp";
    }
    std::string pattern = base + "/korva-fuzz-XXXXXX";
    if (!::mkdtemp(pattern.data())) std::abort();
    auto* f = new std::string(pattern);
    std::atexit([] { korva::testing::removeTree(scratchFolder()); });
    return f;
  }();
  return *folder;
}

inline std::string scratchFile(const char* name) { return scratchFolder() + "/" + name; }

inline void writeFile(const std::string& path, std::string_view bytes, bool append = false) {
  int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : O_TRUNC), 0644);
  if (fd < 0) std::abort();
  for (std::size_t done = 0; done < bytes.size();) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) std::abort();
    done += static_cast<std::size_t>(n);
  }
  ::close(fd);
}

inline std::string readFile(const std::string& path) {
  std::string bytes;
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return bytes;
  char buffer[65536];
  for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
    bytes.append(buffer, static_cast<std::size_t>(n));
  ::close(fd);
  return bytes;
}

inline void removeFile(const std::string& path) { ::unlink(path.c_str()); }

// Reads parameters off the front of the input; what is left is the payload.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}
  std::uint8_t byte() {
    if (rest_.empty()) return 0;
    auto b = static_cast<std::uint8_t>(rest_.front());
    rest_.remove_prefix(1);
    return b;
  }
  std::uint16_t word() { return static_cast<std::uint16_t>(byte() | (byte() << 8)); }
  // Up to `count` bytes, fewer when the input runs out.
  std::string_view take(std::size_t count) {
    std::string_view part = rest_.substr(0, count);
    rest_.remove_prefix(part.size());
    return part;
  }
  std::string_view rest() const { return rest_; }

 private:
  std::string_view rest_;
};

}  // namespace korva::fuzz

// The libFuzzer entry point of a target whose checks are korva::fuzz::run(Input&).
#define KORVA_FUZZ_ENTRY_POINT()                                                      \
  extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { \
    korva::fuzz::Input in(data, size);                                                \
    korva::fuzz::run(in);                                                             \
    return 0;                                                                         \
  }
