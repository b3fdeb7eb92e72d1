// A file read front to back with pread while the caller works on what came before: one worker
// thread reads the next chunk into the same buffer, behind the bytes handed out. Never mapped:
// the recorder may cut the file under a reader.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace korva {

class ReadAheadFile {
 public:
  // Throws FileError when the file cannot be opened.
  ReadAheadFile(const std::string& path, std::size_t chunk);
  ~ReadAheadFile();
  ReadAheadFile(const ReadAheadFile&) = delete;
  ReadAheadFile& operator=(const ReadAheadFile&) = delete;

  // The bytes from the 0-based `start` on: at least half a chunk, or all up to the end of the
  // file. Valid until the next call. Reading on is cheapest with `start` at or behind the last
  // one; an earlier `start` reads again. Throws FileError when reading fails.
  std::string_view at(std::int64_t start);
  // True when the `length` bytes from `start` that at() gave run to the end of the file.
  bool endsFile(std::int64_t start, std::size_t length) const;
  std::uint64_t bytesRead() const { return bytesRead_; }

 private:
  void startRead();
  void finishRead();
  bool readDone();
  void work();

  std::string path_;
  int fd_ = -1;
  std::size_t chunk_;
  std::size_t capacity_;
  std::unique_ptr<char[]> buffer_;
  std::int64_t start_ = 0;  // file offset of buffer_[0]
  std::size_t filled_ = 0;  // bytes valid in buffer_
  bool atEnd_ = false;
  bool pending_ = false;  // a read into buffer_[filled_ ...] is under way
  std::uint64_t bytesRead_ = 0;

  std::mutex mutex_;
  std::condition_variable wake_;
  bool requested_ = false, done_ = false, stop_ = false;
  char* target_ = nullptr;
  std::size_t length_ = 0;
  std::int64_t offset_ = 0;
  std::size_t got_ = 0;
  int error_ = 0;
  std::thread worker_;
};

}  // namespace korva
