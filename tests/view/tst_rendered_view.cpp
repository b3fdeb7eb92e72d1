// RenderedView with a real Chromium renderer (offscreen), against a loopback HTTP server that
// records every connection a captured page manages to open.
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QFile>
#include <QNetworkDatagram>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUdpSocket>
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

// A WebRTC offer against a STUN and two TURN servers on loopback; sets the title once the offer
// is made, so a test knows the script ran.
QString webRtcBody(quint16 tcpPort, quint16 udpPort) {
  return QStringLiteral(
             "<p>rtc</p><img src=\"data:,\" onerror=\"var pc=new RTCPeerConnection({iceServers:["
             "{urls:'stun:127.0.0.1:%2'},"
             "{urls:'turn:127.0.0.1:%1?transport=tcp',username:'u',credential:'c'},"
             "{urls:'turn:127.0.0.1:%2?transport=udp',username:'u',credential:'c'}]});"
             "pc.createDataChannel('d');pc.createOffer().then(function(o){"
             "return pc.setLocalDescription(o);}).then(function(){document.title='offer';});\">")
      .arg(tcpPort)
      .arg(udpPort);
}

const QString kScriptBody = QStringLiteral(
    "<p>s</p><img src=\"data:,\" onerror=\"document.title='pwned'\">"
    "<svg onload=\"document.title='pwned'\"></svg>"
    "<details open ontoggle=\"document.title='pwned'\"><summary>d</summary></details>");

// The environment this program started with, before prepareWebEngineEnvironment() changed it.
QProcessEnvironment& inheritedEnvironment() {
  static QProcessEnvironment env;
  return env;
}

// What a run of this program in probe mode (see probeMain()) reported.
struct Probe {
  bool finished = false;
  QString title;
  bool leftBlank = true;
  bool devTools = false;
};

// Shows `body` in a child process, since Chromium's switches hold for a whole process. `kind`
// is "hardened" (the program's environment), "raw" (the inherited one plus --no-sandbox) or
// "plain" (raw, and a bare QWebEngineView instead of a RenderedView). The event loop runs
// meanwhile, so the caller's listeners see what the child reaches.
Probe runProbe(const QString& kind, unsigned defenses, const QString& body,
               const QProcessEnvironment& env = inheritedEnvironment()) {
  QProcess child;
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::SeparateChannels);
  child.start(QCoreApplication::applicationFilePath(),
              {QStringLiteral("-probe"), kind, QString::number(defenses)});
  Probe result;
  if (!child.waitForStarted()) return result;
  child.write(body.toUtf8());
  child.closeWriteChannel();
  if (!QTest::qWaitFor([&] { return child.state() == QProcess::NotRunning; }, 90000)) {
    child.kill();
    return result;
  }
  result.finished = child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
  for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
    if (line.startsWith("title=")) result.title = QString::fromUtf8(line.mid(6));
    if (line.startsWith("leftBlank=")) result.leftBlank = line.endsWith('1');
    if (line.startsWith("devTools=")) result.devTools = line.endsWith('1');
  }
  return result;
}

