// Entry point of the Linux edition: fixes the UI language, creates the one main window and runs
// the UI thread's event loop until that window has closed.
#include <memory>

#include <QApplication>
#include <QWidget>

#include "app/main_window.h"
#include "text/ui_language.h"

int main(int argc, char** argv) {
    // Before any window or worker exists; it never changes during the run.
    appGlobals.russianUi = RussianUiFromEnvironment();
    QApplication application(argc, argv);
    std::unique_ptr<QWidget> window(CreateMainWindow());
    window->show();
    application.exec();
    return 0;
}
