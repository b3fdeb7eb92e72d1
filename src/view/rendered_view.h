// The rendered view: a QWebEngineView that shows captured response bodies without letting them
// reach the network, the file system or any script.
#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <cstdint>

class QWebEngineProfile;

namespace korva {

// To be called by main() before the QApplication exists. Sets the web engine's Chromium switches
// (see chromiumFlagsFor()) whatever the environment held, and drops QTWEBENGINE_REMOTE_DEBUGGING,
// which would let any local process drive the page. Keeps Chromium's sandbox for normal users;
// only for root, where Chromium refuses to start sandboxed, it turns it off. Also asks Qt for the
// shared OpenGL contexts Qt WebEngine needs.
void prepareWebEngineEnvironment();

// QTWEBENGINE_CHROMIUM_FLAGS as prepareWebEngineEnvironment() leaves it: of the inherited
// `flags` only the switches that turn GPU use off, then the program's own: WebRTC may send no
// UDP but through a proxy, every host name (IP literals too) resolves to nothing, which leaves
// WebRTC's TCP relays nowhere to go, and --no-sandbox when `runningAsRoot`.
QByteArray chromiumFlagsFor(const QByteArray& flags, bool runningAsRoot);

// `text` as one double-quoted JavaScript string literal that is also safe inside HTML: quotes,
// backslash, every control character, U+2028/U+2029, '<' and '>' are \u escapes.
QString jsStringLiteral(const QString& text);

// What the rendered view shows for `html` under a cap of `capChars` characters: `html` itself
// when it fits, else the German notice followed by `html` cut before the last '<' within the
// cap (or at the cap when there is none).
QString htmlForRendering(QStringView html, qsizetype capChars);

class RenderedView : public QWebEngineView {
  Q_OBJECT

 public:
  // Bodies above this many characters (one character per log byte) are cut for rendering.
  // Measured with bench/qt/rendered_view_qtbench.cpp on table-heavy HTML: at 1 MiB the
  // renderer took about 550 MiB and 1.3 s of layout, at 2 MiB about 1 GiB and 3 s, and 16 MiB
  // ran it out of memory.
  static constexpr qsizetype kDefaultCapChars = qsizetype(1024) * 1024;

  // The view's defenses. Each is meant to hold on its own; the program keeps all of them, tests
  // switch some off to show that another one holds alone.
  enum Defense : unsigned {
    ScriptsOff = 0x1,     // JavaScript off in the profile's settings
    ContentPolicy = 0x2,  // the document's Content-Security-Policy: no script, only data: loads
    InertBody = 0x4,      // body parsed inert, refresh/frame/object elements taken out, link
                          // activation and form submission cancelled
    BlockRequests = 0x8,  // the request interceptor lets only data: through
    AllDefenses = 0xF,
  };

  explicit RenderedView(QWidget* parent = nullptr, unsigned defenses = AllDefenses);
  ~RenderedView() override;

  // Loads the empty document whose body setBodyHtml() fills.
  void navigateBlank();
  // The empty document's address (a data: URL); the view never shows another one.
  const QUrl& blankUrl() const { return blankUrl_; }
  // True once the empty document has loaded and the body can be set.
  bool isBlankLoaded() const { return blankLoaded_; }

  // Replaces the body's content with `html` (cut to the cap, see htmlForRendering()). Returns
  // at once; bodySet() or bodyDropped() follows. Set before the empty document has loaded,
  // the body follows when it has; a newer call replaces a display still waiting.
  void setBodyHtml(QStringView html);

  // Requests blocked since the last setBodyHtml().
  int blockedRequestCount() const { return blocked_; }

  qsizetype capChars() const { return capChars_; }
  void setCapChars(qsizetype capChars) { capChars_ = capChars; }

 signals:
  // The body of the latest setBodyHtml() is in the document.
  void bodySet();
  // The latest setBodyHtml() will not show: its renderer ended or its script failed.
  void bodyDropped();
  void blockedRequestCountChanged(int count);
  // The user activated a link in the shown page; it was not followed.
  void linkRefused();

 public slots:
  // After a crash or kill of the renderer: drops any display under way and shows an empty
  // page again.
  void recoverFromRendererExit();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void onLoadFinished(bool ok);
  void runBodyScript();
  void onBodyScriptDone(std::uint64_t generation, bool ok);
  void onRequestBlocked();

  QWebEngineProfile* profile_ = nullptr;  // child of the page, so it outlives the page's core
  QWebEnginePage* page_ = nullptr;        // child of this view
  unsigned defenses_;
  QUrl blankUrl_;
  qsizetype capChars_ = kDefaultCapChars;
  bool blankLoaded_ = false;
  bool displayWaiting_ = false;  // a body waits for the empty document
  bool displayRunning_ = false;  // a body script has been sent, its callback not yet seen
  QString waitingHtml_;
  std::uint64_t generation_ = 0;  // tells the latest display from stale callbacks
  int blocked_ = 0;
};

}  // namespace korva
