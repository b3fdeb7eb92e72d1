// korvashimtale-cli: the index engine and the response display for terminals and scripts.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "capture/text_match.h"
#include "index/file_error.h"
#include "view/html_format.h"
#include "view/text_decode.h"
#include "view/text_diff.h"
#include "viewer/status_texts.h"
#include "viewer/viewer.h"

namespace korva {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCancelled = 130;
// diff's codes, as diff(1) has them.
constexpr int kDiffSame = 0;
constexpr int kDiffDifferent = 1;
constexpr int kDiffTrouble = 2;

const char kUsage[] =
    "Aufruf: korvashimtale-cli [-C ORDNER] BEFEHL\n"
    "\n"
    "Befehle:\n"
    "  index                         Index \"HtmlResponse.idx\" aufbauen oder fortsetzen\n"
    "  lookup SCHLÜSSEL              Byteposition des Antwortblocks ausgeben (0 = nicht im Index)\n"
    "  list [--filter AUSDRUCK] [-n] die Zeilen von \"HtmlRequest.log\" ausgeben; mit --filter\n"
    "                                nur die passenden (Wörter müssen vorkommen, -Wort darf\n"
    "                                nicht vorkommen, /.../ ist ein regulärer Ausdruck); -n\n"
    "                                stellt die Zeilennummer (ab 0) und einen Tabulator voran\n"
    "  show ZEILE [--no-scripts] [--no-comments] [--formatted]\n"
    "                                Antwort der Anfrage in ZEILE (ab 0) ausgeben; --formatted\n"
    "                                mit den Zeilenumbrüchen der formatierten Ansicht\n"
    "  diff ZEILE1 ZEILE2 [--no-scripts] [--no-comments] [--formatted] [-U N]\n"
    "                                die Antworten zweier Anfragen vergleichen (vereinheitlichtes\n"
    "                                Format, N Kontextzeilen, ohne -U 3); Ende mit 0: gleich,\n"
    "                                1: verschieden, 2: Fehler\n"
    "  search SUCHBEGRIFF [--regex]  in allen Antworten suchen: je Treffer Zeile, Tabulator,\n"
    "                                Anzahl, Tabulator, Anfrage; /.../ ist ein regulärer Ausdruck\n"
    "\n"
    "Optionen:\n"
    "  -C ORDNER                     in ORDNER arbeiten statt im aktuellen Ordner\n"
    "  -h, --help                    diese Hilfe ausgeben\n"
    "  --version                     Version ausgeben\n";

volatile sig_atomic_t gCancelRequested = 0;

void onInterrupt(int) { gCancelRequested = 1; }

class StderrReporter : public ErrorReporter {
 public:
  void reportError(const std::string& text) override {
    std::string line = text;
    for (std::size_t p; (p = line.find("\r\n")) != std::string::npos;) line.replace(p, 2, "\n");
    std::fprintf(stderr, "Fehler: %s\n", line.c_str());
    ++count;
  }
  int count = 0;
};

int usageError(const char* message) {
  if (message) std::fprintf(stderr, "korvashimtale-cli: %s\n\n", message);
  std::fputs(kUsage, stderr);
  return kExitUsage;
}

bool writeOut(std::string_view bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size();
}

// The viewer core's calls: progress is not shown, errors go to standard error.
class CliHost : public ViewerHost {
 public:
  void progress(Activity, std::uint8_t, bool& cancel) override { cancel = gCancelRequested != 0; }
  void report(const std::string& text, ReportKind) override { reporter.reportError(text); }
  StderrReporter reporter;
};

int runIndex(const std::string& folder) {
  StderrReporter reporter;
  clsIndex index(folder, &reporter);
  const bool showProgress = ::isatty(STDERR_FILENO);
  // Ctrl+C cancels the build like a close request in the window; a second one ends at once,
  // and the index file on disk stays intact because saving replaces it atomically.
  struct sigaction action {};
  action.sa_handler = onInterrupt;
  action.sa_flags = SA_RESETHAND;
  ::sigaction(SIGINT, &action, nullptr);
  index.Progress = [&](std::uint8_t& percent, bool& cancel) {
    cancel = gCancelRequested != 0;
    if (showProgress) std::fprintf(stderr, "\rIndex wird aufgebaut: %u%%", unsigned{percent});
  };
  try {
    index.InitializeIndex();
  } catch (const FileError& e) {
    if (showProgress) std::fputc('\n', stderr);
    std::fprintf(stderr, "Fehler: %s\n", e.what());
    return kExitError;
  }
  if (showProgress && index.lastOutcome() != clsIndex::Outcome::Current) std::fputc('\n', stderr);
  const bool cancelled = gCancelRequested != 0;
  // The words of the window's status bar.
  std::printf("%s%s\n", indexStateText(indexStateOf(index.lastOutcome()), index.size()).c_str(),
              cancelled ? " (abgebrochen)" : "");
  if (!index.SaveIndex())
    std::fprintf(stderr, "Warnung: \"%s\" konnte nicht geschrieben werden\n", kIndexFileName);
  if (reporter.count > 0) return kExitError;
  return cancelled ? kExitCancelled : kExitOk;
}

int runLookup(const std::string& folder, const std::string& key) {
  StderrReporter reporter;
  clsIndex index(folder, &reporter);
  index.setSaveOnRelease(false);
  std::printf("%lld\n", static_cast<long long>(index.QueryIndex(key)));
  return kExitOk;
}

int runList(const std::string& folder, const std::string* filterExpression, bool numbered) {
  CliHost host;
  Viewer viewer(folder, host);
  viewer.setFilter(filterExpression ? *filterExpression : std::string());
  if (!viewer.filterHint().empty()) return usageError(viewer.filterHint().c_str());
  viewer.loadRows();
  viewer.finishFilter();
  // Rows are gathered into large writes: a million rows are a million small ones otherwise.
  constexpr std::size_t kChunk = 1 << 20;
  std::string out;
  out.reserve(2 * kChunk);
  char number[24];
  for (std::size_t i = 0; i < viewer.listCount(); ++i) {
    if (numbered) {
      const int n = std::snprintf(number, sizeof number, "%zu\t", *viewer.captureRow(i));
      out.append(number, static_cast<std::size_t>(n));
    }
    out.append(viewer.listEntry(i));
    out.push_back('\n');
    if (out.size() >= kChunk) {
      if (!writeOut(out)) return kExitError;
      out.clear();
    }
  }
  return writeOut(out) && std::fflush(stdout) == 0 ? kExitOk : kExitError;
}

int runSearch(const std::string& folder, const std::string& term, bool regex) {
  const TextMatcher matcher = matcherForTerm(term, regex);
  if (!matcher.error().empty()) return usageError(matcher.error().c_str());
  if (term.empty()) return usageError("SUCHBEGRIFF darf nicht leer sein");
  CliHost host;
  // The request rows are read ahead while the index loads: both take a while on a big capture.
  Viewer viewer(folder, host);
  viewer.openIndex().setSaveOnRelease(false);
  viewer.loadRows();
  Viewer::SearchOptions options;
  options.regex = regex;
  options.snippets = false;
  std::string refusal;
  if (!viewer.searchAll(term, options, &refusal)) return usageError(refusal.c_str());
  if (host.reporter.count > 0) return kExitError;
  std::vector<ResponseHit> hits = viewer.hits();
  std::sort(hits.begin(), hits.end(),
            [](const ResponseHit& a, const ResponseHit& b) { return a.row < b.row; });
  std::string line;
  for (const ResponseHit& hit : hits) {
    line = std::to_string(hit.row) + "\t" + std::to_string(hit.matches) + "\t";
    line.append(viewer.capture().rows().text(hit.row));
    line.push_back('\n');
    if (!writeOut(line)) return kExitError;
  }
  return std::fflush(stdout) == 0 ? kExitOk : kExitError;
}

bool parseRow(const std::string& text, long long& row) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  row = std::strtoll(text.c_str(), nullptr, 10);
  return errno == 0;
}