int probeMain(int argc, char** argv) {
  const QByteArray kind = argv[2];
  const unsigned defenses = QByteArray(argv[3]).toUInt();
  const QByteArray devToolsAt = qgetenv("QTWEBENGINE_REMOTE_DEBUGGING");
  if (kind == "hardened") {
    korva::prepareWebEngineEnvironment();
  } else {
    if (::geteuid() == 0)
      qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
              qgetenv("QTWEBENGINE_CHROMIUM_FLAGS") + " --no-sandbox");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  }
  QApplication app(argc, argv);
  QFile in;
  if (!in.open(stdin, QIODevice::ReadOnly)) return 2;
  const QString body = QString::fromUtf8(in.readAll());

  QWebEngineProfile profile;
  std::unique_ptr<QWebEngineView> view;
  QUrl blank(QStringLiteral("about:blank"));
  if (kind == "plain") {
    view = std::make_unique<QWebEngineView>();
    view->setPage(new QWebEnginePage(&profile, view.get()));
  } else {
    auto rendered = std::make_unique<RenderedView>(nullptr, defenses);
    blank = rendered->blankUrl();
    view = std::move(rendered);
  }
  view->resize(800, 600);
  view->show();
  QSignalSpy loaded(view->page(), &QWebEnginePage::loadFinished);
  view->page()->setUrl(blank);
  if (!loaded.wait(kLoadTimeoutMs)) return 3;
  if (auto* rendered = qobject_cast<RenderedView*>(view.get())) {
    QSignalSpy set(rendered, &RenderedView::bodySet);
    if (!QTest::qWaitFor([&] { return rendered->isBlankLoaded(); }, kLoadTimeoutMs)) return 4;
    rendered->setBodyHtml(body);
    if (!set.wait(kLoadTimeoutMs)) return 5;
  } else {
    evaluate(view->page(),
             QStringLiteral("document.body.innerHTML=") + korva::jsStringLiteral(body));
  }
  QTest::qWait(3000);  // room for late loads, refreshes and ICE gathering

  QTcpSocket devTools;
  if (!devToolsAt.isEmpty()) {
    devTools.connectToHost(QHostAddress::LocalHost, quint16(devToolsAt.split(':').last().toUInt()));
    devTools.waitForConnected(3000);
  }
  const QString title = evaluate(view->page(), QStringLiteral("document.title")).toString();
  std::printf("title=%s\nleftBlank=%d\ndevTools=%d\n", qPrintable(title),
              int(view->page()->url() != blank),
              int(devTools.state() == QAbstractSocket::ConnectedState));
  std::fflush(stdout);
  return 0;
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
  void contentPolicyAloneKeepsScriptsOff();
  void environmentCannotTurnScriptsOnOrOpenDevTools();
  void webRtcReachesNoLoopbackListener();
  void bodyAloneCannotNavigateOrNest_data();
  void bodyAloneCannotNavigateOrNest();
  void largeBodyIsCutWithNotice();
  void htmlForRenderingCutsAtATag_data();
  void htmlForRenderingCutsAtATag();
  void killedRendererLeavesAnEmptyWorkingView();
  void destroyingTheViewReleasesTheProfileCleanly();
  void rootGetsNoSandboxOthersKeepIt_data();
  void rootGetsNoSandboxOthersKeepIt();

 private:
  std::unique_ptr<RenderedView> makeView(unsigned defenses = RenderedView::AllDefenses);
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

std::unique_ptr<RenderedView> TestRenderedView::makeView(unsigned defenses) {
  auto view = std::make_unique<RenderedView>(nullptr, defenses);
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
  // server and does run script, so a zero there means something. A bare view, in a process of
  // its own that keeps the inherited engine switches.
  Probe plain = runProbe(QStringLiteral("plain"), 0, hostileBody(server_->base(), false));
  QVERIFY(plain.finished);
  QVERIFY(server_->requests > 3);
  QCOMPARE(plain.title, QStringLiteral("pwned"));
  plain = runProbe(QStringLiteral("plain"), 0, hostileBody(server_->base(), true));
  QVERIFY(plain.finished);
  QVERIFY(plain.leftBlank);  // the refresh took it to the server
}

void TestRenderedView::capturedPageReachesNothingAndRunsNothing() {
  // The interceptor alone, in a process without the program's engine switches; scripts run.
  const Probe alone =
      runProbe(QStringLiteral("raw"), RenderedView::BlockRequests, hostileBody(server_->base()));
  QVERIFY(alone.finished);
  QCOMPARE(server_->connections, 0);
  QVERIFY(!alone.leftBlank);

  // In this process; without the policy and the cleaning every load reaches the interceptor.
  for (const unsigned defenses : {unsigned(RenderedView::ScriptsOff | RenderedView::BlockRequests),
                                  unsigned(RenderedView::AllDefenses)}) {
    auto view = makeView(defenses);
    QVERIFY(view);
    QSignalSpy counted(view.get(), &RenderedView::blockedRequestCountChanged);
    QVERIFY(setBody(view.get(), hostileBody(server_->base())));
    if (defenses != RenderedView::AllDefenses)
      QTRY_VERIFY_WITH_TIMEOUT(view->blockedRequestCount() >= 10, kLoadTimeoutMs);
    QTest::qWait(1500);  // room for late loads, the meta refresh and any preconnect

    QCOMPARE(server_->connections, 0);
    QCOMPARE(server_->requests, 0);
    QCOMPARE(view->page()->url(), view->blankUrl());
    QCOMPARE(evaluate(view->page(), QStringLiteral("document.title")).toString(), QString());
    QVERIFY(bodyHtml(view.get()).startsWith(QStringLiteral("<h1>Antwort</h1>")));
    if (defenses == RenderedView::AllDefenses) break;
    QVERIFY(!counted.isEmpty());
    QCOMPARE(counted.last().at(0).toInt(), view->blockedRequestCount());

    QVERIFY(setBody(view.get(), QStringLiteral("<p>harmlos</p>")));
    QCOMPARE(view->blockedRequestCount(), 0);  // counted per display
    QCOMPARE(counted.last().at(0).toInt(), 0);
  }
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
  QCOMPARE(view->page()->url(), view->blankUrl());
  QCOMPARE(bodyHtml(view.get()), QStringLiteral("<p>bleibt</p>"));
}

