// One folder of logs: the request rows, the response index, and what a row of the list shows.
//
// The window and the command-line tool are thin layers over this class; it has no Qt. The index
// is created on demand (creating it loads "HtmlResponse.idx") and saved when it is released.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "capture/request_rows.h"
#include "index/clsIndex.h"
#include "view/retrieval.h"

namespace korva {

struct ShowOptions {
  bool stripJavaScript = false;
  bool stripComments = false;
  bool decode = true;  // also produce the display text
};

// What one row shows.
struct RowResponse {
  bool found = false;          // the block's opening line was met
  std::uint64_t bodySize = 0;  // bytes of the body as retrieved, before the filters
  std::string bytes;           // the body after the filters: what the source view gets, undecoded
  std::u16string text;         // `bytes` decoded for display; empty unless ShowOptions::decode
};

// The file name proposed for saving a response: the last segment of the request's path (the
// second word of the request text, without scheme, host, query and fragment), with characters
// unsafe in file names replaced by '_', plus ".html"; "antwort.html" when the path has none.
std::string suggestedFileName(std::string_view requestText);

// Where a row's response block is: what retrieveResponse needs, on any thread. An empty key for a
// row out of range, which retrieves nothing.
struct ResponseLocation {
  std::string path;
  std::string key;
  std::int64_t position = 0;
};
RetrievedResponse retrieveResponse(const ResponseLocation& location);

// The filters and the decoding of show() over a retrieved block; touches nothing but its
// arguments.
RowResponse prepareResponse(RetrievedResponse retrieved, const ShowOptions& options);

class Capture {
 public:
  // `folder` holds the three files; `reporter` receives the index build's own error reports.
  explicit Capture(std::string folder, ErrorReporter* reporter = nullptr);
  ~Capture();
  Capture(const Capture&) = delete;
  Capture& operator=(const Capture&) = delete;

  const std::string& folder() const { return folder_; }
  // "folder/name" for one of the three files.
  std::string path(const char* name) const;

  const RequestRows& rows() const { return rows_; }
  // Brings the rows up to "HtmlRequest.log": reads only what was appended when the log only
  // grew, else the whole file (see RequestRows::refresh). Throws FileError; the rows read so far
  // stay. Takes the rows of a preload instead when the file is still exactly as the preload found
  // it, or has only grown since (then the rest is read on); that counts as replaced.
  RowsChange reloadRows();
  // Starts reading "HtmlRequest.log" on a thread of its own, so that a window can build itself
  // meanwhile; the next reloadRows() waits for it. Nothing is reported from here: a file that
  // cannot be read is read again, and its error reported, by reloadRows().
  void preloadRows();

  // Creates the index, which loads "HtmlResponse.idx" (throws FileError when it exists but
  // cannot be read), unless it exists already.
  clsIndex& openIndex();
  // Null before openIndex() and after releaseIndex().
  clsIndex* index() const { return index_.get(); }
  // Saves the index now, unless a build runs, and releases it. False when the save failed (the
  // old file is then intact).
  bool releaseIndex();

  // The response of `row`: the block of its key, found through the index (or by a scan of the
  // log when the key is not indexed), with the filters applied in order. A row out of range
  // shows nothing. Throws FileError when the response log cannot be read.
  RowResponse show(std::size_t row, const ShowOptions& options = {}) const;
  // The same in steps, so that all but the first can run on another thread: where the block of
  // `row` is (this thread: it reads the index and the rows), its bytes as retrieved
  // (retrieveResponse over the location), then prepareResponse() on them.
  ResponseLocation locate(std::size_t row) const;
  RetrievedResponse retrieve(std::size_t row) const;

 private:
  std::string folder_;
  ErrorReporter* reporter_;
  RequestRows rows_;
  std::unique_ptr<clsIndex> index_;
  struct Preload;
  std::unique_ptr<Preload> preload_;
};

}  // namespace korva
