// A build over arbitrary response-log bytes, then lookups and retrievals. The log first holds a
// part of the input and then grows to all of it, so the second build resumes (or rebuilds) over
// what the first one left; a build may be cancelled at a chosen progress event. After every
// InitializeIndex the entries must be what the model's build gives for the bytes there are, or
// be left alone when the newest request was current; each retrieval must give what the plain
// reading of the block gives; a save must write exactly the entries. A resumed build is held
// against the model's resume, a new one against the model's fresh build.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "fuzz/index_entries.h"
#include "fuzz/log_model.h"
#include "index/clsIndex.h"
#include "view/retrieval.h"

namespace korva::fuzz {
namespace {

class CountingReporter : public ErrorReporter {
 public:
  void reportError(const std::string& text) override {
    KORVA_FUZZ_CHECK(text.rfind(kDuplicateKeyDescription, 0) == 0, "unexpected report: %s",
                     text.c_str());
    ++count;
  }
  std::size_t count = 0;
};

model::Table tableOf(const std::vector<model::Entry>& entries) {
  model::Table t;
  for (const model::Entry& e : entries) t.add(e.key, e.position);
  return t;
}

// The newest request counts as current when its block is indexed and the 24 bytes at its
// position look up to that same position.
bool modelCurrent(const std::vector<model::Entry>& entries, std::string_view log,
                  std::string_view requests) {
  const model::Table t = tableOf(entries);
  return model::holdsAt(t, log, t.find(model::lastRequestKey(requests)));
}

bool isPrefix(const std::vector<model::Entry>& part, const std::vector<model::Entry>& whole) {
  if (part.size() > whole.size()) return false;
  for (std::size_t i = 0; i < part.size(); ++i)
    if (!(part[i] == whole[i])) return false;
  return true;
}

struct Step {
  std::string_view log;
  std::string_view requests;
  int cancelAt;  // cancel at this progress event of the build, -1 never
};

struct State {
  CountingReporter reporter;
  std::vector<model::Entry> expected;
  int lastPercent = -1;  // the engine keeps its last percentage from one build to the next
};

void initializeAndCompare(clsIndex& index, State& state, const Step& step) {
  std::vector<model::Entry>& expected = state.expected;
  writeFile(scratchFile(kResponseLogName), step.log);
  writeFile(scratchFile(kRequestLogName), step.requests);
  const bool current = modelCurrent(expected, step.log, step.requests);
  const bool resumes =
      !expected.empty() && model::holdsAt(tableOf(expected), step.log, expected.back().position);
  const model::BuildResult want =
      resumes ? model::resume(step.log, expected) : model::build(step.log);

  int events = 0;
  index.Progress = [&](std::uint8_t& percent, bool& cancel) {
    KORVA_FUZZ_CHECK(percent <= 100 && percent != state.lastPercent, "progress %d after %d",
                     percent, state.lastPercent);
    KORVA_FUZZ_CHECK(index.InBuildIndex(), "progress outside a build");
    state.lastPercent = percent;
    // Every block read so far is in the table, and found.
    const std::vector<model::Entry> now = entriesOf(index);
    KORVA_FUZZ_CHECK(isPrefix(now, want.table.entries), "progress: %zu entries, not a start",
                     now.size());
    for (const model::Entry& e : now)
      KORVA_FUZZ_CHECK(index.QueryIndex(e.key) == e.position, "progress: lookup");
    if (events++ == step.cancelAt) cancel = true;
  };
  const std::size_t reportsBefore = state.reporter.count;
  const bool wasCurrent = index.InitializeIndex();
  KORVA_FUZZ_CHECK(!index.InBuildIndex(), "still building");
  KORVA_FUZZ_CHECK(wasCurrent == current, "InitializeIndex said %d, the model %d", wasCurrent,
                   current);
  KORVA_FUZZ_CHECK(index.lastOutcome() != clsIndex::Outcome::Failed, "build failed");
  const std::vector<model::Entry> got = entriesOf(index);
  if (current) {
    KORVA_FUZZ_CHECK(got == expected, "a current index changed");
    return;
  }
  KORVA_FUZZ_CHECK(
      index.lastOutcome() == (resumes ? clsIndex::Outcome::Resumed : clsIndex::Outcome::Rebuilt),
      "resumed or rebuilt the wrong way");
  if (step.cancelAt >= 0 && step.cancelAt < events) {
    // Cancelled: what is there is the start of the entries the whole build would have.
    KORVA_FUZZ_CHECK(isPrefix(got, want.table.entries) && !got.empty(),
                     "cancelled build: %zu entries, not a start of the %zu expected", got.size(),
                     want.table.entries.size());
  } else {
    KORVA_FUZZ_CHECK(got == want.table.entries, "%s build: %zu entries, the model has %zu\n%s",
                     resumes ? "resumed" : "new", got.size(), want.table.entries.size(),
                     model::describe(got, want.table.entries).c_str());
    // Each duplicate the scan meets is reported twice.
    KORVA_FUZZ_CHECK(state.reporter.count - reportsBefore == 2 * want.duplicates,
                     "%zu reports for %zu duplicates", state.reporter.count - reportsBefore,
                     want.duplicates);
  }
  expected = got;
  index.Progress = nullptr;
}

void checkLookupsAndRetrievals(const clsIndex& index, const std::vector<model::Entry>& expected,
                               std::string_view log, std::string_view probe) {
  const model::Table t = tableOf(expected);
  const std::string path = scratchFile(kResponseLogName);
  for (const model::Entry& e : expected)
    KORVA_FUZZ_CHECK(index.QueryIndex(e.key) == e.position, "lookup");
  // A retrieval costs a large read buffer: one indexed block per input, chosen by the probe.
  if (!expected.empty()) {
    const model::Entry& e = expected[probe.size() % expected.size()];
    const RetrievedResponse r = retrieveResponse(path, e.key, e.position);
    const model::Retrieved m = model::retrieve(log, e.key, e.position);
    KORVA_FUZZ_CHECK(r.found == m.found && r.body == m.body, "retrieval of an indexed key");
  }
  // A key from the input: the index and the retrieval agree with the model, indexed or not.
  const std::string key(probe.substr(0, model::kKeyWidth));
  KORVA_FUZZ_CHECK(index.QueryIndex(key) == t.find(key), "lookup of a probe");
  const RetrievedResponse r = retrieveResponse(path, key, index.QueryIndex(key));
  const model::Retrieved m = model::retrieve(log, key, t.find(key));
  KORVA_FUZZ_CHECK(r.found == m.found && r.body == m.body, "retrieval of a probe");
}

void run(Input& in) {
  const std::uint8_t flags = in.byte();
  const std::uint16_t split = in.word();
  const int cancelAt = (flags & 2) ? in.byte() % 4 : -1;
  const std::string_view probe = in.take(in.byte() % 30);
  const std::string_view log = in.rest();
  const std::size_t cut = log.empty() ? 0 : split % (log.size() + 1);
  // The request log is either the same bytes (its last line may name an indexed block) or empty.
  const bool sameRequests = flags & 1;

  removeFile(scratchFile(kIndexFileName));
  State state;
  const std::vector<model::Entry>& expected = state.expected;
  std::string saved;
  {
    clsIndex index(scratchFolder(), &state.reporter);
    index.setSaveOnRelease(false);
    const std::string_view part = log.substr(0, cut);
    initializeAndCompare(index, state, {part, sameRequests ? part : std::string_view(), cancelAt});
    initializeAndCompare(index, state, {log, sameRequests ? log : std::string_view(), -1});
    checkLookupsAndRetrievals(index, expected, log, probe);
    KORVA_FUZZ_CHECK(index.SaveIndex(), "save failed");
    saved = readFile(scratchFile(kIndexFileName));
  }
  KORVA_FUZZ_CHECK(saved == (expected.empty() ? std::string() : model::serialize(expected)),
                   "saved index differs");
}

}  // namespace
}  // namespace korva::fuzz

KORVA_FUZZ_ENTRY_POINT()
