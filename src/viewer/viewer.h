// What the user sees of one open folder of logs: the request list with its filter and
// selection, the refresh with its index step, the search over all responses with its hits, and
// the texts of the status bar. The window and the command-line tool are thin layers over it;
// it has no Qt and reaches the user only through ViewerHost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "capture/capture.h"
#include "capture/response_search.h"
#include "capture/row_filter.h"

namespace korva {

enum class ReportKind {
  Warning,     // a command failed: a warning box titled "Korvashimtale"
  BuildError,  // one of the index build's own reports: a critical box titled "Fehler"
  Notice,      // a failure while the list refreshes by itself: shown without a modal box
};

// How the list's rows change; a model announces `Appended` as inserted rows at the end.
struct ListChange {
  enum class Kind { Reset, Appended } kind = Kind::Reset;
  std::size_t first = 0;  // Appended: the first new list row
  std::size_t count = 0;  // Appended: how many rows
};

enum class Activity { IndexBuild, Search };

// The user's side. Every call comes on the thread that drives the Viewer.
class ViewerHost {
 public:
  virtual ~ViewerHost() = default;
  // A build's or a search's share done. The host shows it, lets the user act (the only place
  // where other commands run meanwhile) and sets `cancel` to stop.
  virtual void progress(Activity activity, std::uint8_t percent, bool& cancel) = 0;
  // `text` is UTF-8 German.
  virtual void report(const std::string& text, ReportKind kind) = 0;
  // Around every change of the list's rows: the list's count and rows change in between.
  virtual void listChanging(const ListChange&) {}
  virtual void listChanged(const ListChange&) {}
  // A refresh or a filter kept the selected request, now at `listRow`; `display` asks for its
  // response to be shown anew, as a click on it would.
  virtual void selectionRestored(std::size_t /*listRow*/, bool /*display*/) {}
  // The index step of a refresh starts or ends (the progress frame, the refresh command).
  virtual void indexStepChanged(bool /*running*/) {}
  // The search over all responses started, found a hit (in the order of the log) or ended.
  virtual void searchChanged() {}
  virtual void hitFound(const ResponseHit&) {}
  // The counts or the index state changed.
  virtual void statusChanged() {}
};

enum class RefreshMode {
  User,  // F5 and start-up: every error in a box, the restored selection shown anew
  Live,  // the logs changed under "Automatisch aktualisieren": each distinct error once, as a
         // notice; the list is only extended while the logs only grew
};

class Viewer {
 public:
  // `folder` holds the logs; it is made absolute now, so that nothing later depends on the
  // working directory. Starts reading the request log ahead (see Capture::preloadRows).
  Viewer(const std::string& folder, ViewerHost& host);
  // Saves the index unless a build runs.
  ~Viewer();
  Viewer(const Viewer&) = delete;
  Viewer& operator=(const Viewer&) = delete;

  Capture& capture() { return capture_; }
  const Capture& capture() const { return capture_; }
  const std::string& folder() const { return capture_.folder(); }
  // Saves and releases the index; false when the save failed. The Viewer is done then.
  bool releaseIndex();

  // Loads the rows and the index of a folder that is to be opened, and checks that both logs
  // are there. Throws FileError; the Viewer is then to be dropped.
  void open();
  // Creates the index (loading "HtmlResponse.idx"); throws FileError when it cannot be read.
  clsIndex& openIndex();

  // --- The list ---
  std::size_t listCount() const { return kept_ ? kept_->size() : shownRows_; }
  std::size_t totalCount() const { return shownRows_; }
  bool filtered() const { return kept_.has_value(); }
  // The capture row that list row `listRow` shows; nullopt out of range.
  std::optional<std::size_t> captureRow(std::size_t listRow) const;
  // The list row that shows capture row `row`; nullopt when the filter hides it.
  std::optional<std::size_t> listRow(std::size_t row) const;
  // The bytes of list row `listRow` as the log holds them; empty out of range. Read from the log:
  // use the view at once (see RequestRows::entry).
  std::string_view listEntry(std::size_t listRow) const;

  // --- The refresh ---
  // Brings the rows up to date, keeps the filter and the selection, and runs the index step.
  // Every failure is reported through the host; nothing is thrown.
  void refresh(RefreshMode mode);
  // Brings the rows up to date without the index step (the command-line tool). Throws FileError.
  void loadRows();

