// Request lines and HTML response bodies that look like what a recording proxy sees.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "buffered_writer.h"
#include "random.h"

namespace korva {

enum class Charset { kUtf8, kWindows1252 };

enum class PageKind {
  kNone,      // no body at all (HEAD, OPTIONS, 304)
  kDocument,  // ordinary page whose size follows the size budget
  kError,     // short server error page (404, 500)
  kRedirect,  // short "document has moved" page
};

struct RequestInfo {
  std::string text;  // the request text of the request-log line, e.g. "GET http://... HTTP/1.1"
  std::string host;
  int status = 200;
  Charset charset = Charset::kUtf8;
  PageKind page = PageKind::kDocument;
};

class PageBuilder {
 public:
  explicit PageBuilder(std::uint64_t seed);

  // `uniform`: always a 200 GET/POST with an ordinary document, for evenly sized logs.
  RequestInfo makeRequest(Rng& rng, bool uniform) const;

  // Size for pages whose size is set by their kind rather than by the budget; -1 for documents.
  std::int64_t fixedBodySize(const RequestInfo& request, Rng& rng) const;

  // Writes body lines of exactly `bytes` bytes, each ending CR LF, and returns the bytes written.
  // A single byte cannot form a line, so 1 is written as an empty line (2 bytes). No line is ever
  // a divider (47 hyphens) and no line holds a CR or LF of its own.
  std::int64_t writeBody(BufferedWriter& out, const RequestInfo& request, std::int64_t bytes,
                         Rng& rng) const;

  // Fragment kinds that make up the middle of a document.
  enum Kind {
    kParagraph,
    kHeading,
    kTable,
    kList,
    kImage,
    kInlineScript,
    kScriptSrc,
    kComment,
    kForm,
    kDiv,
    kBlank,
    kPre,
    kNavLine,
    kLongScript,
    kKindCount
  };

 private:
  struct Pools {
    std::vector<std::string> fragments[kKindCount];
    std::vector<std::string> nouns;  // already in the pool's charset
    std::vector<std::string> words;
    std::string prose;  // running text without markup, line breaks or hyphen runs
  };

  const Pools& pools(Charset cs) const { return pools_[cs == Charset::kUtf8 ? 0 : 1]; }
  std::string documentHead(const RequestInfo& request, Rng& rng) const;
  std::string documentTail(const RequestInfo& request, Rng& rng) const;
  void fill(BufferedWriter& out, const Pools& p, Charset cs, std::int64_t bytes, bool plain,
            Rng& rng) const;
  void writePad(BufferedWriter& out, const Pools& p, Charset cs, std::int64_t bytes,
                Rng& rng) const;
  void writeTextLine(BufferedWriter& out, const Pools& p, Charset cs, int bytes, Rng& rng) const;

  Pools pools_[2];
  unsigned char smallTable_[256];  // fragment kind by the top byte of a random word
  unsigned char bigTable_[256];    // the same, with long one-line scripts, for large pages
};

// Converts UTF-8 text to `cs`; characters without a Windows-1252 byte become '?'.
std::string toCharset(const std::string& utf8, Charset cs);

}  // namespace korva
