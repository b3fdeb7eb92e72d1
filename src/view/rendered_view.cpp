#include "view/rendered_view.h"

#include <unistd.h>

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QLocale>
#include <QMenu>
#include <QTimer>
#include <QWebEngineCookieStore>
#include <QWebEngineDownloadRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>
#include <algorithm>
#include <functional>
#include <utility>

namespace korva {

namespace {

// What the isolated world logs when it cancelled a link activation; the page turns it into
// RenderedView::linkRefused().
const QString kLinkRefusedMessage = QStringLiteral("korva:link-refused");

// Holds in the document itself, so no engine setting or switch alone lets captured HTML run
// script or load anything but data:. form-action also stops submissions to about: URLs, which
// Chromium commits without asking acceptNavigationRequest().
const char kContentPolicy[] =
    "default-src 'none'; script-src 'none'; object-src 'none'; img-src data:; "
    "style-src 'unsafe-inline' data:; font-src data:; media-src data:; form-action 'none'; "
    "base-uri 'none'";

QUrl blankUrlFor(bool withContentPolicy) {
  // No doctype: like about:blank before it, the document stays in quirks mode, which most
  // captured pages were written for.
  QByteArray html = "<html><head><meta charset=\"utf-8\">";
  if (withContentPolicy)
    html += QByteArray("<meta http-equiv=\"Content-Security-Policy\" content=\"") + kContentPolicy +
            "\">";
  html += "</head><body></body></html>";
  return QUrl(QString::fromLatin1("data:text/html;charset=utf-8," +
                                  QUrl::toPercentEncoding(QString::fromLatin1(html))));
}

// Refuses every navigation but the view's own to its empty document, and every new window: a
// captured page must not take the view anywhere else.
class BlankOnlyPage : public QWebEnginePage {
 public:
  BlankOnlyPage(QWebEngineProfile* profile, QUrl blankUrl, std::function<void()> onLinkRefused,
                std::function<void()> onPolicyBlocked, QObject* parent)
      : QWebEnginePage(profile, parent),
        blankUrl_(std::move(blankUrl)),
        onLinkRefused_(std::move(onLinkRefused)),
        onPolicyBlocked_(std::move(onPolicyBlocked)) {}

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
    return isMainFrame && type == NavigationTypeTyped && url == blankUrl_;
  }
  QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }
  QStringList chooseFiles(FileSelectionMode, const QStringList&, const QStringList&) override {
    return {};
  }
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString& message, int,
                                const QString&) override {
    if (message == kLinkRefusedMessage) onLinkRefused_();
    // What the document's policy refuses never reaches the interceptor; the engine reports it
    // here instead, and it counts as blocked all the same.
    else if (message.startsWith(QLatin1String("Refused to load")) ||
             message.startsWith(QLatin1String("Refused to connect")) ||
             message.startsWith(QLatin1String("Refused to frame")))
      onPolicyBlocked_();
  }

 private:
  QUrl blankUrl_;
  std::function<void()> onLinkRefused_;
  std::function<void()> onPolicyBlocked_;
};

// Lets only data: URLs through; everything else (http, https, file, ftp, ws, blob...) would be
// a request of a captured page to the outside world.
class RequestBlocker : public QWebEngineUrlRequestInterceptor {
 public:
  RequestBlocker(QObject* receiver, std::function<void()> onBlocked, QObject* parent)
      : QWebEngineUrlRequestInterceptor(parent),
        receiver_(receiver),
        onBlocked_(std::move(onBlocked)) {}

  void interceptRequest(QWebEngineUrlRequestInfo& info) override {
    if (info.requestUrl().scheme() == QLatin1String("data")) return;
    info.block(true);
    // Qt 6 calls this on the UI thread; AutoConnection keeps it correct if that changes.
    QMetaObject::invokeMethod(receiver_, onBlocked_, Qt::AutoConnection);
  }

 private:
  QObject* receiver_;
  std::function<void()> onBlocked_;
};

