// RenderedView with a real Chromium renderer (offscreen), against a loopback HTTP server that
// records every connection a captured page manages to open.
#include <signal.h>

#include <QApplication>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineView>
#include <memory>

#include "view/rendered_view.h"

using korva::RenderedView;

namespace {

constexpr int kLoadTimeoutMs = 30000;

class LoopbackServer : public QTcpServer {
 public:
  LoopbackServer() {
    connect(this, &QTcpServer::newConnection, this, [this] {
      while (QTcpSocket* socket = nextPendingConnection()) {
        ++connections;
        connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
          const QByteArray data = socket->readAll();
          requests += int(data.count("HTTP/1."));
          socket->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
          socket->disconnectFromHost();
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
      }
    });
  }
  QString base() const { return QStringLiteral("http://127.0.0.1:%1/").arg(serverPort()); }

  int connections = 0;
  int requests = 0;
};

// A body that tries every way of reaching the outside world and of running script.
QString hostileBody(const QString& base, bool withRefresh = true) {
  return QStringLiteral(
             "<h1>Antwort</h1>"
             "<img src='%1img.png' onerror=\"document.title='pwned'\">"
             "<img srcset='%1srcset.png 1x, %1srcset2.png 2x'>"
             "<picture><source srcset='%1picture.webp'><img src='%1picture.png'></picture>"
             "<link rel=stylesheet href='%1style.css'>"
             "<link rel=preconnect href='%1'><link rel=prefetch href='%1prefetch'>"
             "<link rel=preload as=image href='%1preload.png'><link rel=icon href='%1icon.ico'>"
             "<style>@import url('%1import.css'); body{background:url('%1bg.png')}"
             "@font-face{font-family:f;src:url('%1font.woff')} h1{font-family:f}</style>"
             "<div style=\"background-image:url('%1inline.png')\">x</div>"
             "<iframe src='%1frame.html'></iframe>"
             "<script src='%1script.js'></script>"
             "<script>document.title='pwned'</script>"
             "<object data='%1object.swf'></object><embed src='%1embed.swf'>"
             "<video poster='%1poster.png' src='%1video.mp4' autoplay></video>"
             "<audio src='%1audio.mp3' autoplay></audio>"
             "<svg><image href='%1svg.png' width=10 height=10 /></svg>"
             "<table background='%1table.png'><tr><td>t</td></tr></table>"
             "<input type=image src='%1input.png'>"
             "<form action='%1submit'><input name=q autofocus onfocus=\"document.title='pwned'\">"
             "</form>"
             "<body onload=\"document.title='pwned'\">%2")
      .arg(base,
           withRefresh
               ? QStringLiteral("<meta http-equiv=refresh content='0;url=%1refresh'>").arg(base)
               : QString());
}

// Runs `script` in the page's application world and returns its result.
QVariant evaluate(QWebEnginePage* page, const QString& script) {
  QVariant result;
  bool done = false;
  page->runJavaScript(script, QWebEngineScript::ApplicationWorld, [&](const QVariant& value) {
    result = value;
    done = true;
  });
  if (!QTest::qWaitFor([&] { return done; }, kLoadTimeoutMs)) return QStringLiteral("<timeout>");
  return result;
}

}  // namespace

class TestRenderedView : public QObject {
  Q_OBJECT

 private slots:
  void init();
  void cleanup();

  void jsLiteralEvaluatesToTheSameString_data();
  void jsLiteralEvaluatesToTheSameString();
  void bodyIsSetReplacedAndEmptied();
  void bodySetBeforeTheBlankPageFollowsIt();
  void unprotectedViewWouldReachTheServer();
  void capturedPageReachesNothingAndRunsNothing();
  void typedNavigationAwayIsRefused();
  void largeBodyIsCutWithNotice();
  void htmlForRenderingCutsAtATag_data();
  void htmlForRenderingCutsAtATag();
  void killedRendererLeavesAnEmptyWorkingView();
  void destroyingTheViewReleasesTheProfileCleanly();
  void rootGetsNoSandboxOthersKeepIt_data();
  void rootGetsNoSandboxOthersKeepIt();

 private:
  std::unique_ptr<RenderedView> makeView();
  bool setBody(RenderedView* view, const QString& html);
  QString bodyHtml(RenderedView* view) {
    return evaluate(view->page(), QStringLiteral("document.body.innerHTML")).toString();
  }

  std::unique_ptr<LoopbackServer> server_;
};

