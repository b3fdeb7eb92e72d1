// The line reader against the plain line split, over arbitrary bytes and tiny read blocks, with
// the kernel asked to read ahead or not: every line, its kept head, its length, its terminator
// and the position it started at; the lines the buffer holds whole; reading on after the file
// grew, also when the growth completes a CR LF; seeks; and the raw byte reads.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "fuzz/log_model.h"
#include "index/file_error.h"
#include "index/line_reader.h"

namespace korva::fuzz {
namespace {

// Reads lines until the end and holds each against the model's lines from `from` on.
void readAndCompare(LineReader& reader, std::string_view bytes, std::size_t from,
                    std::size_t keep) {
  const std::vector<model::Line> expected = model::splitLines(bytes, from);
  std::string head;
  bool terminated = false;
  for (const model::Line& line : expected) {
    KORVA_FUZZ_CHECK(!reader.atEnd(), "atEnd before the line at %zu", line.offset);
    const std::int64_t position = reader.position();
    KORVA_FUZZ_CHECK(position == static_cast<std::int64_t>(line.offset) + 1,
                     "position %lld, expected %zu", static_cast<long long>(position),
                     line.offset + 1);
    // Every third line is taken from the lines the buffer holds whole, where it lies there, as
    // the index build reads its opening lines: whole lines with their line ends, and from them
    // the first one.
    if (line.offset % 3 == 2) {
      const std::string_view lines = reader.bufferedLines();
      if (!lines.empty()) {
        KORVA_FUZZ_CHECK(lines == bytes.substr(line.offset, lines.size()) && line.terminated,
                         "buffered lines at %zu", line.offset);
        const std::size_t end = line.offset + lines.size();
        KORVA_FUZZ_CHECK(bytes[end - 1] == '\n' ||
                             (bytes[end - 1] == '\r' && end < bytes.size() && bytes[end] != '\n'),
                         "buffered lines at %zu end inside a line", line.offset);
        const std::size_t cr = lines.find('\r');
        KORVA_FUZZ_CHECK(lines.substr(0, cr) == line.text, "first buffered line at %zu",
                         line.offset);
        reader.skipBuffered(cr + (cr + 1 < lines.size() && lines[cr + 1] == '\n' ? 2 : 1));
        continue;
      }
    }
    // Every other line is appended behind what the string holds, as the retrieval collects.
    const bool append = line.offset % 2 == 1;
    if (append) head = "kept:";
    const std::int64_t length = append ? reader.appendLineHead(head, keep, terminated)
                                       : reader.readLineHead(head, keep, terminated);
    KORVA_FUZZ_CHECK(length == static_cast<std::int64_t>(line.text.size()),
                     "length %lld, expected %zu", static_cast<long long>(length), line.text.size());
    const std::string want =
        (append ? "kept:" : "") + std::string(std::string_view(line.text).substr(0, keep));
    KORVA_FUZZ_CHECK(head == want, "head differs at %zu", line.offset);
    KORVA_FUZZ_CHECK(terminated == line.terminated, "terminator differs at %zu", line.offset);
  }
  KORVA_FUZZ_CHECK(reader.atEnd(), "bytes left after the last line");
  KORVA_FUZZ_CHECK(reader.readLineHead(head, keep) == -1, "a line after the end");
  KORVA_FUZZ_CHECK(reader.position() == static_cast<std::int64_t>(bytes.size()) + 1,
                   "end position %lld", static_cast<long long>(reader.position()));
}

void run(Input& in) {
  // Small blocks put line ends, CR LF pairs and pattern starts on block edges.
  const std::size_t blockSize = 1 + in.byte() % 48;
  const std::uint8_t keepCode = in.byte();
  const std::size_t keep = keepCode == 0xFF ? static_cast<std::size_t>(-1) : keepCode % 64;
  const std::size_t split = in.word();
  const std::uint16_t seekA = in.word(), seekB = in.word();
  const std::string_view bytes = in.rest();
  const std::string path = scratchFile("lines");

  // The file grows while it is read: the first part, then the rest appended.
  const std::size_t cut = bytes.empty() ? 0 : split % (bytes.size() + 1);
  writeFile(path, bytes.substr(0, cut));
  {
    LineReader reader(path, blockSize);
    reader.setReadAhead(blockSize % 2 == 1);  // odd sizes ask the kernel to read ahead
    KORVA_FUZZ_CHECK(reader.lastKnownLength() == static_cast<std::int64_t>(cut), "length");
    readAndCompare(reader, bytes.substr(0, cut), 0, keep);
    writeFile(path, bytes.substr(cut), true);
    // A CR that was the last byte read and the LF written after it make one line end.
    const bool lateLf =
        cut > 0 && cut < bytes.size() && bytes[cut - 1] == '\r' && bytes[cut] == '\n';
    readAndCompare(reader, bytes, lateLf ? cut + 1 : cut, keep);
    KORVA_FUZZ_CHECK(reader.currentLength() == static_cast<std::int64_t>(bytes.size()),
                     "current length");

    // A seek anywhere reads on from there, also back into bytes already passed.
    for (std::uint16_t s : {seekA, seekB}) {
      const std::size_t offset = bytes.empty() ? 0 : s % (bytes.size() + 1);
      reader.seek(static_cast<std::int64_t>(offset) + 1);
      readAndCompare(reader, bytes, offset, keep);
    }
    reader.seek(0);  // below 1 means the start
    readAndCompare(reader, bytes, 0, keep);
  }

  KORVA_FUZZ_CHECK(fileLength(path) == static_cast<std::int64_t>(bytes.size()), "fileLength");
  for (std::uint16_t s : {seekA, seekB}) {
    const std::size_t offset = s % (bytes.size() + 2);
    const std::size_t count = s % 40;
    const std::string got = readBytesAt(path, static_cast<std::int64_t>(offset) + 1, count);
    const std::string_view want =
        offset < bytes.size() ? bytes.substr(offset, count) : std::string_view();
    KORVA_FUZZ_CHECK(got == want, "readBytesAt(%zu, %zu)", offset + 1, count);
  }
}

}  // namespace
}  // namespace korva::fuzz

KORVA_FUZZ_ENTRY_POINT()
