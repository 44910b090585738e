// Entry point of the Linux edition: answers --help and --version without a display, fixes the UI
// language, creates the one main window and runs the UI thread's event loop until that window has
// closed.
#include <cstdio>
#include <cstring>
#include <memory>

#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QLibraryInfo>
#include <QTranslator>
#include <QWidget>

#include "app/main_window.h"
#include "text/ui_language.h"

namespace {

constexpr const char* usageLine = "Usage: quillmere [--help | --version]\n";

// The options are read before Qt is, so they work where no display is, and Qt's own options
// (-platform, -style...) are not taken from the command line: the environment chooses those.
// Returns the exit code when the run ends here, or -1 to show the window.
int HandleCommandLine(int argc, char** argv) {
    if (argc < 2) {
        return -1;
    }
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(usageLine, stdout);
        std::fputs("Downloads one file over HTTPS to a place you choose, in a window.\n"
                   "\n"
                   "  --help     print this text and exit\n"
                   "  --version  print the version and exit\n",
                   stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::fputs("Quillmere " QUILLMERE_VERSION "\n", stdout);
        return 0;
    }
    std::fputs(usageLine, stderr);
    return 2;
}

// The installed theme's icon where there is one, otherwise the sizes built into the program.
QIcon ApplicationIcon() {
    QIcon builtIn;
    for (const QString& name : QDir(QStringLiteral(":/icons")).entryList(QDir::Files)) {
        builtIn.addFile(QStringLiteral(":/icons/") + name);
    }
    return QIcon::fromTheme(QStringLiteral(QUILLMERE_APP_ID), builtIn);
}

} // namespace

int main(int argc, char** argv) {
    if (const int exitCode = HandleCommandLine(argc, argv); exitCode >= 0) {
        return exitCode;
    }
    // Before any window or worker exists; it never changes during the run.
    appGlobals.russianUi = RussianUiFromEnvironment();
    // Qt asks the desktop portal for its file dialog only inside a sandbox; ask everywhere, so Save
    // As is the desktop's own dialog wherever its portal runs (GNOME, KDE). Without a portal the
    // desktop's theme still decides: GTK's dialog on GTK desktops, Qt's own elsewhere. A theme the
    // user names stands.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORMTHEME")) {
        qputenv("QT_QPA_PLATFORMTHEME", "xdgdesktopportal");
    }
    QApplication application(argc, argv);
    // The desktop entry's name: Wayland compositors and X11 task bars match the window to its
    // menu entry and icon by it.
    QGuiApplication::setDesktopFileName(QStringLiteral(QUILLMERE_APP_ID));
    QApplication::setWindowIcon(ApplicationIcon());
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
