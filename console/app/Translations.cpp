#include "app/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

bool InstallQtTranslations() {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return false;
  static QTranslator* installed = nullptr;
  if (installed != nullptr) return true;
  auto* translator = new QTranslator(app);
  if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return false;
  }
  installed = translator;
  return true;
}
