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
#include <functional>
#include <utility>

namespace korva {

namespace {

const QUrl kBlankUrl(QStringLiteral("about:blank"));

// Refuses every navigation but the view's own to about:blank, and every new window: a
// captured page must not take the view anywhere else.
class BlankOnlyPage : public QWebEnginePage {
 public:
  using QWebEnginePage::QWebEnginePage;

 protected:
  bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
    return isMainFrame && type == NavigationTypeTyped && url == kBlankUrl;
  }
  QWebEnginePage* createWindow(WebWindowType) override { return nullptr; }
  QStringList chooseFiles(FileSelectionMode, const QStringList&, const QStringList&) override {
    return {};
  }
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                const QString&) override {}
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

void lockDown(QWebEngineSettings* s) {
  using S = QWebEngineSettings;
  s->setAttribute(S::JavascriptEnabled, false);
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

QWebEngineProfile* makeProfile() {
  auto* profile = new QWebEngineProfile();  // no storage name: off the record
  profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
  profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
  profile->setSpellCheckEnabled(false);
  profile->cookieStore()->setCookieFilter(
      [](const QWebEngineCookieStore::FilterRequest&) { return false; });
  QObject::connect(profile, &QWebEngineProfile::downloadRequested,
                   [](QWebEngineDownloadRequest* download) { download->cancel(); });
  lockDown(profile->settings());
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
  if (!runningAsRoot) return flags;
  const QList<QByteArray> words = flags.simplified().split(' ');
  if (words.contains(QByteArrayLiteral("--no-sandbox"))) return flags;
  return flags.trimmed().isEmpty() ? QByteArrayLiteral("--no-sandbox")
                                   : flags.trimmed() + " --no-sandbox";
}

void prepareWebEngineEnvironment() {
  const bool root = ::geteuid() == 0;
  const QByteArray before = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
  const QByteArray after = chromiumFlagsFor(before, root);
  if (after != before) qputenv("QTWEBENGINE_CHROMIUM_FLAGS", after);
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

QString htmlForRendering(const QString& html, qsizetype capChars) {
  if (html.size() <= capChars) return html;
  qsizetype cut = capChars > 0 ? html.lastIndexOf(u'<', capChars - 1) : -1;
  if (cut < 0) {
    cut = std::max<qsizetype>(capChars, 0);
    if (cut > 0 && html.at(cut - 1).isHighSurrogate()) --cut;
  }
  return notice(capChars) + html.left(cut);
}

RenderedView::RenderedView(QWidget* parent) : QWebEngineView(parent) {
  profile_ = makeProfile();
  profile_->setUrlRequestInterceptor(new RequestBlocker(
      this, [this] { onRequestBlocked(); }, profile_));
  page_ = new BlankOnlyPage(profile_, this);
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
  page_->setUrl(kBlankUrl);
}

void RenderedView::setBodyHtml(const QString& html) {
  ++generation_;
  if (blocked_ != 0) {
    blocked_ = 0;
    emit blockedRequestCountChanged(0);
  }
  waitingHtml_ = htmlForRendering(html, capChars_);
  displayWaiting_ = true;
  displayRunning_ = false;
  if (blankLoaded_) runBodyScript();
}

void RenderedView::runBodyScript() {
  const QString script = QStringLiteral(
                             "(function(h){var d=document,b=d.body;"
                             "if(!b){b=d.createElement('body');d.documentElement.appendChild(b);}"
                             "b.innerHTML=h;window.scrollTo(0,0);return true;})(") +
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
  if (!ok || page_->url() != kBlankUrl) return;
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