void lockDown(QWebEngineSettings* s, bool scriptsOff) {
  using S = QWebEngineSettings;
  s->setAttribute(S::JavascriptEnabled, !scriptsOff);
  s->setAttribute(S::JavascriptCanOpenWindows, false);
  s->setAttribute(S::JavascriptCanAccessClipboard, false);
  s->setAttribute(S::JavascriptCanPaste, false);
  s->setAttribute(S::PluginsEnabled, false);
  s->setAttribute(S::PdfViewerEnabled, false);
  s->setAttribute(S::LocalContentCanAccessRemoteUrls, false);
  s->setAttribute(S::LocalContentCanAccessFileUrls, false);
  s->setAttribute(S::LocalStorageEnabled, false);
  s->setAttribute(S::HyperlinkAuditingEnabled, false);
  s->setAttribute(S::DnsPrefetchEnabled, false);
  s->setAttribute(S::AllowRunningInsecureContent, false);
  s->setAttribute(S::AllowGeolocationOnInsecureOrigins, false);
  s->setAttribute(S::AllowWindowActivationFromJavaScript, false);
  s->setAttribute(S::ErrorPageEnabled, false);
  s->setAttribute(S::FullScreenSupportEnabled, false);
  s->setAttribute(S::ScreenCaptureEnabled, false);
  s->setAttribute(S::WebGLEnabled, false);
  s->setAttribute(S::Accelerated2dCanvasEnabled, false);
  s->setAttribute(S::AutoLoadIconsForPage, false);
  s->setAttribute(S::TouchIconsEnabled, false);
  s->setAttribute(S::NavigateOnDropEnabled, false);
  s->setAttribute(S::PlaybackRequiresUserGesture, true);
  s->setAttribute(S::WebRTCPublicInterfacesOnly, true);
  s->setAttribute(S::SpatialNavigationEnabled, false);
}

QWebEngineProfile* makeProfile(bool scriptsOff) {
  auto* profile = new QWebEngineProfile();  // no storage name: off the record
  profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
  profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
  profile->setSpellCheckEnabled(false);
  profile->cookieStore()->setCookieFilter(
      [](const QWebEngineCookieStore::FilterRequest&) { return false; });
  QObject::connect(profile, &QWebEngineProfile::downloadRequested,
                   [](QWebEngineDownloadRequest* download) { download->cancel(); });
  lockDown(profile->settings(), scriptsOff);
  return profile;
}

QString notice(qsizetype capChars) {
  const double megabytes = double(capChars) / (1024.0 * 1024.0);
  const QString amount = QLocale(QLocale::German).toString(megabytes, 'g', 3);
  return QStringLiteral(
             "<div style=\"display:block;margin:0 0 8px 0;padding:6px 8px;background:#fff3cd;"
             "color:#000;border:1px solid #c9a400;font:14px sans-serif\">"
             "Die Antwort ist zu gro\u00DF f\u00FCr die Browseransicht und wurde nach %1 MB "
             "gek\u00FCrzt. Die Quelltextansicht (F6) enth\u00E4lt den vollst\u00E4ndigen "
             "Text.</div>")
      .arg(amount);
}

}  // namespace

QByteArray chromiumFlagsFor(const QByteArray& flags, bool runningAsRoot) {
  // Switches from the environment could turn scripts on (--blink-settings), open DevTools
  // (--remote-debugging-port) or lift the same-origin rules; only these harmless ones stay.
  static const QByteArray kInheritable[] = {"--disable-gpu", "--disable-gpu-compositing"};
  QList<QByteArray> kept;
  for (const QByteArray& word : flags.simplified().split(' ')) {
    if (std::find(std::begin(kInheritable), std::end(kInheritable), word) !=
            std::end(kInheritable) &&
        !kept.contains(word))
      kept << word;
  }
  // The request interceptor never sees WebRTC: the policy keeps it off UDP, and with every name
  // resolving to nothing its TCP relays, which go through the host resolver, connect nowhere.
  kept << "--force-webrtc-ip-handling-policy=disable_non_proxied_udp"
       << "--host-resolver-rules=\"MAP * ~NOTFOUND\"";
  if (runningAsRoot) kept << "--no-sandbox";
  return kept.join(' ');
}