// The formatted view's line breaks and indentation put into the body's own bytes, so that the
// rest stays byte for byte as the log has it. The formatter inserts only before a "<": in UTF-16
// (always with a byte-order mark) a unit is two bytes after the mark; in the other encodings
// "<" is one byte that no other character contains, so the k-th "<" of the text is the k-th of
// the bytes.
std::string formattedBytes(const std::string& bytes) {
  const std::u16string text = decodeBody(bytes);
  const FormattedHtml formatted = formatHtml(text);
  const BodyEncoding encoding = detectBodyEncoding(bytes);
  const bool utf16 = encoding == BodyEncoding::Utf16Le || encoding == BodyEncoding::Utf16Be;
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  std::size_t textPos = 0, bytePos = 0;
  for (const HtmlInsertion& insertion : formatted.map.insertions()) {
    std::size_t at = 2 + 2 * insertion.original;
    if (!utf16) {
      at = bytePos;
      for (; textPos < insertion.original; ++textPos) {
        if (text[textPos] != u'<') continue;
        at = bytes.find('<', at);
        if (at == std::string::npos) return bytes;  // cannot be: then no formatting at all
        ++at;
      }
      at = bytes.find('<', at);
      if (at == std::string::npos) return bytes;
    }
    out.append(bytes, bytePos, at - bytePos);
    bytePos = at;
    for (std::size_t i = 0; i < insertion.count; ++i) {
      const char c = i == 0 ? '\n' : ' ';
      if (encoding == BodyEncoding::Utf16Be) out.push_back('\0');
      out.push_back(c);
      if (encoding == BodyEncoding::Utf16Le) out.push_back('\0');
    }
  }
  out.append(bytes, bytePos, std::string::npos);
  return out;
}

