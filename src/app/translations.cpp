#include "app/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace korva {

bool installGermanTranslations() {
  const QLocale german(QLocale::German, QLocale::Germany);
  QLocale::setDefault(german);
  // Owned by the application, so it lives exactly as long as the texts it translates.
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(german, QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

}  // namespace korva