void prepareWebEngineEnvironment() {
  const bool root = ::geteuid() == 0;
  // Set even when nothing was inherited: Qt then also ignores switches given after
  // --webEngineArgs on the command line.
  qputenv("QTWEBENGINE_CHROMIUM_FLAGS",
          chromiumFlagsFor(qgetenv("QTWEBENGINE_CHROMIUM_FLAGS"), root));
  qunsetenv("QTWEBENGINE_REMOTE_DEBUGGING");
  if (root) qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
}

QString jsStringLiteral(const QString& text) {
  static const char16_t kHex[] = u"0123456789abcdef";
  QString out;
  out.reserve(text.size() + text.size() / 8 + 2);
  out += u'"';
  for (const QChar ch : text) {
    const char16_t c = ch.unicode();
    if (c == u'\\' || c == u'"' || c == u'\'') {
      out += u'\\';
      out += ch;
    } else if (c < 0x20 || c == 0x7F || c == 0x2028 || c == 0x2029 || c == u'<' || c == u'>') {
      const char16_t escape[] = {
          u'\\', u'u', kHex[c >> 12], kHex[(c >> 8) & 15], kHex[(c >> 4) & 15], kHex[c & 15]};
      out.append(reinterpret_cast<const QChar*>(escape), 6);
    } else {
      out += ch;
    }
  }
  out += u'"';
  return out;
}

QString htmlForRendering(QStringView html, qsizetype capChars) {
  if (html.size() <= capChars) return html.toString();
  qsizetype cut = capChars > 0 ? html.lastIndexOf(u'<', capChars - 1) : -1;
  if (cut < 0) {
    cut = std::max<qsizetype>(capChars, 0);
    if (cut > 0 && html.at(cut - 1).isHighSurrogate()) --cut;
  }
  return notice(capChars).append(html.left(cut));
}

RenderedView::RenderedView(QWidget* parent, unsigned defenses)
    : QWebEngineView(parent),
      defenses_(defenses),
      blankUrl_(blankUrlFor(defenses & ContentPolicy)) {
  profile_ = makeProfile(defenses_ & ScriptsOff);
  if (defenses_ & BlockRequests)
    profile_->setUrlRequestInterceptor(new RequestBlocker(
        this, [this] { onRequestBlocked(); }, profile_));
  page_ = new BlankOnlyPage(
      profile_, blankUrl_, [this] { emit linkRefused(); }, [this] { onRequestBlocked(); }, this);
  // The page's core must go before the profile does; as the page's child the profile is
  // deleted only after it.
  profile_->setParent(page_);
  connect(page_, &QWebEnginePage::featurePermissionRequested, page_,
          [page = page_](const QUrl& origin, QWebEnginePage::Feature feature) {
            page->setFeaturePermission(origin, feature, QWebEnginePage::PermissionDeniedByUser);
          });
  connect(page_, &QWebEnginePage::fullScreenRequested, page_,
          [](QWebEngineFullScreenRequest request) { request.reject(); });
  connect(page_, &QWebEnginePage::loadFinished, this, &RenderedView::onLoadFinished);
  connect(page_, &QWebEnginePage::renderProcessTerminated, this, [this] {
    blankLoaded_ = false;
    // Navigating from inside the termination signal is not safe; the event loop is.
    QTimer::singleShot(0, this, &RenderedView::recoverFromRendererExit);
  });
  setPage(page_);
}

RenderedView::~RenderedView() { profile_->setUrlRequestInterceptor(nullptr); }

void RenderedView::navigateBlank() {
  blankLoaded_ = false;
  page_->setUrl(blankUrl_);
}