void TestRenderedView::contentPolicyAloneKeepsScriptsOff() {
  // JavaScript on in the settings, body not cleaned: only the document's policy stands.
  for (const unsigned defenses : {0u, unsigned(RenderedView::ContentPolicy)}) {
    auto view = makeView(defenses);
    QVERIFY(view);
    QVERIFY(setBody(view.get(), kScriptBody));
    QTest::qWait(1500);
    QCOMPARE(evaluate(view->page(), QStringLiteral("document.title")).toString(),
             defenses ? QString() : QStringLiteral("pwned"));
  }
}

void TestRenderedView::environmentCannotTurnScriptsOnOrOpenDevTools() {
  // Settings say no scripts; no policy, no cleaning. The environment says scripts on, DevTools on.
  QTcpServer free;
  QVERIFY(free.listen(QHostAddress::LocalHost, 0));
  const quint16 devToolsPort = free.serverPort();
  free.close();
  QProcessEnvironment env = inheritedEnvironment();
  env.insert(QStringLiteral("QTWEBENGINE_CHROMIUM_FLAGS"),
             QStringLiteral("--disable-gpu --blink-settings=scriptEnabled=true"));
  env.insert(QStringLiteral("QTWEBENGINE_REMOTE_DEBUGGING"),
             QStringLiteral("127.0.0.1:%1").arg(devToolsPort));
  const unsigned defenses = RenderedView::ScriptsOff | RenderedView::BlockRequests;

  const Probe raw = runProbe(QStringLiteral("raw"), defenses, kScriptBody, env);
  QVERIFY(raw.finished);
  QCOMPARE(raw.title, QStringLiteral("pwned"));
  QVERIFY(raw.devTools);

  const Probe hardened = runProbe(QStringLiteral("hardened"), defenses, kScriptBody, env);
  QVERIFY(hardened.finished);
  QCOMPARE(hardened.title, QString());
  QVERIFY(!hardened.devTools);
}

void TestRenderedView::webRtcReachesNoLoopbackListener() {
  // Scripts run (no setting, no policy, no cleaning, no interceptor); only the engine switches
  // of this process stand between the offer and the listeners.
  QUdpSocket udp;
  QVERIFY(udp.bind(QHostAddress::LocalHost, 0));
  int datagrams = 0;
  connect(&udp, &QUdpSocket::readyRead, &udp, [&] {
    while (udp.hasPendingDatagrams()) {
      udp.receiveDatagram();
      ++datagrams;
    }
  });
  const QString body = webRtcBody(server_->serverPort(), udp.localPort());

  const Probe raw = runProbe(QStringLiteral("raw"), 0, body);
  QVERIFY(raw.finished);
  QCOMPARE(raw.title, QStringLiteral("offer"));
  QVERIFY(server_->connections > 0);
  QVERIFY(datagrams > 0);
  server_->connections = 0;
  datagrams = 0;

  auto view = makeView(0);
  QVERIFY(view);
  QVERIFY(setBody(view.get(), body));
  QTRY_COMPARE_WITH_TIMEOUT(evaluate(view->page(), QStringLiteral("document.title")).toString(),
                            QStringLiteral("offer"), kLoadTimeoutMs);
  QTest::qWait(3000);  // ICE gathering
  QCOMPARE(server_->connections, 0);
  QCOMPARE(datagrams, 0);
}

