// The start-up yardstick for the Linux edition: the least a Qt Widgets program that shows text
// does before its window is visible (one top-level widget of the main window's size and title
// with one label, shown), then the event loop until the window is closed. The label matters: a
// window without text never starts the font system, which every real program pays for.
#include <QApplication>
#include <QLabel>
#include <QWidget>

#include "app/main_window.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Quillmere"));
    window.setFixedSize(ClientWidth, ClientHeight);
    QLabel label(QStringLiteral("Quillmere"), &window);
    label.move(20, 18);
    window.show();
    return application.exec();
}