int runShow(const std::string& folder, long long row, bool noScripts, bool noComments,
            bool formatted) {
  CliHost host;
  Viewer viewer(folder, host);
  viewer.loadRows();
  const auto count = static_cast<long long>(viewer.totalCount());
  if (row >= count) {
    std::fprintf(stderr, "Fehler: Zeile %lld gibt es nicht, die Anfrageliste hat %lld Einträge\n",
                 row, count);
    return kExitError;
  }
  viewer.openIndex().setSaveOnRelease(false);
  viewer.select(static_cast<std::size_t>(row));
  ShowOptions options;
  options.stripJavaScript = noScripts;
  options.stripComments = noComments;
  options.decode = formatted;
  const RowResponse shown = viewer.showSelected(options);
  return writeOut(formatted ? formattedBytes(shown.bytes) : shown.bytes) && std::fflush(stdout) == 0
             ? kExitOk
             : kExitError;
}

// Compares the source texts as `show` prints them. Lines end at LF only, as patch(1) reads them:
// a lone CR stays inside its line, so that the output applied to the first text gives the second.
int runDiff(const std::string& folder, long long row1, long long row2, const ShowOptions& options,
            bool formatted, std::size_t context) {
  CliHost host;
  Viewer viewer(folder, host);
  viewer.loadRows();
  const auto count = static_cast<long long>(viewer.totalCount());
  for (long long row : {row1, row2}) {
    if (row >= count) {
      std::fprintf(stderr, "Fehler: Zeile %lld gibt es nicht, die Anfrageliste hat %lld Einträge\n",
                   row, count);
      return kDiffTrouble;
    }
  }
  viewer.openIndex().setSaveOnRelease(false);
  std::string texts[2];
  for (int side = 0; side < 2; ++side) {
    viewer.select(static_cast<std::size_t>(side == 0 ? row1 : row2));
    texts[side] = viewer.showSelected(options).bytes;
    if (formatted) texts[side] = formattedBytes(texts[side]);
  }
  if (host.reporter.count > 0) return kDiffTrouble;
  TextDiffOptions how;
  how.lineEnds = DiffLineEnds::Lf;
  const TextDiff diff = compareTexts(texts[0], texts[1], how);
  if (diff.identical) return kDiffSame;
  const RequestRows& rows = viewer.capture().rows();
  std::string out = "--- Zeile " + std::to_string(row1) + "\t" + std::string(rows.text(row1)) +
                    "\n+++ Zeile " + std::to_string(row2) + "\t" + std::string(rows.text(row2)) +
                    "\n";
  out += unifiedDiffHunks(texts[0], texts[1], diff, context);
  return writeOut(out) && std::fflush(stdout) == 0 ? kDiffDifferent : kDiffTrouble;
}