void RenderedView::setBodyHtml(QStringView html) {
  ++generation_;
  if (blocked_ != 0) {
    blocked_ = 0;
    emit blockedRequestCountChanged(0);
  }
  waitingHtml_ = htmlForRendering(html, capChars_);
  displayWaiting_ = true;
  displayRunning_ = false;
  // Whatever left the empty document (an about: URL Chromium committed unasked) also left its
  // policy behind; the display waits for a fresh one.
  if (blankLoaded_ && page_->url() != blankUrl_) navigateBlank();
  if (blankLoaded_) runBodyScript();
}

void RenderedView::runBodyScript() {
  // With InertBody the markup is parsed in a <template>, whose content has no browsing context:
  // nothing in it loads or acts until it is in the document, and by then the elements that
  // would schedule a refresh, set a base or open a nested document are gone. The capturing
  // listeners live in this isolated world, which runs although page scripts do not, and
  // outlast every display of the same document.
  static const QString kInert = QStringLiteral(
      "if(!window.korvaGuard){window.korvaGuard=true;"
      "var link=function(e){var t=e.target,a=t&&t.closest?t.closest('a[*|href],area[href]'):null;"
      "if(!a)return;e.preventDefault();e.stopPropagation();"
      "if(e.type==='click')console.log('%1');};"
      "window.addEventListener('click',link,true);window.addEventListener('auxclick',link,true);"
      "window.addEventListener('submit',function(e){e.preventDefault();e.stopPropagation();},"
      "true);}"
      "var t=d.createElement('template');t.innerHTML=h;var f=t.content;"
      "f.querySelectorAll('meta,base,iframe,frame,frameset,object,embed,portal,fencedframe')"
      ".forEach(function(e){e.remove();});b.replaceChildren(f);");
  const QString fill =
      (defenses_ & InertBody) ? kInert.arg(kLinkRefusedMessage) : QStringLiteral("b.innerHTML=h;");
  const QString script =
      QStringLiteral(
          "(function(h){var d=document,b=d.body;"
          "if(!b){b=d.createElement('body');d.documentElement.appendChild(b);}") +
      fill + QStringLiteral("window.scrollTo(0,0);return true;})(") +
      jsStringLiteral(waitingHtml_) + u')';
  waitingHtml_.clear();
  displayWaiting_ = false;
  displayRunning_ = true;
  const std::uint64_t generation = generation_;
  page_->runJavaScript(script, QWebEngineScript::ApplicationWorld,
                       [view = QPointer<RenderedView>(this), generation](const QVariant& result) {
                         if (view) view->onBodyScriptDone(generation, result.toBool());
                       });
}

void RenderedView::onBodyScriptDone(std::uint64_t generation, bool ok) {
  if (generation != generation_ || !displayRunning_) return;
  displayRunning_ = false;
  if (ok) {
    emit bodySet();
  } else {
    emit bodyDropped();
  }
}

void RenderedView::onLoadFinished(bool ok) {
  // Refused and aborted navigations report failure; the document shown is unchanged then.
  if (!ok || page_->url() != blankUrl_) return;
  blankLoaded_ = true;
  if (displayWaiting_) runBodyScript();
}

void RenderedView::recoverFromRendererExit() {
  ++generation_;
  if (displayRunning_) {
    displayRunning_ = false;
    emit bodyDropped();
  }
  // A display requested since the renderer ended waits for the new empty document.
  navigateBlank();
}

void RenderedView::onRequestBlocked() {
  ++blocked_;
  emit blockedRequestCountChanged(blocked_);
}

void RenderedView::contextMenuEvent(QContextMenuEvent* event) {
  // The standard menu offers reload, back, save and view-source, none of which fit here.
  QMenu menu(this);
  menu.addAction(QStringLiteral("&Kopieren"), this,
                 [this] { page_->triggerAction(QWebEnginePage::Copy); });
  menu.addAction(QStringLiteral("Alles &ausw\u00E4hlen"), this,
                 [this] { page_->triggerAction(QWebEnginePage::SelectAll); });
  menu.exec(event->globalPos());
}

}  // namespace korva
