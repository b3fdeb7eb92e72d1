// clsTextBox over a real QPlainTextEdit (offscreen).
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTest>
#include <memory>

#include "view/clsTextBox.h"
#include "view/twips.h"

using korva::clsTextBox;

namespace {

// `lines` numbered lines of 40 characters each, CR LF terminated.
QString numberedLines(int lines) {
  QString text;
  text.reserve(lines * 42);
  for (int i = 0; i < lines; ++i) {
    text += QStringLiteral("Zeile %1 ").arg(i, 8, 10, QChar(u'0'));
    text += QString(25, QChar(u'x'));
    text += QStringLiteral("\r\n");
  }
  return text;
}

}  // namespace

class TestClsTextBox : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void selectionBeyond16BitIsExact();
  void selStartKeepsLengthAndSelLengthKeepsStart();
  void selectionIsClampedToTheText();
  void caretIsScrolledIntoViewAfterEachSet();
  void textPositionsAreSelectionPositions();
  void textStopsAtZeroCharacter();
  void userCannotEditButCanSelect();
  void geometryReadsRoundHalfToEven_data();
  void geometryReadsRoundHalfToEven();
  void geometryIsAppliedInPixels();
  void paneMatchesTheBrowserRectangle_data();
  void paneMatchesTheBrowserRectangle();
  void geometryReadsBackWhatTheWidgetKept();
  void visibleReadsMinusOneOrZero();
  void unboundOrDestroyedTextBoxIsHarmless();

 private:
  std::unique_ptr<QWidget> window_;
  QPlainTextEdit* edit_ = nullptr;
  clsTextBox box_;
};

void TestClsTextBox::init() {
  window_ = std::make_unique<QWidget>();
  window_->resize(640, 480);
  edit_ = new QPlainTextEdit(window_.get());
  edit_->setGeometry(0, 0, 640, 480);
  box_ = clsTextBox();
  box_.setTextBox(edit_);
  box_.setTwipsPerPixel(15, 15);
}

void TestClsTextBox::cleanup() { window_.reset(); }

void TestClsTextBox::selectionBeyond16BitIsExact() {
  box_.setText(numberedLines(5000));  // 210000 characters
  box_.setSelStart(150001);
  box_.setSelLength(70003 - 20000);
  QCOMPARE(box_.SelStart(), 150001);
  QCOMPARE(box_.SelLength(), 50003);
  QCOMPARE(edit_->textCursor().selectionStart(), 150001);
  QCOMPARE(edit_->textCursor().selectionEnd(), 200004);
}

void TestClsTextBox::selStartKeepsLengthAndSelLengthKeepsStart() {
  box_.setText(numberedLines(100));
  const QString text = box_.Text();
  box_.setSelStart(10);
  box_.setSelLength(5);
  box_.setSelStart(100);
  QCOMPARE(box_.SelStart(), 100);
  QCOMPARE(box_.SelLength(), 5);
  QCOMPARE(edit_->textCursor().selectedText(), text.mid(100, 5));

  box_.setSelLength(0);
  QCOMPARE(box_.SelStart(), 100);
  QCOMPARE(box_.SelLength(), 0);
  QVERIFY(!edit_->textCursor().hasSelection());
  QCOMPARE(edit_->textCursor().position(), 100);
}

void TestClsTextBox::selectionIsClampedToTheText() {
  box_.setText(QStringLiteral("0123456789"));
  box_.setSelStart(8);
  box_.setSelLength(100);
  QCOMPARE(box_.SelStart(), 8);
  QCOMPARE(box_.SelLength(), 2);
  box_.setSelStart(-3);
  QCOMPARE(box_.SelStart(), 0);
}

void TestClsTextBox::caretIsScrolledIntoViewAfterEachSet() {
  window_->show();
  QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  box_.setText(numberedLines(100000));
  QScrollBar* bar = edit_->verticalScrollBar();
  const auto caretShown = [this] {
    return edit_->viewport()->rect().intersects(edit_->cursorRect());
  };

  box_.setSelStart(90000 * 41);  // line 90000
  QVERIFY(bar->value() > 0);
  QVERIFY(caretShown());

  const int farValue = bar->value();
  box_.setSelStart(0);
  box_.setSelLength(10 * 41);  // caret at line 10: still near the top
  QVERIFY(bar->value() < farValue);
  QVERIFY(caretShown());

  box_.setSelLength(50000 * 41);  // caret (selection end) at line 50000
  QVERIFY(caretShown());
  QCOMPARE(edit_->textCursor().position(), 50000 * 41);
}

void TestClsTextBox::textPositionsAreSelectionPositions() {
  // CR LF and a lone CR are one separator each; a lone LF also ends a line in the widget.
  box_.setText(QStringLiteral("ab\r\ncd\ref\r\ngh"));
  const QString text = box_.Text();
  QCOMPARE(text, QStringLiteral("ab\ncd\nef\ngh"));
  const qsizetype found = text.indexOf(QStringLiteral("ef"));
  box_.setSelStart(int(found));
  box_.setSelLength(2);
  QCOMPARE(edit_->textCursor().selectedText(), QStringLiteral("ef"));
}

void TestClsTextBox::textStopsAtZeroCharacter() {
  box_.setText(QString::fromUtf16(u"vorher\0nachher", 14));
  QCOMPARE(box_.Text(), QStringLiteral("vorher"));
}

