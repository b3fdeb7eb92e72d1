// Append-only file output in large blocks, with the running byte offset.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace korva {

class BufferedWriter {
 public:
  // Opens `path` for appending (append) or truncates it; `offset` starts at the current size.
  BufferedWriter(const std::filesystem::path& path, bool append, std::size_t bufferBytes = 8u << 20)
      : path_(path), buffer_(bufferBytes) {
    file_ = std::fopen(path.c_str(), append ? "ab" : "wb");
    if (!file_) fail("kann nicht geöffnet werden");
    // Our own buffer already makes every write large; a second stdio copy only costs time.
    std::setvbuf(file_, nullptr, _IONBF, 0);
    std::error_code ec;
    offset_ = append ? static_cast<std::int64_t>(std::filesystem::file_size(path, ec)) : 0;
    if (ec) offset_ = 0;
  }
  BufferedWriter(const BufferedWriter&) = delete;
  BufferedWriter& operator=(const BufferedWriter&) = delete;
  ~BufferedWriter() {
    if (file_) {
      flushBuffer(false);
      std::fclose(file_);
    }
  }

  void write(const char* data, std::size_t n) {
    offset_ += static_cast<std::int64_t>(n);
    if (n > buffer_.size() - used_) {
      flushBuffer(true);
      if (n >= buffer_.size()) {
        writeRaw(data, n);
        return;
      }
    }
    std::memcpy(buffer_.data() + used_, data, n);
    used_ += n;
  }
  void write(std::string_view s) { write(s.data(), s.size()); }
  void put(char c) {
    if (used_ == buffer_.size()) flushBuffer(true);
    buffer_[used_++] = c;
    ++offset_;
  }

  // Bytes in the file once everything written so far is flushed.
  std::int64_t offset() const { return offset_; }

  // Flushes and closes; reports write errors that the destructor would have to swallow.
  void close() {
    if (!file_) return;
    flushBuffer(true);
    const bool bad = std::fclose(file_) != 0;
    file_ = nullptr;
    if (bad) fail("konnte nicht geschlossen werden");
  }

 private:
  void flushBuffer(bool throwOnError) {
    if (used_ == 0) return;
    const std::size_t n = used_;
    used_ = 0;
    if (std::fwrite(buffer_.data(), 1, n, file_) != n && throwOnError) fail("Schreibfehler");
  }
  void writeRaw(const char* data, std::size_t n) {
    if (std::fwrite(data, 1, n, file_) != n) fail("Schreibfehler");
  }
  [[noreturn]] void fail(const char* what) const {
    throw std::runtime_error(path_.string() + ": " + what + " (" + std::strerror(errno) + ")");
  }

  std::filesystem::path path_;
  std::FILE* file_ = nullptr;
  std::vector<char> buffer_;
  std::size_t used_ = 0;
  std::int64_t offset_ = 0;
};

}  // namespace korva
