#include "viewer/viewer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <utility>

#include "index/file_error.h"
#include "index/served_thread.h"
#include "viewer/status_texts.h"

namespace korva {
namespace {

std::string absolutePath(const std::string& folder) {
  if (!folder.empty() && folder[0] == '/') return folder;
  char* resolved = ::realpath(folder.empty() ? "." : folder.c_str(), nullptr);
  if (!resolved) {
    // A folder that does not exist (yet) keeps its name under the working directory.
    char* cwd = ::getcwd(nullptr, 0);
    std::string joined = joinPath(cwd ? cwd : ".", folder);
    std::free(cwd);
    return joined;
  }
  std::string path(resolved);
  std::free(resolved);
  return path;
}

std::string quoted(std::string_view text) { return "„" + std::string(text) + "“"; }

}  // namespace

// The index build's own reports. Under F5 each is a box, but a damaged log can hold thousands of
// duplicate keys: one build shows the first few and then one box with the count of the rest.
// While the list refreshes by itself no box may open at all (a writer that keeps producing the
// same fault would lock the user out), so each distinct report is noticed once.
class Viewer::BuildErrors : public ErrorReporter {
 public:
  static constexpr int kShownPerBuild = 10;

  BuildErrors(ViewerHost& host, std::set<std::string>& noticed) : host_(host), noticed_(noticed) {}

  void begin(RefreshMode mode, ServedThread* relay) {
    mode_ = mode;
    relay_ = relay;
    shown_ = suppressed_ = 0;
  }
  // After the build, never while its exception unwinds: the summary may open a modal box.
  void end() {
    relay_ = nullptr;
    if (suppressed_ > 0 && mode_ == RefreshMode::User)
      host_.report(germanNumber(static_cast<std::uint64_t>(suppressed_)) +
                       " weitere Fehler beim Aufbau des Index wurden nicht einzeln angezeigt.",
                   ReportKind::BuildError);
    shown_ = suppressed_ = 0;
  }
  void stopRelaying() { relay_ = nullptr; }

  void reportError(const std::string& text) override {
    if (relay_)
      relay_->onCaller([&] { report(text); });
    else
      report(text);
  }

 private:
  void report(const std::string& text) {
    if (mode_ == RefreshMode::Live) {
      if (noticed_.insert(text).second) host_.report(text, ReportKind::Notice);
      return;
    }
    if (shown_ >= kShownPerBuild) {
      ++suppressed_;
      return;
    }
    ++shown_;
    host_.report(text, ReportKind::BuildError);
  }

