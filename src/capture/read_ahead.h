// A file read front to back with pread while the caller works on what came before: one worker
// thread keeps reading the next chunks into free space of one buffer, behind the bytes handed
// out, and only stops when the buffer is full. Never mapped: the recorder may cut the file under
// a reader.
#pragma once

#include <atomic>
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
  // Throws FileError when the file cannot be opened. The buffer and the worker are made at the
  // first at(), so that a reader nobody asks costs neither memory nor reading.
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
  std::uint64_t bytesRead() const { return bytesRead_.load(std::memory_order_relaxed); }

 private:
  static constexpr std::uint64_t kEndBit = std::uint64_t{1} << 63;

  // Closes the descriptor however the owner ends, a constructor that throws included.
  struct Descriptor {
    int fd = -1;
    Descriptor() = default;
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor();
  };

  void launch();  // makes the buffer and the worker
  void work();
  void pause();   // returns once the worker is not reading and will not start
  void resume();  // lets it read on from start_ + the filled bytes
  void refresh();
  void waitForMore();

  std::string path_;
  Descriptor fd_;
  std::size_t chunk_;
  std::size_t capacity_;
  std::unique_ptr<char[]> buffer_;

  // The caller's side; start_ changes only while the worker is paused.
  std::int64_t start_ = 0;  // file offset of buffer_[0]
  std::size_t filled_ = 0;  // bytes valid in buffer_, as last seen
  bool atEnd_ = false;      // the worker met the end of the file (or an error) there

  // Bytes valid in buffer_ plus kEndBit once the worker stopped at the end of the file. Stored by
  // the worker after the bytes are in the buffer, so one load gives a consistent pair.
  std::atomic<std::uint64_t> state_{0};
  std::atomic<std::uint64_t> bytesRead_{0};

  std::mutex mutex_;
  std::condition_variable wake_;  // the worker waits here
  std::condition_variable done_;  // the caller waits here
  bool run_ = true, reading_ = false, stop_ = false, callerWaiting_ = false;
  int error_ = 0;
  std::thread worker_;
};

}  // namespace korva