void TestClsTextBox::userCannotEditButCanSelect() {
  window_->show();
  QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
  box_.setText(QStringLiteral("abc def"));
  box_.SetFocus();
  QTRY_VERIFY(edit_->hasFocus());
  QTest::keyClicks(edit_, QStringLiteral("xyz"));
  QTest::keyClick(edit_, Qt::Key_Backspace);
  QCOMPARE(box_.Text(), QStringLiteral("abc def"));
  QTest::keyClick(edit_, Qt::Key_End, Qt::ShiftModifier);
  QCOMPARE(box_.SelLength(), 7);
}

void TestClsTextBox::geometryReadsRoundHalfToEven_data() {
  QTest::addColumn<float>("twips");
  QTest::addColumn<int>("expected");
  QTest::newRow("100.5-down-to-even") << 100.5f << 100;
  QTest::newRow("101.5-up-to-even") << 101.5f << 102;
  QTest::newRow("0.5-to-zero") << 0.5f << 0;
  QTest::newRow("below-half") << 100.49f << 100;
  QTest::newRow("above-half") << 100.51f << 101;
  QTest::newRow("negative-half-to-even") << -101.5f << -102;
  QTest::newRow("negative-half-to-even-2") << -100.5f << -100;
  QTest::newRow("beyond-int32-saturates") << 3.0e10f << 2147483647;
}

void TestClsTextBox::geometryReadsRoundHalfToEven() {
  QFETCH(float, twips);
  QFETCH(int, expected);
  box_.controlGeometry().setLeft(twips);
  box_.controlGeometry().setTop(twips);
  box_.controlGeometry().setWidth(twips);
  box_.controlGeometry().setHeight(twips);
  QCOMPARE(box_.Left(), expected);
  QCOMPARE(box_.Top(), expected);
  if (twips >= 0 && twips < 1e6f) {  // widgets take no negative or enormous sizes
    QCOMPARE(box_.Width(), expected);
    QCOMPARE(box_.Height(), expected);
  }
}

void TestClsTextBox::geometryIsAppliedInPixels() {
  box_.setLeft(0);
  box_.setTop(2040 + 615);
  box_.setWidth(15000);
  box_.setHeight(10000 - 2655);
  QCOMPARE(edit_->geometry(), QRect(0, 177, 1000, 490));  // edges 2655/15 = 177, 10000/15 = 667
  QCOMPARE(box_.Top(), 2655);
  QCOMPARE(box_.Height(), 7345);

  box_.setTwipsPerPixel(12, 12);  // 120 dpi
  box_.setWidth(1440);
  QCOMPARE(edit_->width(), 120);
}

// The browser lies exactly over the source pane: both go through one conversion, which rounds
// a half pixel to even (2665 twips at 144 dpi is 266.5 pixels: 266, not 267).
void TestClsTextBox::paneMatchesTheBrowserRectangle_data() {
  QTest::addColumn<float>("twipsPerPixel");
  QTest::addColumn<QRect>("expected");
  QTest::newRow("96-dpi") << 15.0f << QRect(7, 178, 1001, 489);
  QTest::newRow("120-dpi") << 12.0f << QRect(9, 222, 1251, 611);
  QTest::newRow("144-dpi") << 10.0f << QRect(10, 266, 1502, 734);
}

void TestClsTextBox::paneMatchesTheBrowserRectangle() {
  QFETCH(float, twipsPerPixel);
  QFETCH(QRect, expected);
  constexpr int kLeft = 105, kTop = 2665, kWidth = 15015, kHeight = 7335;
  box_.setTwipsPerPixel(twipsPerPixel, twipsPerPixel);
  box_.setLeft(kLeft);
  box_.setTop(kTop);
  box_.setWidth(kWidth);
  box_.setHeight(kHeight);
  const korva::PixelRect browser =
      korva::twipsRectToPixels(kLeft, kTop, kWidth, kHeight, twipsPerPixel, twipsPerPixel);
  QCOMPARE(edit_->geometry(), QRect(browser.left, browser.top, browser.width, browser.height));
  QCOMPARE(edit_->geometry(), expected);
}

void TestClsTextBox::geometryReadsBackWhatTheWidgetKept() {
  edit_->setMinimumHeight(100);
  box_.setHeight(300);  // 20 pixels asked, 100 kept
  QCOMPARE(edit_->height(), 100);
  QCOMPARE(box_.Height(), 1500);

  edit_->move(7, 9);  // moved behind the adapter's back
  QCOMPARE(box_.Left(), 105);
  QCOMPARE(box_.Top(), 135);
}

void TestClsTextBox::visibleReadsMinusOneOrZero() {
  // The window itself is not shown: the control's own flag is what counts.
  QCOMPARE(box_.Visible(), -1);
  box_.setVisible(0);
  QCOMPARE(box_.Visible(), 0);
  QVERIFY(edit_->isHidden());
  box_.setVisible(1);
  QCOMPARE(box_.Visible(), -1);
  box_.setVisible(0);
  box_.setVisible(-1);
  QCOMPARE(box_.Visible(), -1);
  window_->show();
  QVERIFY(edit_->isVisible());
}

void TestClsTextBox::unboundOrDestroyedTextBoxIsHarmless() {
  clsTextBox unbound;
  unbound.setText(QStringLiteral("x"));
  unbound.setSelStart(3);
  unbound.setLeft(10);
  QCOMPARE(unbound.Text(), QString());
  QCOMPARE(unbound.SelStart(), 0);
  QCOMPARE(unbound.Visible(), 0);

  box_.setText(QStringLiteral("abc"));
  window_.reset();  // destroys the text box
  QVERIFY(box_.TextBox() == nullptr);
  box_.setSelLength(2);
  QCOMPARE(box_.Text(), QString());
}

QTEST_MAIN(TestClsTextBox)
#include "tst_clsTextBox.moc"
