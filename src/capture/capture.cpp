#include "capture/capture.h"

#include "index/file_error.h"
#include "view/html_filters.h"
#include "view/retrieval.h"
#include "view/text_decode.h"

namespace korva {

Capture::Capture(std::string folder, ErrorReporter* reporter)
    : folder_(std::move(folder)), reporter_(reporter) {}

Capture::~Capture() = default;

std::string Capture::path(const char* name) const { return joinPath(folder_, name); }

void Capture::reloadRows() { rows_.load(path(kRequestLogName)); }

clsIndex& Capture::openIndex() {
  if (!index_) index_ = std::make_unique<clsIndex>(folder_, reporter_);
  return *index_;
}

bool Capture::releaseIndex() {
  if (!index_) return true;
  // A build cut short by the close leaves a partial table: the destructor keeps the old file.
  const bool saved = index_->InBuildIndex() || index_->SaveIndex();
  index_.reset();
  return saved;
}

RowResponse Capture::show(std::size_t row, const ShowOptions& options) const {
  RowResponse shown;
  if (row >= rows_.size()) return shown;
  const std::string_view key = rows_.key(row);
  // Without an index every lookup is a scan from the start, as for a key not yet indexed.
  const std::int64_t position = index_ ? index_->QueryIndex(key) : 0;
  RetrievedResponse retrieved = retrieveResponse(path(kResponseLogName), key, position);
  shown.found = retrieved.found;
  shown.bodySize = retrieved.body.size();
  shown.bytes = std::move(retrieved.body);
  if (options.stripJavaScript) shown.bytes = StripJavaScript(shown.bytes);
  if (options.stripComments) shown.bytes = StripComments(shown.bytes);
  if (options.decode) shown.text = decodeBody(shown.bytes);
  return shown;
}

}  // namespace korva