void TestRenderedView::init() {
  server_ = std::make_unique<LoopbackServer>();
  QVERIFY(server_->listen(QHostAddress::LocalHost, 0));
}

void TestRenderedView::cleanup() { server_.reset(); }

std::unique_ptr<RenderedView> TestRenderedView::makeView() {
  auto view = std::make_unique<RenderedView>();
  view->resize(800, 600);
  view->show();
  QSignalSpy loaded(view->page(), &QWebEnginePage::loadFinished);
  view->navigateBlank();
  if (!QTest::qWaitFor([&] { return view->isBlankLoaded(); }, kLoadTimeoutMs)) return nullptr;
  return view;
}

bool TestRenderedView::setBody(RenderedView* view, const QString& html) {
  QSignalSpy set(view, &RenderedView::bodySet);
  view->setBodyHtml(html);
  return set.wait(kLoadTimeoutMs);
}

void TestRenderedView::jsLiteralEvaluatesToTheSameString_data() {
  QTest::addColumn<QString>("text");
  QString controls;
  for (char16_t c = 0; c < 0x20; ++c) controls += QChar(c);
  controls += QChar(0x7F);
  QTest::newRow("empty") << QString();
  QTest::newRow("quotes-and-backslashes") << QStringLiteral("a\"b'c\\d\\\\\"\\'");
  QTest::newRow("all-control-characters") << controls;
  QTest::newRow("line-and-paragraph-separators") << QString::fromUtf16(u"x\u2028y\u2029z");
  QTest::newRow("script-and-comment-closers") << QStringLiteral("</script><!-- --> <\\/ ]]>");
  QTest::newRow("beyond-latin1") << QString::fromUtf16(u"\u00e4\u00df\u20ac \U0001F600");
  QTest::newRow("crlf-lines") << QStringLiteral("eins\r\nzwei\rdrei\n");
}

void TestRenderedView::jsLiteralEvaluatesToTheSameString() {
  // Also shows that the application world runs while page JavaScript is off.
  QFETCH(QString, text);
  auto view = makeView();
  QVERIFY(view);
  const QVariant back = evaluate(view->page(), korva::jsStringLiteral(text));
  QCOMPARE(back.toString(), text);
  QVERIFY(!korva::jsStringLiteral(text).contains(u'<'));
}

void TestRenderedView::bodyIsSetReplacedAndEmptied() {
  auto view = makeView();
  QVERIFY(view);
  QVERIFY(setBody(view.get(), QStringLiteral("<p id=\"a\">eins</p>")));
  QCOMPARE(bodyHtml(view.get()), QStringLiteral("<p id=\"a\">eins</p>"));
  QVERIFY(setBody(view.get(), QStringLiteral("<p>zwei</p>")));
  QCOMPARE(bodyHtml(view.get()), QStringLiteral("<p>zwei</p>"));

  view->hide();  // switching views keeps the content
  view->show();
  QCOMPARE(bodyHtml(view.get()), QStringLiteral("<p>zwei</p>"));

  QVERIFY(setBody(view.get(), QString()));
  QCOMPARE(bodyHtml(view.get()), QString());
}

void TestRenderedView::bodySetBeforeTheBlankPageFollowsIt() {
  RenderedView view;
  view.show();
  QSignalSpy set(&view, &RenderedView::bodySet);
  view.navigateBlank();
  view.setBodyHtml(QStringLiteral("<p>alt</p>"));
  view.setBodyHtml(QStringLiteral("<p>neu</p>"));  // the newer one wins
  QVERIFY(set.wait(kLoadTimeoutMs));
  QCOMPARE(bodyHtml(&view), QStringLiteral("<p>neu</p>"));
  QTest::qWait(200);
  QCOMPARE(set.count(), 1);
}

void TestRenderedView::unprotectedViewWouldReachTheServer() {
  // Baseline for the next test: without the view's protection the same body does reach the
  // server and does run script, so a zero there means something.
  QWebEngineProfile profile;
  QWebEngineView view;
  auto* page = new QWebEnginePage(&profile, &view);
  view.setPage(page);
  view.show();
  QSignalSpy loaded(page, &QWebEnginePage::loadFinished);
  page->setUrl(QUrl(QStringLiteral("about:blank")));
  QVERIFY(loaded.wait(kLoadTimeoutMs));
  evaluate(page, QStringLiteral("document.body.innerHTML=") +
                     korva::jsStringLiteral(hostileBody(server_->base(), false)));
  QTRY_VERIFY_WITH_TIMEOUT(server_->requests > 3, kLoadTimeoutMs);
  QTRY_COMPARE_WITH_TIMEOUT(evaluate(page, QStringLiteral("document.title")).toString(),
                            QStringLiteral("pwned"), kLoadTimeoutMs);
  evaluate(page, QStringLiteral("document.body.innerHTML=") +
                     korva::jsStringLiteral(hostileBody(server_->base(), true)));
  QTRY_COMPARE_WITH_TIMEOUT(page->url(), QUrl(server_->base() + QStringLiteral("refresh")),
                            kLoadTimeoutMs);
}

