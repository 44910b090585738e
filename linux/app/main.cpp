// Entry point of the Linux edition: fixes the UI language, creates the one main window and runs
// the UI thread's event loop until that window has closed.
#include <memory>

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <QWidget>

#include "app/main_window.h"
#include "text/ui_language.h"

int main(int argc, char** argv) {
    // Before any window or worker exists; it never changes during the run.
    appGlobals.russianUi = RussianUiFromEnvironment();
    QApplication application(argc, argv);
    InstallSessionEnd();
    // Qt's own words (the Save As dialog, its question before replacing a file) in the program's
    // language rather than the locale's; without the translation they stay English.
    QTranslator qtTexts;
    if (appGlobals.russianUi && qtTexts.load(QStringLiteral("qtbase_ru"),
                                             QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QApplication::installTranslator(&qtTexts);
    }
    std::unique_ptr<QWidget> window(CreateMainWindow());
    window->show();
    application.exec();
    return 0;
}