// diff's arguments; usage errors end with diff's code for trouble.
int diffCommand(const std::string& folder, const std::vector<std::string>& args) {
  auto usage = [](const std::string& message) {
    usageError(message.c_str());
    return kDiffTrouble;
  };
  long long rows[2];
  if (args.size() < 3 || !parseRow(args[1], rows[0]) || !parseRow(args[2], rows[1]))
    return usage("diff braucht zwei Zeilen, jede eine Zahl ab 0");
  ShowOptions options;
  options.decode = false;
  long long context = 3;
  bool formatted = false;
  for (std::size_t i = 3; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--no-scripts") {
      options.stripJavaScript = true;
    } else if (a == "--no-comments") {
      options.stripComments = true;
    } else if (a == "--formatted") {
      formatted = true;
    } else if (a.rfind("-U", 0) == 0) {
      const std::string number = a.size() > 2 ? a.substr(2) : i + 1 < args.size() ? args[++i] : "";
      if (!parseRow(number, context) || context > 1000000)
        return usage("-U braucht eine Zahl von Kontextzeilen ab 0");
    } else {
      return usage("unbekannte Option: " + a);
    }
  }
  try {
    return runDiff(folder, rows[0], rows[1], options, formatted, static_cast<std::size_t>(context));
  } catch (const FileError& e) {
    std::fprintf(stderr, "Fehler: %s\n", e.what());
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "Fehler: %s\n", describeErrno(ENOMEM).c_str());
  }
  return kDiffTrouble;
}

int run(int argc, char** argv) {
  std::string folder = ".";
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-C") {
      if (++i >= argc) return usageError("-C braucht einen Ordner");
      folder = argv[i];
    } else if (a == "-h" || a == "--help") {
      std::fputs(kUsage, stdout);
      return kExitOk;
    } else if (a == "--version") {
      std::printf("korvashimtale-cli %s\n", KORVA_VERSION);
      return kExitOk;
    } else {
      args.push_back(a);
    }
  }
  if (args.empty()) return usageError(nullptr);
  const std::string& command = args[0];
  try {
    if (command == "index" && args.size() == 1) return runIndex(folder);
    if (command == "list") {
      const std::string* filter = nullptr;
      bool numbered = false;
      for (std::size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "-n") {
          numbered = true;
        } else if (args[i] == "--filter" && i + 1 < args.size()) {
          filter = &args[++i];
        } else {
          return usageError(("unbekannte Option: " + args[i]).c_str());
        }
      }
      return runList(folder, filter, numbered);
    }
    if (command == "search" && (args.size() == 2 || args.size() == 3)) {
      const bool regex = args.size() == 3 && args[2] == "--regex";
      if (args.size() == 3 && !regex) return usageError(("unbekannte Option: " + args[2]).c_str());
      return runSearch(folder, args[1], regex);
    }
    if (command == "lookup" && args.size() == 2) return runLookup(folder, args[1]);
    if (command == "diff") return diffCommand(folder, args);
    if (command == "show" && args.size() >= 2) {
      long long row;
      if (!parseRow(args[1], row)) return usageError("ZEILE muss eine Zahl ab 0 sein");
      bool noScripts = false, noComments = false, formatted = false;
      for (std::size_t i = 2; i < args.size(); ++i) {
        if (args[i] == "--no-scripts")
          noScripts = true;
        else if (args[i] == "--no-comments")
          noComments = true;
        else if (args[i] == "--formatted")
          formatted = true;
        else
          return usageError(("unbekannte Option: " + args[i]).c_str());
      }
      return runShow(folder, row, noScripts, noComments, formatted);
    }
  } catch (const FileError& e) {
    std::fprintf(stderr, "Fehler: %s\n", e.what());
    return kExitError;
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "Fehler: %s\n", describeErrno(ENOMEM).c_str());
    return kExitError;
  }
  return usageError(("unbekannter Befehl oder falsche Argumente: " + command).c_str());
}

}  // namespace
}  // namespace korva

int main(int argc, char** argv) { return korva::run(argc, argv); }