void TestRenderedView::capturedPageReachesNothingAndRunsNothing() {
  auto view = makeView();
  QVERIFY(view);
  QSignalSpy counted(view.get(), &RenderedView::blockedRequestCountChanged);
  QVERIFY(setBody(view.get(), hostileBody(server_->base())));
  QTRY_VERIFY_WITH_TIMEOUT(view->blockedRequestCount() >= 10, kLoadTimeoutMs);
  QTest::qWait(1500);  // room for late loads, the meta refresh and any preconnect

  QCOMPARE(server_->connections, 0);
  QCOMPARE(server_->requests, 0);
  QCOMPARE(view->page()->url(), QUrl(QStringLiteral("about:blank")));
  QCOMPARE(evaluate(view->page(), QStringLiteral("document.title")).toString(), QString());
  QVERIFY(bodyHtml(view.get()).startsWith(QStringLiteral("<h1>Antwort</h1>")));
  QVERIFY(!counted.isEmpty());
  QCOMPARE(counted.last().at(0).toInt(), view->blockedRequestCount());

  QVERIFY(setBody(view.get(), QStringLiteral("<p>harmlos</p>")));
  QCOMPARE(view->blockedRequestCount(), 0);  // counted per display
  QCOMPARE(counted.last().at(0).toInt(), 0);
}

void TestRenderedView::typedNavigationAwayIsRefused() {
  auto view = makeView();
  QVERIFY(view);
  QVERIFY(setBody(view.get(), QStringLiteral("<p>bleibt</p>")));
  view->page()->setUrl(QUrl(server_->base() + QStringLiteral("typed")));
  view->page()->setUrl(QUrl(QStringLiteral("file:///etc/passwd")));
  view->page()->setUrl(QUrl(QStringLiteral("data:text/html,<p>weg</p>")));  // passes the blocker
  QTest::qWait(1000);
  QCOMPARE(server_->connections, 0);
  QCOMPARE(view->page()->url(), QUrl(QStringLiteral("about:blank")));
  QCOMPARE(bodyHtml(view.get()), QStringLiteral("<p>bleibt</p>"));
}

void TestRenderedView::largeBodyIsCutWithNotice() {
  auto view = makeView();
  QVERIFY(view);
  QString body;
  while (body.size() < RenderedView::kDefaultCapChars + 100000)
    body += QStringLiteral("<tr><td>Zelle</td><td>1234567890</td></tr>\r\n");
  body = QStringLiteral("<table>") + body + QStringLiteral("</table><p id=end>Ende</p>");
  QVERIFY(setBody(view.get(), body));
  const QString text =
      evaluate(view->page(), QStringLiteral("document.body.innerText.substring(0, 200)"))
          .toString();
  const QString notice = QStringLiteral(
                             "Die Antwort ist zu gro\u00DF f\u00FCr die Browseransicht und "
                             "wurde nach %1 MB gek\u00FCrzt.")
                             .arg(RenderedView::kDefaultCapChars / (1024 * 1024));
  QVERIFY2(text.startsWith(notice), qPrintable(text));
  QCOMPARE(evaluate(view->page(), QStringLiteral("document.getElementById('end') === null")),
           QVariant(true));

  QVERIFY(setBody(view.get(), QStringLiteral("<p>klein</p>")));  // under the cap: no notice
  QCOMPARE(bodyHtml(view.get()), QStringLiteral("<p>klein</p>"));
}

void TestRenderedView::htmlForRenderingCutsAtATag_data() {
  QTest::addColumn<QString>("html");
  QTest::addColumn<int>("cap");
  QTest::addColumn<QString>("kept");  // what follows the notice; "=" for unchanged
  QTest::newRow("fits-exactly") << QStringLiteral("<p>abc</p>") << 10 << QStringLiteral("=");
  QTest::newRow("before-last-tag-in-cap")
      << QStringLiteral("<p>abc</p><p>def</p>") << 12 << QStringLiteral("<p>abc</p>");
  QTest::newRow("tag-starting-at-cap-edge")
      << QStringLiteral("<p>abc</p><p>def</p>") << 11 << QStringLiteral("<p>abc</p>");
  QTest::newRow("no-tag-cuts-at-cap")
      << QStringLiteral("abcdefghij") << 4 << QStringLiteral("abcd");
  QTest::newRow("surrogate-pair-not-split")
      << QString::fromUtf16(u"abc\U0001F600def") << 4 << QStringLiteral("abc");
}

