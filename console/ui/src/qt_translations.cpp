// Installs Qt's zh_CN catalogue once per application.
#include "consoleui/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace consoleui {

bool installQtTranslations(QCoreApplication& app) {
    // Calendars, date edits and file dialogs take month and day names from the default
    // locale, which is the environment's (English under C.UTF-8) unless set here.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    auto* translator = new QTranslator(&app);
    if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                          QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

}  // namespace consoleui
