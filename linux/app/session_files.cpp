// The files behind the session list: each line keeps the path of the file its download committed,
// in memory for the run only. Activating a line (double-click, Enter) opens the file with the
// desktop's default program; its context menu (right-click, the menu key, Shift+F10) offers the
// commands both editions share; "Show in folder" asks the desktop's file manager to show the file
// selected, or opens its folder where no file manager answers. UI thread only.
#include <sys/stat.h>

#include <cerrno>

#include <QAction>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QCoreApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QListWidget>
#include <QMenu>
#include <QUrl>

#include "app/main_window.h"
#include "core/session_files.h"
#include "download/system_error.h"

namespace {

constexpr int PathRole = Qt::UserRole;

// The file must still be where the download put it: moved or removed since, the error box says
// why, in the system's words, and the line stays.
bool StillThere(const QString& path) {
    struct stat status;
    if (stat(QFile::encodeName(path).constData(), &status) == 0) {
        return true;
    }
    const int error = errno;
    ShowMessage(QString::fromStdString(FormatSystemError(SystemError(error), appGlobals.russianUi)),
                true);
    return false;
}

void OpenFile(const QString& path) {
    if (StillThere(path)) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    }
}

void RunCommand(core::SessionFileCommand command, const QString& path) {
    switch (command) {
    case core::SessionFileCommand::Open:
        OpenFile(path);
        break;
    case core::SessionFileCommand::ShowInFolder:
        ShowInFolder(path);
        break;
    }
}

QString PathOf(const QListWidgetItem* item) {
    return item->data(PathRole).toString();
}

} // namespace

void SetUpSessionList() {
    QListWidget* list = appUi.historyList;
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(list, &QListWidget::customContextMenuRequested, list,
                     [](const QPoint& position) { ShowSessionMenu(position); });
    QObject::connect(list, &QListWidget::itemActivated, list, [](QListWidgetItem* item) {
        RunCommand(core::SessionActivateCommand, PathOf(item));
    });
}

bool OnSessionListKey(const QKeyEvent* event) {
    const QListWidget* list = appUi.historyList;
    const QListWidgetItem* current = list->currentItem();
    if (appUi.window->focusWidget() != list || current == nullptr) {
        return false;
    }
    // Enter has opened the line's file already (itemActivated); it is not Download here.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        return true;
    }
    // Shift+F10 is the menu key of keyboards without one; Qt itself turns only the menu key into
    // a context menu.
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        ShowSessionMenu(list->visualItemRect(current).center());
        return true;
    }
    return false;
}

void AddSessionLine(const QString& line, const QString& path) {
    auto* item = new QListWidgetItem(line);
    item->setData(PathRole, path);
    appUi.historyList->addItem(item);
}

void ShowSessionMenu(const QPoint& position) {
    const QListWidgetItem* item = appUi.historyList->itemAt(position);
    if (item == nullptr) {
        return; // below the last line
    }
    const QString path = PathOf(item);
    QMenu menu(appUi.historyList);
#define QUILLMERE_ADD_ITEM(command, text)                                                          \
    menu.addAction(QString::fromUtf8(Text(core::text)))                                            \
        ->setData(static_cast<int>(core::SessionFileCommand::command));
    QUILLMERE_SESSION_MENU(QUILLMERE_ADD_ITEM)
#undef QUILLMERE_ADD_ITEM
    // What a double-click does is the menu's default, as file managers mark it.
    for (QAction* action : menu.actions()) {
        if (action->data().toInt() == static_cast<int>(core::SessionActivateCommand)) {
            menu.setDefaultAction(action);
        }
    }
    const QAction* chosen = menu.exec(appUi.historyList->viewport()->mapToGlobal(position));
    if (chosen != nullptr) {
        RunCommand(static_cast<core::SessionFileCommand>(chosen->data().toInt()), path);
    }
}

void ShowInFolder(const QString& path) {
    if (!StillThere(path)) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)} << QString();
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(path).absolutePath());
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        QDesktopServices::openUrl(folder);
        return;
    }
    // Owned by the application: the answer may come after the window has gone.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                     [folder](QDBusPendingCallWatcher* answered) {
                         answered->deleteLater();
                         if (answered->isError()) {
                             QDesktopServices::openUrl(folder);
                         }
                     });
}