void TestRenderedView::htmlForRenderingCutsAtATag() {
  QFETCH(QString, html);
  QFETCH(int, cap);
  QFETCH(QString, kept);
  const QString shown = korva::htmlForRendering(html, cap);
  if (kept == QStringLiteral("=")) {
    QCOMPARE(shown, html);
    return;
  }
  QVERIFY(shown.startsWith(QStringLiteral("<div")));
  QVERIFY(shown.contains(QStringLiteral("Quelltextansicht (F6)")));
  QVERIFY2(shown.endsWith(QStringLiteral("</div>") + kept), qPrintable(shown));
}

void TestRenderedView::killedRendererLeavesAnEmptyWorkingView() {
  auto view = makeView();
  QVERIFY(view);
  QVERIFY(setBody(view.get(), QStringLiteral("<p>vorher</p>")));
  const qint64 pid = view->page()->renderProcessPid();
  QVERIFY(pid > 0);

  QSignalSpy set(view.get(), &RenderedView::bodySet);
  QSignalSpy dropped(view.get(), &RenderedView::bodyDropped);
  QSignalSpy terminated(view->page(), &QWebEnginePage::renderProcessTerminated);
  view->setBodyHtml(QStringLiteral("<p>unterwegs</p>"));
  QCOMPARE(::kill(pid_t(pid), SIGKILL), 0);
  QVERIFY(terminated.wait(kLoadTimeoutMs));
  // The display under way ends one way or the other; nothing waits forever.
  QTRY_COMPARE_WITH_TIMEOUT(set.count() + dropped.count(), 1, kLoadTimeoutMs);

  QTRY_VERIFY_WITH_TIMEOUT(view->isBlankLoaded(), kLoadTimeoutMs);
  QCOMPARE(view->page()->url(), QUrl(QStringLiteral("about:blank")));
  QCOMPARE(bodyHtml(view.get()), QString());
  QVERIFY(setBody(view.get(), QStringLiteral("<p>nachher</p>")));
  QCOMPARE(bodyHtml(view.get()), QStringLiteral("<p>nachher</p>"));
}

void TestRenderedView::destroyingTheViewReleasesTheProfileCleanly() {
  static QStringList warnings;
  warnings.clear();
  const QtMessageHandler previous = qInstallMessageHandler(
      [](QtMsgType, const QMessageLogContext&, const QString& message) { warnings << message; });
  {
    auto view = makeView();
    QVERIFY(view);
    QVERIFY(setBody(view.get(), QStringLiteral("<p>x</p>")));
  }
  QTest::qWait(200);
  qInstallMessageHandler(previous);
  for (const QString& warning : warnings)
    QVERIFY2(!warning.contains(QStringLiteral("Release of profile")), qPrintable(warning));
}

void TestRenderedView::rootGetsNoSandboxOthersKeepIt_data() {
  QTest::addColumn<QByteArray>("flags");
  QTest::addColumn<bool>("root");
  QTest::addColumn<QByteArray>("expected");
  QTest::newRow("user-unchanged") << QByteArray("--disable-gpu") << false
                                  << QByteArray("--disable-gpu");
  QTest::newRow("root-empty") << QByteArray() << true << QByteArray("--no-sandbox");
  QTest::newRow("root-keeps-others")
      << QByteArray("--disable-gpu") << true << QByteArray("--disable-gpu --no-sandbox");
  QTest::newRow("root-not-twice") << QByteArray("--no-sandbox --disable-gpu") << true
                                  << QByteArray("--no-sandbox --disable-gpu");
}

void TestRenderedView::rootGetsNoSandboxOthersKeepIt() {
  QFETCH(QByteArray, flags);
  QFETCH(bool, root);
  QFETCH(QByteArray, expected);
  QCOMPARE(korva::chromiumFlagsFor(flags, root), expected);
}

int main(int argc, char** argv) {
  korva::prepareWebEngineEnvironment();
  QApplication app(argc, argv);
  TestRenderedView test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_rendered_view.moc"