void TestRenderedView::bodyAloneCannotNavigateOrNest_data() {
  QTest::addColumn<QString>("earlier");  // shown just before `body`
  QTest::addColumn<QString>("body");
  QTest::addColumn<bool>("click");       // on the page's top left corner
  QTest::addColumn<bool>("bareBreaks");  // the body breaks a view without the defense
  QTest::addColumn<int>("refusals");     // linkRefused() signals expected
  const QString mark = QStringLiteral("<p id=mark>bleibt</p>");
  const QString big = QStringLiteral("style=\"display:block;width:400px;height:200px\"");
  const QString refreshAbout =
      QStringLiteral("<meta http-equiv=refresh content='1;url=about:blank?x'>");
  // A refresh of the empty document itself is a renderer-initiated top-level navigation to a
  // data: URL, which Chromium blocks.
  QTest::newRow("meta-refresh") << QString()
                                << mark + QStringLiteral("<meta http-equiv=refresh content=1>")
                                << false << false << 0;
  QTest::newRow("meta-refresh-about") << QString() << mark + refreshAbout << false << true << 0;
  QTest::newRow("earlier-display-refresh") << refreshAbout << mark << false << true << 0;
  QTest::newRow("link-about") << QString()
                              << QStringLiteral("<a href='about:blank?x' %1>weg</a>").arg(big) +
                                     mark
                              << true << true << 1;
  QTest::newRow("named-anchor") << QString()
                                << QStringLiteral("<a name=x %1>Anker</a>").arg(big) + mark << true
                                << false << 0;
  QTest::newRow("form-submit")
      << QString()
      << QStringLiteral("<form action='about:blank'><button %1 name=q>senden</button></form>")
                 .arg(big) +
             mark
      << true << true << 0;
  QTest::newRow("srcdoc-frame") << QString()
                                << mark + QStringLiteral("<iframe srcdoc='<p>innen</p>'></iframe>")
                                << false << true << 0;
}

void TestRenderedView::bodyAloneCannotNavigateOrNest() {
  // Scripts on, no policy, no interceptor: only the cleaned body and the click guard stand.
  QFETCH(QString, earlier);
  QFETCH(QString, body);
  QFETCH(bool, click);
  QFETCH(bool, bareBreaks);
  QFETCH(int, refusals);
  for (const unsigned defenses : {0u, unsigned(RenderedView::InertBody)}) {
    auto view = makeView(defenses);
    QVERIFY(view);
    QSignalSpy refused(view.get(), &RenderedView::linkRefused);
    const auto held = [&] {
      return view->page()->url() == view->blankUrl() &&
             evaluate(view->page(), QStringLiteral("document.getElementById('mark')!==null&&"
                                                   "window.frames.length===0"))
                 .toBool();
    };
    if (!earlier.isEmpty()) QVERIFY(setBody(view.get(), earlier));
    QVERIFY(setBody(view.get(), body));
    QTest::qWait(300);  // layout, so the click lands on the element
    if (click) QTest::mouseClick(view->focusProxy(), Qt::LeftButton, {}, QPoint(40, 40));
    if (defenses == 0 && bareBreaks) {
      QTRY_VERIFY_WITH_TIMEOUT(!held(), kLoadTimeoutMs);
      QVERIFY(setBody(view.get(), QStringLiteral("<p>neu</p>")));  // in a fresh document
      QCOMPARE(view->page()->url(), view->blankUrl());
    } else {
      QTest::qWait(2500);
      QVERIFY(held());
    }
    if (defenses != 0) QCOMPARE(refused.count(), refusals);
  }
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
  QCOMPARE(view->page()->url(), view->blankUrl());
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
  const QByteArray own(
      "--force-webrtc-ip-handling-policy=disable_non_proxied_udp "
      "--host-resolver-rules=\"MAP * ~NOTFOUND\"");
  QTest::newRow("user-keeps-gpu-off")
      << QByteArray("--disable-gpu") << false << "--disable-gpu " + own;
  QTest::newRow("root-empty") << QByteArray() << true << own + " --no-sandbox";
  QTest::newRow("root-keeps-others")
      << QByteArray("--disable-gpu") << true << "--disable-gpu " + own + " --no-sandbox";
  QTest::newRow("root-not-twice") << QByteArray("--no-sandbox --disable-gpu") << true
                                  << "--disable-gpu " + own + " --no-sandbox";
  QTest::newRow("weakening-switches-dropped")
      << QByteArray(
             "--blink-settings=scriptEnabled=true --remote-debugging-port=9222 "
             "--disable-web-security --webrtc-ip-handling-policy=default "
             "--host-resolver-rules=\"MAP * 127.0.0.1\" --no-sandbox --disable-gpu  --disable-gpu")
      << false << "--disable-gpu " + own;
}

void TestRenderedView::rootGetsNoSandboxOthersKeepIt() {
  QFETCH(QByteArray, flags);
  QFETCH(bool, root);
  QFETCH(QByteArray, expected);
  QCOMPARE(korva::chromiumFlagsFor(flags, root), expected);
}

int main(int argc, char** argv) {
  if (argc == 4 && QByteArray(argv[1]) == "-probe") return probeMain(argc, argv);
  inheritedEnvironment() = QProcessEnvironment::systemEnvironment();
  korva::prepareWebEngineEnvironment();
  QApplication app(argc, argv);
  TestRenderedView test;
  return QTest::qExec(&test, argc, argv);
}

#include "tst_rendered_view.moc"
