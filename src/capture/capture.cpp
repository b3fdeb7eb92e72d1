#include "capture/capture.h"

#include <sys/stat.h>

#include <thread>

#include "index/file_error.h"
#include "view/html_filters.h"
#include "view/retrieval.h"
#include "view/text_decode.h"

namespace korva {

namespace {

// What tells one state of a file from another without reading it: a file written since has
// another size or modification time, a file replaced another inode.
struct FileStamp {
  bool valid = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  timespec modified{};
  bool operator==(const FileStamp& o) const {
    return valid && o.valid && device == o.device && inode == o.inode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec;
  }
};

FileStamp stampOf(const std::string& path) {
  struct stat st {};
  FileStamp stamp;
  if (::stat(path.c_str(), &st) != 0) return stamp;
  stamp = {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim};
  return stamp;
}

}  // namespace

struct Capture::Preload {
  RequestRows rows;
  FileStamp stamp;  // valid only when the file did not change while it was read
  std::thread thread;
};

Capture::Capture(std::string folder, ErrorReporter* reporter)
    : folder_(std::move(folder)), reporter_(reporter) {}

Capture::~Capture() {
  if (preload_) preload_->thread.join();
}

std::string Capture::path(const char* name) const { return joinPath(folder_, name); }

void Capture::preloadRows() {
  if (preload_) return;
  preload_ = std::make_unique<Preload>();
  preload_->thread = std::thread([p = preload_.get(), file = path(kRequestLogName)] {
    const FileStamp before = stampOf(file);
    try {
      p->rows.load(file);
    } catch (...) {
      return;
    }
    if (stampOf(file) == before) p->stamp = before;
  });
}

RowsChange Capture::reloadRows() {
  const std::string file = path(kRequestLogName);
  if (preload_) {
    std::unique_ptr<Preload> preload = std::move(preload_);
    preload->thread.join();
    const FileStamp now = stampOf(file);
    const FileStamp& then = preload->stamp;
    // Taken while the file is as the preload found it, or has only grown since. A preload that
    // read the file while it was written may mix two versions of it, and one written in place
    // since, at the same length, would not be noticed by the refresh.
    const bool unchanged = then == now;
    const bool grown = then.valid && now.valid && then.device == now.device &&
                       then.inode == now.inode && now.size > then.size;
    if (unchanged || grown) {
      const std::size_t before = rows_.size();
      rows_ = std::move(preload->rows);
      if (grown) rows_.refresh(file);
      return {RowsChange::Kind::Replaced, 0, before};
    }
  }
  return rows_.refresh(file);
}

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

std::string suggestedFileName(std::string_view requestText) {
  auto word = [&](std::size_t from) {
    const std::size_t start = requestText.find_first_not_of(' ', from);
    if (start == std::string_view::npos) return std::string_view();
    const std::size_t end = requestText.find(' ', start);
    return requestText.substr(start, end == std::string_view::npos ? end : end - start);
  };
  const std::string_view method = word(0);
  std::string_view path =
      method.empty() ? method : word(static_cast<std::size_t>(method.end() - requestText.begin()));
  path = path.substr(0, path.find_first_of("?#"));
  if (const std::size_t scheme = path.find("://"); scheme != std::string_view::npos) {
    path.remove_prefix(scheme + 3);
    const std::size_t slash = path.find('/');
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash);
  }
  if (const std::size_t slash = path.rfind('/'); slash != std::string_view::npos)
    path.remove_prefix(slash + 1);
  std::string name(path);
  for (char& c : name) {
    const bool safe = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '.' || c == '-' || c == '_';
    if (!safe) c = '_';
  }
  if (name.empty() || name == "." || name == "..") name = "antwort";
  return name + ".html";
}

ResponseLocation Capture::locate(std::size_t row) const {
  ResponseLocation location;
  if (row >= rows_.size()) return location;
  location.path = path(kResponseLogName);
  location.key = std::string(rows_.key(row));
  // Without an index every lookup is a scan from the start, as for a key not yet indexed.
  location.position = index_ ? index_->QueryIndex(location.key) : 0;
  return location;
}

RetrievedResponse retrieveResponse(const ResponseLocation& location) {
  if (location.key.empty()) return RetrievedResponse{{}, false};
  return retrieveResponse(location.path, location.key, location.position);
}

RetrievedResponse Capture::retrieve(std::size_t row) const { return retrieveResponse(locate(row)); }

RowResponse prepareResponse(RetrievedResponse retrieved, const ShowOptions& options) {
  RowResponse shown;
  shown.found = retrieved.found;
  shown.bodySize = retrieved.body.size();
  shown.bytes = std::move(retrieved.body);
  if (options.stripJavaScript) shown.bytes = StripJavaScript(shown.bytes);
  if (options.stripComments) shown.bytes = StripComments(shown.bytes);
  if (options.decode) shown.text = decodeBody(shown.bytes);
  return shown;
}

RowResponse Capture::show(std::size_t row, const ShowOptions& options) const {
  if (row >= rows_.size()) return RowResponse{};
  return prepareResponse(retrieve(row), options);
}

}  // namespace korva
