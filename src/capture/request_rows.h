// The lines of "HtmlRequest.log": the offset of each line, found in one pass over the file, and
// the file kept open to read a line's bytes when they are asked for. Ten million requests cost
// 80 MB instead of the log's 1.3 GB; the bytes stay in the system's page cache, and a log that
// only grew is brought up to date by reading what was appended.
//
// Lines are split as LineReader splits them: CR LF and a lone CR end a line, a lone LF is text,
// a last line without terminator runs to the end of the file.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace korva {

// What a refresh did to the rows.
struct RowsChange {
  enum class Kind {
    Unchanged,  // the rows are as they were
    Appended,   // rows before `from` are as they were; the rest are new or, see below, longer
    Replaced,   // every row was read again: nothing of the rows before holds
  };
  Kind kind = Kind::Replaced;
  // First row that is new or changed; 0 when replaced, size() when unchanged.
  std::size_t from = 0;
  // The number of rows before. When appended, a row below it (only ever `from`, the old last row,
  // which had no terminator yet) got longer; rows from previousSize on were inserted.
  std::size_t previousSize = 0;
};

class RequestRows {
 public:
  static constexpr std::size_t kDefaultBlockSize = 4 << 20;

  RequestRows() = default;
  ~RequestRows();
  RequestRows(RequestRows&& o) noexcept;
  RequestRows& operator=(RequestRows&& o) noexcept;

  // Replaces the rows by the lines of the file, in file order, reading it with pread in blocks of
  // `blockSize` bytes up to its end as it is then. On a read error the rows read so far stay, and
  // the FileError is thrown on.
  void load(const std::string& path, std::size_t blockSize = kDefaultBlockSize);
  // Brings the rows up to the file as it is now, as a load() would leave them. When it is the
  // file read before (same device and inode), not shorter, and the bytes at the start and the
  // last 4 KiB before the old end are still the ones read, only what was appended is read and
  // split (the last line may have had no terminator yet, or ended in a CR whose LF follows now);
  // otherwise the file is loaded whole. On a read error the rows read so far stay (all of them
  // when the comparison fails to read) and the FileError is thrown on; a file that cannot be
  // opened leaves no rows, as with load().
  RowsChange refresh(const std::string& path, std::size_t blockSize = kDefaultBlockSize);
  void clear();

  std::size_t size() const { return rows_.size(); }
  // Bytes of the file that the rows hold, terminators included.
  std::uint64_t length() const { return length_; }

  // The row's bytes as the file holds them now, without terminator; empty for a row out of range
  // or one that can no longer be read. Read through a small cache of each thread's own, so that
  // threads may read rows side by side while none changes them: the view is valid until the
  // next load(), refresh() or clear(), or until the same thread has read rows of seven other
  // stretches of the file. Use it at once or copy it.
  std::string_view entry(std::size_t row) const;
  // The first 24 bytes of the row (all of it when shorter).
  std::string_view key(std::size_t row) const;
  // The row from byte offset 27 on; empty when shorter.
  std::string_view text(std::size_t row) const;

 private:
  // A growable array of plain values in anonymous pages of its own: growing moves the pages
  // (mremap) instead of copying them, so a refresh after a load of a gigabyte costs what was
  // appended, and pages reserved but never written cost no memory.
  template <typename T>
  class Array {
   public:
    std::size_t size() const { return size_; }
    T* data() const { return data_; }
    void reserve(std::size_t capacity);
    void resize(std::size_t size);  // new elements are not initialised
    void push_back(T value) {
      if (size_ == capacity_) reserve(capacity_ + capacity_ / 2 + 1024);
      data_[size_++] = value;
    }
    void pop_back() { --size_; }
    void clear();
    Array() = default;
    ~Array() { clear(); }
    Array(Array&& o) noexcept
        : data_(o.data_), size_(o.size_), capacity_(o.capacity_), mapped_(o.mapped_) {
      o.data_ = nullptr;
      o.size_ = o.capacity_ = o.mapped_ = 0;
    }
    Array& operator=(Array&& o) noexcept {
      if (this != &o) {
        clear();
        data_ = o.data_;
        size_ = o.size_;
        capacity_ = o.capacity_;
        mapped_ = o.mapped_;
        o.data_ = nullptr;
        o.size_ = o.capacity_ = o.mapped_ = 0;
      }
      return *this;
    }

   private:
    T* data_ = nullptr;
    std::size_t size_ = 0, capacity_ = 0;
    std::size_t mapped_ = 0;  // bytes mapped at data_
  };

  static constexpr std::uint64_t kCrLf = std::uint64_t{1} << 63;  // in rows_: ends in CR LF
  static constexpr std::uint64_t kOffset = kCrLf - 1;

  // Reads from length_ to the end of the file and splits what came; `expectedEnd` is the file's
  // length when it was opened.
  void readOn(int fd, const std::string& path, std::size_t blockSize, std::size_t expectedEnd);
  // Splits `n` bytes read at `base`; a line that runs into their end stays open.
  void scan(const char* bytes, std::size_t n, std::uint64_t base);
  bool sameBytesAs(int fd, const std::string& path) const;
  std::uint64_t startOf(std::size_t row) const { return rows_.data()[row] & kOffset; }
  std::uint64_t endOf(std::size_t row) const;
  void closeFile();

  Array<std::uint64_t> rows_;    // offset of each row's first byte, and kCrLf
  std::uint64_t length_ = 0;     // bytes of the file split
  int fd_ = -1;                  // the file the rows were read from
  std::uint64_t id_ = 0;         // names these rows' bytes in the threads' caches
  std::size_t chunk_ = 1 << 20;  // bytes a cache slot reads at once
  std::string head_, tail_;      // the first and the last 4 KiB read, for the refresh's comparison
  bool inRow_ = false;           // the last row has no terminator (yet)
  bool afterCr_ = false;         // the last byte split was a CR: an LF next belongs to it
  bool identified_ = false;      // device_ and inode_ are those of the file read
  dev_t device_ = 0;
  ino_t inode_ = 0;
};

}  // namespace korva