  // --- The filter ---
  // A new filter expression (UTF-8). A usable one starts a run that filterStep() carries on;
  // while the expression cannot be used the list stays as it was and filterHint() says why.
  void setFilter(std::string_view expression);
  const std::string& filterHint() const { return filterHint_; }
  bool filterPending() const { return run_ != nullptr; }
  // Looks at up to `rows` more rows of the pending run; when it has seen every row the list
  // shows what it kept.
  void filterStep(std::size_t rows);
  void finishFilter();

  // --- The selection: the request it is, so that it survives filters and refreshes ---
  void select(std::optional<std::size_t> listRow);
  std::optional<std::size_t> selectedRow() const;
  // Nullopt while nothing is selected or the filter hides the selected request.
  std::optional<std::size_t> selectedListRow() const;
  // The selected request's response; a default RowResponse without a selection. Throws
  // FileError when the response log cannot be read.
  RowResponse showSelected(const ShowOptions& options);
  // --- The comparison: a marked request against the selected one ---
  // Marks the selected request until another is marked; false without a selection.
  bool markSelected();
  // The marked request's capture row while the log still holds it there; nullopt otherwise.
  std::optional<std::size_t> markedRow() const;

  // What the last display of the selected request found, for the status bar.
  void setDisplayed(bool found, std::uint64_t bodySize);
  void clearDisplayed();

  // Holds off refreshes, folder changes and searches while the caller yields (a display).
  class Hold {
   public:
    explicit Hold(Viewer& v) : v_(v) { ++v_.holds_; }
    ~Hold() { --v_.holds_; }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

   private:
    Viewer& v_;
  };
  // A refresh, a build, a search or a held display runs: the rows and the index must stay.
  bool busy() const { return holds_ > 0 || refreshing_ || searching_ || building(); }
  bool building() const;
  bool refreshing() const { return refreshing_; }

  // --- The search over all responses ---
  struct SearchOptions {
    bool regex = false;    // the term is an expression even without slashes
    bool snippets = true;  // each hit with the line around its first occurrence
  };
  // Searches the responses of every request; hits come through the host as they are found.
  // Refused, with a German reason in `refusal`, while the index is being built or anything else
  // runs, and for a term that is not usable.
  bool searchAll(std::string_view term, std::string* refusal = nullptr);
  bool searchAll(std::string_view term, const SearchOptions& options, std::string* refusal);
  void cancelSearch() { searchCancel_ = true; }
  bool searching() const { return searching_; }
  const std::string& searchTerm() const { return searchTerm_; }
  const std::vector<ResponseHit>& hits() const { return hits_; }
  // "„x“: 1.234 Treffer in 56 Antworten", "„x“ wird gesucht …", with " (abgebrochen)"; empty
  // before any search.
  std::string hitsText() const;

  // --- The status texts ---
  std::string countText() const;
  std::string indexText() const;
  // Empty while no response is shown.
  std::string responseText() const;

 private:
  struct Selection {
    std::size_t row = 0;
    std::string entry;
  };
  struct Displayed {
    bool found = false;
    std::uint64_t bodySize = 0;
  };
  class BuildErrors;

  void publishRows(std::size_t from);
  void publishReset();
  void restoreSelection(std::optional<Selection> before, RefreshMode mode);
  void runIndexStep(RefreshMode mode);
  void fail(const std::string& text, RefreshMode mode);
  void keepSelectionAfterFilter();

  ViewerHost& host_;
  std::unique_ptr<BuildErrors> buildErrors_;  // before the capture, whose index reports to it
  Capture capture_;
  std::size_t shownRows_ = 0;  // rows the list shows when unfiltered; the capture may hold more
  std::optional<std::vector<std::uint32_t>> kept_;
  std::string filterExpression_;
  std::string filterHint_;
  std::unique_ptr<RowFilter> filter_;  // null while the expression keeps every row
  std::string filterSource_;           // the expression of filter_
  std::unique_ptr<FilterRun> run_;
  std::optional<Selection> selection_;
  std::optional<Selection> marked_;
  std::optional<Displayed> displayed_;
  std::set<std::string> noticed_;  // what a live refresh reported already
  bool indexStep_ = false;
  bool refreshing_ = false;
  bool searching_ = false;
  bool searchCancel_ = false;
  bool searchCancelled_ = false;
  std::uint64_t searchMatches_ = 0;
  int holds_ = 0;
  std::string searchTerm_;
  std::vector<ResponseHit> hits_;
};

}  // namespace korva
