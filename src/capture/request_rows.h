// The lines of "HtmlRequest.log", held once: one buffer plus a span per line, so a million
// requests cost little more than the log's own size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace korva {

class RequestRows {
 public:
  // Replaces the rows by the lines of the file, in file order. On a read error the rows read so
  // far stay, and the FileError is thrown on.
  void load(const std::string& path);
  void clear();

  std::size_t size() const { return spans_.size(); }
  // The row's bytes as the file holds them; empty for a row out of range.
  std::string_view entry(std::size_t row) const;
  // The first 24 bytes of the row (all of it when shorter).
  std::string_view key(std::size_t row) const;
  // The row from byte offset 27 on; empty when shorter.
  std::string_view text(std::size_t row) const;

 private:
  struct Span {
    std::uint64_t offset;
    std::uint32_t length;
  };
  std::string bytes_;
  std::vector<Span> spans_;
};

}  // namespace korva
