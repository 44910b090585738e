// The main window and the fixed layout it is built with. UI thread only.
#include "app/main_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

AppUi appUi;

namespace {

// The one window type: it routes closing and a stray Enter to the commands.
class MainWindow : public QWidget {
  protected:
    void closeEvent(QCloseEvent* event) override {
        if (OnCloseRequest()) {
            event->accept();
        } else {
            event->ignore();
        }
    }
    // Keys no control took arrive here: Enter in the URL box, the destination box or the list.
    // A focused button takes Enter itself. Escape is Cancel, and never closes the window.
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            OnEnterKey();
            return;
        }
        if (event->key() == Qt::Key_Escape) {
            OnCancelCommand();
            return;
        }
        QWidget::keyPressEvent(event);
    }
};

template <typename T> T* Place(T* control, int x, int y, int width, int height) {
    control->setGeometry(x, y, width, height);
    return control;
}

QLabel* MakeLabel(QWidget* parent, const char* text, int x, int y, int width, int height) {
    auto* label = Place(new QLabel(QString::fromUtf8(text), parent), x, y, width, height);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QPushButton* MakeButton(QWidget* parent, const char* text, int x, int y, int width, int height) {
    auto* button = Place(new QPushButton(QString::fromUtf8(text), parent), x, y, width, height);
    // Enter presses the focused button, as on Windows.
    button->setAutoDefault(true);
    return button;
}

} // namespace

// Positions are client pixels used as they stand: the window has a fixed size, so this is the
// only layout there is.
QWidget* CreateMainWindow() {
    auto* window = new MainWindow;
    appUi = AppUi{};
    appUi.window = window;
    window->setWindowTitle(QString::fromUtf8(core::TextAppTitle));
    window->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    window->setFixedSize(ClientWidth, ClientHeight);

    MakeLabel(window, Text(core::TextUrlLabel), 20, 18, 660, 20);
    appUi.urlEdit = Place(new QLineEdit(window), 20, 40, 650, 27);
    MakeLabel(window, Text(core::TextSaveAsLabel), 20, 80, 660, 20);
    appUi.targetEdit = Place(new QLineEdit(window), 20, 102, 525, 27);
    appUi.targetEdit->setReadOnly(true);
    // Selectable and copyable with the mouse, but not a Tab stop.
    appUi.targetEdit->setFocusPolicy(Qt::ClickFocus);
    appUi.browseButton = MakeButton(window, Text(core::TextBrowseButton), 555, 100, 115, 30);
    appUi.downloadButton = MakeButton(window, Text(core::TextDownloadButton), 20, 146, 130, 33);
    appUi.downloadButton->setDefault(true);
    appUi.cancelButton = MakeButton(window, Text(core::TextCancelButton), 160, 146, 130, 33);
    appUi.cancelButton->setEnabled(false);
    appUi.statusLine = MakeLabel(window, Text(core::TextReady), 20, 190, 650, 22);
    MakeLabel(window, Text(core::TextHistoryLabel), 20, 225, 650, 20);
    appUi.historyList = Place(new QListWidget(window), 20, 248, 650, 150);
    appUi.historyList->setSortingEnabled(false);
    appUi.historyList->setFocusPolicy(Qt::ClickFocus);

    QWidget::setTabOrder(appUi.urlEdit, appUi.browseButton);
    QWidget::setTabOrder(appUi.browseButton, appUi.downloadButton);
    QWidget::setTabOrder(appUi.downloadButton, appUi.cancelButton);
    appUi.urlEdit->setFocus();

    QObject::connect(appUi.browseButton, &QPushButton::clicked, window, [] { OnBrowseCommand(); });
    QObject::connect(appUi.downloadButton, &QPushButton::clicked, window,
                     [] { OnDownloadCommand(); });
    QObject::connect(appUi.cancelButton, &QPushButton::clicked, window, [] { OnCancelCommand(); });

    // Four times a second for the whole life of the window; it has work only while busy.
    auto* timer = new QTimer(window);
    QObject::connect(timer, &QTimer::timeout, window, [] { OnProgressTimer(); });
    timer->start(250);
    return window;
}
