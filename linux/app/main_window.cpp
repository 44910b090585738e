// The main window and its layout, fitted once to the font it starts with. UI thread only.
#include "app/main_window.h"

#include <algorithm>
#include <cstdint>

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "core/progress_text.h"

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
        if (OnSessionListKey(event)) {
            return;
        }
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
    void changeEvent(QEvent* event) override {
        if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
            OnWindowActivated();
        }
        QWidget::changeEvent(event);
    }
};

QLabel* MakeLabel(QWidget* parent, const char* text) {
    auto* label = new QLabel(QString::fromUtf8(text), parent);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QPushButton* MakeButton(QWidget* parent, const char* text) {
    auto* button = new QPushButton(QString::fromUtf8(text), parent);
    // Enter presses the focused button, as on Windows.
    button->setAutoDefault(true);
    return button;
}

// What a one-line text takes in a control's font, drawn as a label draws it.
QSize TextSize(const QWidget* control, const QString& text) {
    return control->fontMetrics()
        .boundingRect(QRect(0, 0, QWIDGETSIZE_MAX, QWIDGETSIZE_MAX), Qt::AlignLeft | Qt::AlignTop,
                      text)
        .size();
}

// The controls the layout places, in creation order.
struct Controls {
    QLabel* linkLabel;
    QLineEdit* urlEdit;
    QLabel* targetLabel;
    QLineEdit* targetEdit;
    QPushButton* browseButton;
    QPushButton* downloadButton;
    QPushButton* cancelButton;
    QLabel* statusLine;
    QLabel* historyLabel;
    QListWidget* historyList;
};

// The Windows edition's arrangement, in its client pixels (the numbers below), fitted to the
// desktop's font: every control is at least its Windows size and grows where its text in its own
// font needs more (labels by the text's extent, buttons and edit boxes by the style's size hint
// for their caption and font, the list to eight lines of text); the margins and the gaps between
// controls stay as they are, so whatever lies below or right of a grown control moves with it.
// Where the Windows pixels suffice, as at the usual desktop sizes of 9 to 11 pt, the window is
// the Windows edition's, pixel for pixel. The window's fixed size is the sum.
QSize LayOut(const Controls& c) {
    constexpr int left = 20;
    // The status line is as wide as its longest text, a progress with the largest counts.
    const QString longestStatus = QString::fromStdString(
        core::ComposeProgressText(appGlobals.russianUi, UINT64_MAX, true, UINT64_MAX));
    const QSize browse = c.browseButton->sizeHint().expandedTo({115, 30});
    const QSize command =
        c.downloadButton->sizeHint().expandedTo(c.cancelButton->sizeHint()).expandedTo({130, 33});
    // The column the boxes, the status line and the list fill; the two upper labels reach 10
    // pixels further. The destination box keeps its Windows width beside a wider Browse.
    const int column = std::max({650, TextSize(c.linkLabel, c.linkLabel->text()).width() - 10,
                                 TextSize(c.targetLabel, c.targetLabel->text()).width() - 10,
                                 TextSize(c.statusLine, c.statusLine->text()).width(),
                                 TextSize(c.statusLine, longestStatus).width(),
                                 TextSize(c.historyLabel, c.historyLabel->text()).width(),
                                 525 + 10 + browse.width(), 2 * command.width() + 10});
    const auto labelHeight = [](QLabel* label, int windowsHeight) {
        return std::max(windowsHeight, TextSize(label, label->text()).height());
    };
    const auto editHeight = [](QLineEdit* edit) { return std::max(27, edit->sizeHint().height()); };

    int y = 18;
    int height = labelHeight(c.linkLabel, 20);
    c.linkLabel->setGeometry(left, y, column + 10, height);
    y += height + 2;
    height = editHeight(c.urlEdit);
    c.urlEdit->setGeometry(left, y, column, height);
    y += height + 13;
    height = labelHeight(c.targetLabel, 20);
    c.targetLabel->setGeometry(left, y, column + 10, height);
    y += height;
    // The destination box and Browse share a row, centred on each other, Browse at the right.
    height = editHeight(c.targetEdit);
    const int row = std::max(height, browse.height());
    const int browseX = left + column - browse.width();
    c.targetEdit->setGeometry(left, y + (row - height + 1) / 2, browseX - 10 - left, height);
    c.browseButton->setGeometry(browseX, y + (row - browse.height() + 1) / 2, browse.width(),
                                browse.height());
    y += row + 16;
    c.downloadButton->setGeometry(left, y, command.width(), command.height());
    c.cancelButton->setGeometry(left + command.width() + 10, y, command.width(), command.height());
    y += command.height() + 11;
    height = std::max({22, TextSize(c.statusLine, c.statusLine->text()).height(),
                       TextSize(c.statusLine, longestStatus).height()});
    c.statusLine->setGeometry(left, y, column, height);
    y += height + 13;
    height = labelHeight(c.historyLabel, 20);
    c.historyLabel->setGeometry(left, y, column, height);
    y += height + 3;
    height = std::max(150, 8 * c.historyList->fontMetrics().lineSpacing() +
                               2 * c.historyList->frameWidth());
    c.historyList->setGeometry(left, y, column, height);
    y += height + 28;
    return {left + column + 34, y};
}

} // namespace

QWidget* CreateMainWindow() {
    auto* window = new MainWindow;
    appUi = AppUi{};
    appUi.window = window;
    window->setWindowTitle(QString::fromUtf8(core::TextAppTitle));
    window->setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    Controls controls{};
    controls.linkLabel = MakeLabel(window, Text(core::TextUrlLabel));
    appUi.urlEdit = controls.urlEdit = new QLineEdit(window);
    controls.targetLabel = MakeLabel(window, Text(core::TextSaveAsLabel));
    appUi.targetEdit = controls.targetEdit = new QLineEdit(window);
    appUi.targetEdit->setReadOnly(true);
    // Selectable and copyable with the mouse, but not a Tab stop.
    appUi.targetEdit->setFocusPolicy(Qt::ClickFocus);
    appUi.browseButton = controls.browseButton = MakeButton(window, Text(core::TextBrowseButton));
    appUi.downloadButton = controls.downloadButton =
        MakeButton(window, Text(core::TextDownloadButton));
    appUi.downloadButton->setDefault(true);
    appUi.cancelButton = controls.cancelButton = MakeButton(window, Text(core::TextCancelButton));
    appUi.cancelButton->setEnabled(false);
    appUi.statusLine = controls.statusLine = MakeLabel(window, "");
    MarkStatusLine(appUi.statusLine);
    appUi.statusLine->setText(QString::fromUtf8(Text(core::TextReady)));
    controls.historyLabel = MakeLabel(window, Text(core::TextHistoryLabel));
    appUi.historyList = controls.historyList = new QListWidget(window);
    appUi.historyList->setSortingEnabled(false);
    appUi.historyList->setFocusPolicy(Qt::ClickFocus);
    SetUpSessionList();
    // Screen readers name each box by the label above it; the labels have no mnemonic, so the
    // window looks and types as before.
    controls.linkLabel->setBuddy(appUi.urlEdit);
    controls.targetLabel->setBuddy(appUi.targetEdit);
    controls.historyLabel->setBuddy(appUi.historyList);
    appUi.historyList->setAccessibleName(controls.historyLabel->text());
    // Not resizable: the layout is computed once, for the font the window starts with.
    window->setFixedSize(LayOut(controls));

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
