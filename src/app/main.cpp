// Korvashimtale: started in a folder with "HtmlRequest.log" and "HtmlResponse.log".
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>

#include "app/frmHaupt.h"
#include "app/translations.h"
#include "view/rendered_view.h"

namespace {

int gSignalPipe[2] = {-1, -1};

void onTerminate(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(gSignalPipe[1], &byte, 1);
}

// SIGTERM (the desktop's log-out) and SIGHUP become a close request, so that the deferred close
// stops a build and saves the index instead of the process ending with it unsaved.
void closeOnTermination(QWidget& window) {
  if (::socketpair(AF_UNIX, SOCK_STREAM, 0, gSignalPipe) != 0) return;
  auto* notifier = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, &window);
  QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
    char byte;
    [[maybe_unused]] const ssize_t got = ::read(gSignalPipe[0], &byte, 1);
    window.close();
  });
  struct sigaction action {};
  action.sa_handler = onTerminate;
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGHUP, &action, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  korva::prepareWebEngineEnvironment();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Korvashimtale"));
  QApplication::setDesktopFileName(QStringLiteral("korvashimtale"));
  korva::installGermanTranslations();
  korva::frmHaupt window(".");
  closeOnTermination(window);
  window.Form_Load();
  // A close that completed during start-up leaves no window for the event loop to wait on.
  if (!window.isVisible() && window.UnloadRequested()) return 0;
  return app.exec();
}
