// Buffered line reading with byte positions, for the two logs and the index file.
//
// A line ends at CR LF or at a lone CR; a lone LF is an ordinary character. A last line
// without terminator is read up to the end of the file. Positions are 1-based byte offsets.
// The file is read with pread in large blocks, never mapped: a log truncated under a mapping
// would kill the process with SIGBUS. Reading stops at whatever the current end of the file is,
// so a log that grows or shrinks while it is read is handled without special cases. A log that
// is cut or rewritten in place below what was already read is noticed at the next block read
// (see changedUnderneath): lines read before and after would come from two different logs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace korva {

class LineReader {
 public:
  static constexpr std::size_t kDefaultBlockSize = 1 << 20;

  // Opens the file for reading; throws FileError when it cannot be opened.
  explicit LineReader(const std::string& path, std::size_t blockSize = kDefaultBlockSize);
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  // Moves the read position to the 1-based byte position `position`.
  void seek(std::int64_t position);
  // 1-based byte position at which the next line begins. Exact after atEnd() returned false: a
  // CR that was the last byte of the file may still get its LF, which belongs to the line before.
  std::int64_t position() const { return fileOffset_ + static_cast<std::int64_t>(cursor_) + 1; }
  // True when no byte is left at the current position (the file may still grow later).
  bool atEnd();

  // Reads the next line into `line`, without terminator. Returns false at the end of the file.
  bool readLine(std::string& line);
  // Reads the next line but keeps at most `keep` of its leading bytes in `head`; returns the
  // line's full length, or -1 at the end of the file. Lets a scan skip long body lines without
  // copying them.
  std::int64_t readLineHead(std::string& head, std::size_t keep);
  // Like readLineHead, and also tells whether the line was ended by a terminator (false for a
  // last line that runs into the end of the file).
  std::int64_t readLineHead(std::string& head, std::size_t keep, bool& terminated);
  // Like readLineHead, but appends the kept bytes to `out` instead of replacing its content, so
  // that a caller collecting lines holds each line once, not once more in a line buffer.
  std::int64_t appendLineHead(std::string& out, std::size_t keep, bool& terminated);
  // True when the last line read by the calls above was ended by CR LF (not by a lone CR, not
  // by the end of the file).
  bool lastLineEndedByCrLf() const { return lastCrLf_; }

  // The lines from the read position on that lie whole in the buffer, each with its line end
  // (so every CR in it is followed by its next byte, an LF of a CR LF included), or an empty
  // view when the next line reaches past the buffer or the file has ended: read that one with
  // readLineHead. Lets a caller parse many short lines in place. The view is valid until the
  // next read; skipBuffered moves past a prefix of it.
  std::string_view bufferedLines();
  void skipBuffered(std::size_t bytes) { cursor_ += bytes; }

  // Reads lines up to and including the next one that equals `target` and is ended by a
  // terminator; true when it came, false at the end of the file or at a line that runs into it.
  // Compares lines in the buffer without copying them: the index build skips every body line.
  // A target of 31 or more copies of one byte (the divider) is found without visiting each line.
  bool skipPastLine(std::string_view target);

  // With read-ahead on, the kernel is asked to read the blocks behind the current one from the
  // disk while the caller works through it. What the caller sees stays the same.
  void setReadAhead(bool on);

  // Length of the file in bytes, as of the last block read (or of now, if nothing was read yet).
  std::int64_t lastKnownLength() const { return lastKnownLength_; }
  // Length of the file in bytes right now.
  std::int64_t currentLength() const;
  // True once the bytes already read were no longer in the file when the next block was read
  // (the file was truncated below them, or rewritten in place). Reading then ends as at the end
  // of the file, and what was read may mix two versions of the file.
  bool changedUnderneath() const { return changed_; }

 private:
  static constexpr std::size_t kAheadBlocks = 16;  // asked for ahead of the current block
  static constexpr std::size_t kTailCrUnknown = static_cast<std::size_t>(-2);
  bool fill();  // reads the next block behind the buffered bytes; false when none came
  void adviseAhead();
  bool skipPastRunLine(std::string_view target);
  std::size_t findRunLine(unsigned char c, std::size_t length, std::size_t end) const;
  std::size_t bufferedTailStart() const;
  bool bufferedTailStillInFile();
  bool nextLineStart();  // a byte of the next line is buffered; false at the end of the file

  int fd_ = -1;
  std::string path_;
  std::unique_ptr<char[]> buffer_;  // not zero-filled: a small file must not cost the whole block
  std::size_t blockSize_;
  std::int64_t fileOffset_ = 0;                  // 0-based offset of buffer_[0] in the file
  std::size_t cursor_ = 0;                       // next unread byte in buffer_
  std::size_t filled_ = 0;                       // bytes valid in buffer_
  mutable std::size_t tailCr_ = kTailCrUnknown;  // see bufferedTailStart
  std::int64_t lastKnownLength_ = 0;
  bool changed_ = false;
  bool pendingLf_ = false;  // the last line ended at a CR that was the last byte of the file
  bool lastCrLf_ = false;
  bool readAheadWanted_ = false;
  std::int64_t advisedTo_ = 0;  // the kernel was asked for the file up to this offset
  std::string scratch_;         // the line head of skipPastLine's general path
};

// Opens a regular file for reading and returns its descriptor, which the caller closes. A folder
// is refused with EISDIR, a pipe or device with ESPIPE; throws FileError.
int openForReading(const std::string& path);
// pread that retries on EINTR and on short reads: the bytes read, fewer than `count` only at the
// end of the file. `offset` is 0-based. Throws FileError.
std::size_t preadFully(int fd, char* buffer, std::size_t count, std::int64_t offset,
                       const std::string& path);

// Reads up to `count` bytes at the 1-based `position` of the file; fewer near its end.
// Throws FileError when the file cannot be opened or read.
std::string readBytesAt(const std::string& path, std::int64_t position, std::size_t count);
// Length of the file in bytes; throws FileError when it cannot be queried.
std::int64_t fileLength(const std::string& path);

}  // namespace korva
