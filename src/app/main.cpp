// Korvashimtale: started in a folder with "HtmlRequest.log" and "HtmlResponse.log".
#include <QApplication>

#include "app/frmHaupt.h"
#include "app/translations.h"
#include "view/rendered_view.h"

int main(int argc, char** argv) {
  korva::prepareWebEngineEnvironment();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Korvashimtale"));
  QApplication::setDesktopFileName(QStringLiteral("korvashimtale"));
  korva::installGermanTranslations();
  korva::frmHaupt window(".");
  window.Form_Load();
  // A close that completed during start-up leaves no window for the event loop to wait on.
  if (!window.isVisible() && window.UnloadRequested()) return 0;
  return app.exec();
}
