#include "app/key_search.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace korva {
namespace {

struct FakeTarget : SearchTarget {
  std::u16string content;
  std::int32_t start = 0;
  std::int32_t length = 0;
  bool visible = true;
  int focusCalls = 0;
  std::vector<std::string> writes;  // in call order, to check SelStart before SelLength

  std::u16string_view text() const override { return content; }
  std::int32_t selStart() const override { return start; }
  std::int32_t selLength() const override { return length; }
  void setSelStart(std::int32_t s) override {
    start = s;
    writes.push_back("start " + std::to_string(s));
  }
  void setSelLength(std::int32_t l) override {
    length = l;
    writes.push_back("length " + std::to_string(l));
  }
  bool canTakeFocus() const override { return visible; }
  void setFocus() override { ++focusCalls; }
};

struct FakePrompt : SearchPrompt {
  std::deque<std::u16string> answers;
  std::vector<std::u16string> defaults;
  std::u16string lastPrompt;
  std::u16string lastTitle;

  std::u16string ask(std::u16string_view prompt, std::u16string_view title,
                     std::u16string_view defaultText) override {
    lastPrompt = prompt;
    lastTitle = title;
    defaults.emplace_back(defaultText);
    std::u16string answer = answers.empty() ? u"" : answers.front();
    if (!answers.empty()) answers.pop_front();
    return answer;
  }
};

class KeySearchTest : public ::testing::Test {
 protected:
  bool ctrlF(std::u16string answer) {
    prompt.answers.push_back(std::move(answer));
    return search.keyDown(kKeyF, kModCtrl);
  }
  bool f3() { return search.keyDown(kKeyF3, 0); }
  void expectSelection(std::int32_t s, std::int32_t l) {
    EXPECT_EQ(target.start, s);
    EXPECT_EQ(target.length, l);
  }

  FakeTarget target;
  FakePrompt prompt;
  KeySearch search{target, prompt};
};

TEST_F(KeySearchTest, FindThenFindNextWalksTheOccurrencesAndWraps) {
  target.content = u"abc ABC abc";
  EXPECT_TRUE(ctrlF(u"abc"));
  EXPECT_EQ(prompt.lastPrompt, u"Suchbegriff:");
  EXPECT_EQ(prompt.lastTitle, u"Suchen");
  EXPECT_EQ(prompt.defaults, std::vector<std::u16string>{u""});
  expectSelection(0, 3);
  EXPECT_EQ(target.writes, (std::vector<std::string>{"start 0", "length 3"}));
  EXPECT_TRUE(f3());
  expectSelection(4, 3);
  f3();
  expectSelection(8, 3);
  f3();
  expectSelection(0, 3);
  EXPECT_EQ(target.focusCalls, 1);  // only Find moves the focus
  EXPECT_EQ(prompt.defaults.size(), 1u);
  EXPECT_EQ(search.LastSearchTerm(), u"abc");
}

TEST_F(KeySearchTest, SearchStartsBehindTheSelection) {
  target.content = u"aaaa";
  ctrlF(u"aa");
  expectSelection(0, 2);
  f3();
  expectSelection(2, 2);
  f3();
  expectSelection(0, 2);

  target.content = u"xx needle yy";
  target.start = 3;
  target.length = 6;
  ctrlF(u"NEEDLE");  // the only occurrence, already selected: found again by the wrap
  expectSelection(3, 6);
  EXPECT_EQ(target.writes.back(), "length 6");
}

TEST_F(KeySearchTest, FindNextWithoutATermAsksLikeFind) {
  target.content = u"one two";
  prompt.answers.push_back(u"two");
  EXPECT_TRUE(f3());
  EXPECT_EQ(prompt.defaults, std::vector<std::u16string>{u""});
  EXPECT_EQ(target.focusCalls, 1);
  expectSelection(4, 3);
  EXPECT_EQ(search.LastSearchTerm(), u"two");
}

TEST_F(KeySearchTest, TermThatIsNotFoundIsStillRemembered) {
  target.content = u"abc";
  target.start = 1;
  target.length = 1;
  ctrlF(u"zzz");
  expectSelection(1, 1);
  EXPECT_TRUE(target.writes.empty());
  EXPECT_EQ(search.LastSearchTerm(), u"zzz");

  f3();  // searches for zzz without asking
  EXPECT_EQ(prompt.defaults.size(), 1u);
  target.content = u"abc zzz";
  f3();
  expectSelection(4, 3);

  ctrlF(u"");
  EXPECT_EQ(prompt.defaults.back(), u"zzz");

  target.content.clear();
  ctrlF(u"q");
  EXPECT_EQ(search.LastSearchTerm(), u"q");
}

TEST_F(KeySearchTest, CancelMovesTheFocusAndNothingElse) {
  target.content = u"abc abc";
  ctrlF(u"abc");
  target.writes.clear();
  ctrlF(u"");
  EXPECT_EQ(target.focusCalls, 2);
  EXPECT_TRUE(target.writes.empty());
  EXPECT_EQ(search.LastSearchTerm(), u"abc");
}

TEST_F(KeySearchTest, HiddenSourcePaneIsSearchedWithoutFocus) {
  target.content = u"hidden text";
  target.visible = false;
  ctrlF(u"TEXT");
  EXPECT_EQ(target.focusCalls, 0);
  expectSelection(7, 4);
}

TEST_F(KeySearchTest, OtherKeysAndModifiersDoNothing) {
  target.content = u"abc abc";
  ctrlF(u"abc");  // with a term, a stray F3 variant would otherwise select the next one
  const std::size_t asked = prompt.defaults.size();
  target.writes.clear();
  struct Key {
    int code;
    int modifiers;
  };
  for (const Key& k : {Key{kKeyF, kModCtrl | kModShift}, Key{kKeyF, kModCtrl | kModAlt},
                       Key{kKeyF, 0}, Key{kKeyF, kModAlt}, Key{kKeyF3, kModShift},
                       Key{kKeyF3, kModCtrl}, Key{71, kModCtrl}, Key{113, 0}}) {
    EXPECT_FALSE(search.keyDown(k.code, k.modifiers)) << k.code << "/" << k.modifiers;
  }
  EXPECT_EQ(prompt.defaults.size(), asked);
  EXPECT_TRUE(target.writes.empty());
}

}  // namespace
}  // namespace korva