  ViewerHost& host_;
  std::set<std::string>& noticed_;
  RefreshMode mode_ = RefreshMode::User;
  ServedThread* relay_ = nullptr;
  int shown_ = 0;
  int suppressed_ = 0;
};

Viewer::Viewer(const std::string& folder, ViewerHost& host)
    : host_(host),
      buildErrors_(std::make_unique<BuildErrors>(host, noticed_)),
      capture_(absolutePath(folder), buildErrors_.get()) {
  capture_.preloadRows();
}

Viewer::~Viewer() { releaseIndex(); }

bool Viewer::releaseIndex() { return capture_.releaseIndex(); }

clsIndex& Viewer::openIndex() { return capture_.openIndex(); }

void Viewer::open() {
  loadRows();
  struct stat st {};
  const std::string responses = capture_.path(kResponseLogName);
  if (::stat(responses.c_str(), &st) != 0) throw FileError(errno, responses);
  openIndex();
}

bool Viewer::building() const {
  return indexStep_ || (capture_.index() && capture_.index()->InBuildIndex());
}

// --- The list ---

std::optional<std::size_t> Viewer::captureRow(std::size_t listRow) const {
  if (listRow >= listCount()) return std::nullopt;
  return kept_ ? std::size_t{(*kept_)[listRow]} : listRow;
}

std::optional<std::size_t> Viewer::listRow(std::size_t row) const {
  if (row >= shownRows_) return std::nullopt;
  if (!kept_) return row;
  const auto at = std::lower_bound(kept_->begin(), kept_->end(), row);
  if (at == kept_->end() || *at != row) return std::nullopt;
  return static_cast<std::size_t>(at - kept_->begin());
}

std::string_view Viewer::listEntry(std::size_t listRow) const {
  const std::optional<std::size_t> row = captureRow(listRow);
  return row ? capture_.rows().entry(*row) : std::string_view();
}

// Shows the capture's rows from `from` on as appended; under a filter only those it keeps.
void Viewer::publishRows(std::size_t from) {
  const RequestRows& rows = capture_.rows();
  ListChange change{ListChange::Kind::Appended, listCount(), 0};
  std::vector<std::uint32_t> added;
  if (kept_) {
    for (std::size_t row = from; row < rows.size(); ++row)
      if (filter_->matches(rows.entry(row))) added.push_back(static_cast<std::uint32_t>(row));
    change.count = added.size();
  } else {
    change.count = rows.size() - from;
  }
  if (change.count == 0) {
    shownRows_ = rows.size();
    return;
  }
  host_.listChanging(change);
  shownRows_ = rows.size();
  if (kept_) kept_->insert(kept_->end(), added.begin(), added.end());
  host_.listChanged(change);
}

// Shows the capture's rows anew, under the filter as it stands.
void Viewer::publishReset() {
  const ListChange change{};
  host_.listChanging(change);
  shownRows_ = capture_.rows().size();
  hits_.clear();  // they name rows of the old log
  searchTerm_.clear();
  if (filter_) {
    FilterRun run(capture_.rows(), RowFilter(filterSource_));
    run.step(capture_.rows().size());
    kept_ = run.takeKept();
  } else {
    kept_.reset();
  }
  // A run still pending looked at the old rows.
  if (run_) run_ = std::make_unique<FilterRun>(capture_.rows(), RowFilter(filterSource_));
  host_.listChanged(change);
  host_.searchChanged();
}

// --- The refresh ---

void Viewer::loadRows() {
  RowsChange change;
  try {
    change = capture_.reloadRows();
  } catch (...) {
    publishReset();  // the rows read before the error stay, and are shown
    throw;
  }
  switch (change.kind) {
    case RowsChange::Kind::Unchanged:
      break;
    case RowsChange::Kind::Appended:
      // The old last row may have grown (it had no line end yet): its text, and whether the
      // filter keeps it, changed, so the list is shown anew.
      if (change.from < change.previousSize)
        publishReset();
      else
        publishRows(change.previousSize);
      break;
    case RowsChange::Kind::Replaced:
      publishReset();
      break;
  }
  host_.statusChanged();
}

void Viewer::refresh(RefreshMode mode) {
  if (busy()) return;
  refreshing_ = true;
  struct Done {
    Viewer& v;
    ~Done() { v.refreshing_ = false; }
  } done{*this};
  // The selection is kept by the request's row in the log and its text.
  std::optional<Selection> before = selection_;
  try {
    loadRows();
  } catch (const std::exception& e) {
    restoreSelection(std::move(before), mode);
    fail(e.what(), mode);
    return;
  }
  restoreSelection(std::move(before), mode);
  runIndexStep(mode);
}

void Viewer::restoreSelection(std::optional<Selection> before, RefreshMode mode) {
  if (!before) return;
  const RequestRows& rows = capture_.rows();
  if (before->row >= rows.size() || rows.entry(before->row) != before->entry) {
    selection_.reset();
    displayed_.reset();
    host_.statusChanged();
    return;
  }
  selection_ = std::move(before);
  // Under live refresh a shown response stays as it is; one that was not recorded yet may be now.
  const bool display = mode == RefreshMode::User || !displayed_ || !displayed_->found;
  if (const std::optional<std::size_t> at = listRow(selection_->row))
    host_.selectionRestored(*at, display);
}

void Viewer::runIndexStep(RefreshMode mode) {
  clsIndex* index = capture_.index();
  if (!index) {
    try {
      index = &openIndex();
    } catch (const std::exception& e) {
      fail(e.what(), mode);
      return;
    }
  }
  indexStep_ = true;
  host_.indexStepChanged(true);
  bool ignored = false;
  host_.progress(Activity::IndexBuild, 0, ignored);
  // The build runs on a thread of its own while this one waits; each Progress event and each
  // error report still comes here, in order, with the build waiting for it. Painting the
  // progress on the core that also scans slowed the scan far more than the painting took.
  ServedThread build;
  index->Progress = [&](std::uint8_t& percent, bool& cancel) {
    build.onCaller([&] {
      host_.statusChanged();  // the index state reads "wird aufgebaut" from the first event on
      host_.progress(Activity::IndexBuild, percent, cancel);
    });
  };
  buildErrors_->begin(mode, &build);
  std::string failure;
  try {
    build.run([index] { index->InitializeIndex(); });
  } catch (const std::exception& e) {
    failure = e.what();
  }
  index->Progress = nullptr;
  buildErrors_->end();
  indexStep_ = false;
  host_.indexStepChanged(false);
  host_.statusChanged();
  if (!failure.empty()) fail(failure, mode);
}

void Viewer::fail(const std::string& text, RefreshMode mode) {
  if (mode == RefreshMode::User) {
    host_.report(text, ReportKind::Warning);
  } else if (noticed_.insert(text).second) {
    host_.report(text, ReportKind::Notice);
  }
}

// --- The filter ---

void Viewer::setFilter(std::string_view expression) {
  filterExpression_ = std::string(expression);
  auto filter = std::make_unique<RowFilter>(filterExpression_);
  filterHint_ = filter->error();
  if (!filterHint_.empty()) {
    run_.reset();  // the list stays as it was while the expression is being typed
    return;
  }
  if (filter->keepsEverything()) {
    filter_.reset();
    filterSource_.clear();
    run_.reset();
    if (kept_) {
      host_.listChanging({});
      kept_.reset();
      host_.listChanged({});
      keepSelectionAfterFilter();
      host_.statusChanged();
    }
    return;
  }
  filter_ = std::move(filter);
  filterSource_ = filterExpression_;
  run_ = std::make_unique<FilterRun>(capture_.rows(), RowFilter(filterSource_));
}

void Viewer::filterStep(std::size_t rows) {
  if (!run_ || !run_->step(rows)) return;
  std::vector<std::uint32_t> kept = run_->takeKept();
  run_.reset();
  host_.listChanging({});
  kept_ = std::move(kept);
  host_.listChanged({});
  keepSelectionAfterFilter();
  host_.statusChanged();
}

void Viewer::finishFilter() {
  if (run_) filterStep(capture_.rows().size());
}

void Viewer::keepSelectionAfterFilter() {
  // The selected request stays selected while it passes; it is not shown anew.
  if (!selection_) return;
  if (const std::optional<std::size_t> at = listRow(selection_->row))
    host_.selectionRestored(*at, false);
}

// --- The selection ---

void Viewer::select(std::optional<std::size_t> listRow) {
  const std::optional<std::size_t> row = listRow ? captureRow(*listRow) : std::nullopt;
  if (!row) {
    selection_.reset();
    return;
  }
  selection_ = Selection{*row, std::string(capture_.rows().entry(*row))};
}

std::optional<std::size_t> Viewer::selectedRow() const {
  if (!selection_) return std::nullopt;
  return selection_->row;
}

std::optional<std::size_t> Viewer::selectedListRow() const {
  return selection_ ? listRow(selection_->row) : std::nullopt;
}

bool Viewer::markSelected() {
  if (!selection_) return false;
  marked_ = selection_;
  return true;
}

std::optional<std::size_t> Viewer::markedRow() const {
  // A replaced log may hold another request at the marked row.
  const RequestRows& rows = capture_.rows();
  if (!marked_ || marked_->row >= rows.size() || rows.entry(marked_->row) != marked_->entry)
    return std::nullopt;
  return marked_->row;
}

RowResponse Viewer::showSelected(const ShowOptions& options) {
  if (!selection_) return {};
  return capture_.show(selection_->row, options);
}

void Viewer::setDisplayed(bool found, std::uint64_t bodySize) {
  displayed_ = Displayed{found, bodySize};
  host_.statusChanged();
}

void Viewer::clearDisplayed() {
  displayed_.reset();
  host_.statusChanged();
}

// --- The search over all responses ---

bool Viewer::searchAll(std::string_view term, std::string* refusal) {
  return searchAll(term, SearchOptions(), refusal);
}

bool Viewer::searchAll(std::string_view term, const SearchOptions& how, std::string* refusal) {
  auto refuse = [&](std::string why) {
    if (refusal) *refusal = std::move(why);
    return false;
  };
  // A search over a half-built index would present a part of the responses as all of them.
  if (building()) return refuse("Während der Index aufgebaut wird, kann nicht gesucht werden.");
  if (busy()) return refuse("Es läuft bereits ein Vorgang; bitte warten Sie, bis er endet.");
  if (term.empty()) return refuse("Der Suchbegriff ist leer.");
  const TextMatcher matcher = matcherForTerm(term, how.regex);
  if (!matcher.error().empty()) return refuse(matcher.error());
  if (!capture_.index()) {
    try {
      openIndex();
    } catch (const std::exception& e) {
      return refuse(e.what());
    }
  }
  searching_ = true;
  searchCancel_ = searchCancelled_ = false;
  searchMatches_ = 0;
  searchTerm_ = std::string(term);
  hits_.clear();
  host_.searchChanged();
  ResponseSearchOptions options;
  options.snippets = how.snippets;
  options.progress = [this](std::uint8_t percent, bool& cancel) {
    host_.progress(Activity::Search, percent, cancel);
    cancel = cancel || searchCancel_;
  };
  options.onHit = [this](const ResponseHit& hit) {
    hits_.push_back(hit);
    searchMatches_ += hit.matches;
    host_.hitFound(hit);
  };
  std::string failure;
  try {
    searchCancelled_ = searchResponses(capture_, matcher, options).cancelled;
  } catch (const std::exception& e) {
    failure = e.what();
    searchCancelled_ = true;
  }
  searching_ = false;
  host_.searchChanged();
  if (!failure.empty()) host_.report(failure, ReportKind::Warning);
  return true;
}

std::string Viewer::hitsText() const {
  if (searchTerm_.empty()) return {};
  if (searching_) return quoted(searchTerm_) + " wird gesucht …";
  const std::uint64_t answers = hits_.size();
  return quoted(searchTerm_) + ": " + germanNumber(searchMatches_) + " Treffer in " +
         germanNumber(answers) + (answers == 1 ? " Antwort" : " Antworten") +
         (searchCancelled_ ? " (abgebrochen)" : "");
}

// --- The status texts ---

std::string Viewer::countText() const { return requestCountText(listCount(), totalCount()); }

std::string Viewer::indexText() const {
  const clsIndex* index = capture_.index();
  if (!index) return {};
  if (index->InBuildIndex()) return indexStateText(IndexState::Building, 0);
  return indexStateText(indexStateOf(index->lastOutcome()), index->size());
}

std::string Viewer::responseText() const {
  return displayed_ ? korva::responseText(displayed_->found, displayed_->bodySize) : std::string();
}

}  // namespace korva
