// A word from the desktop when a download ends while the user works in another window: a
// notification through the desktop's notification service on the session bus, withdrawn once the
// window is active again. Its click raises the window; after a success, its "Show in folder"
// shows the file. Without a session bus or a notification service nothing is shown beyond what
// the window shows. UI thread only.
#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QObject>
#include <QWidget>

#include "app/main_window.h"

namespace {

const QString Service = QStringLiteral("org.freedesktop.Notifications");
const QString ObjectPath = QStringLiteral("/org/freedesktop/Notifications");
const QString DefaultAction = QStringLiteral("default");
const QString ShowInFolderAction = QStringLiteral("show-in-folder");

// The notification on screen (0: none), the file its "Show in folder" stands for, and whether it
// is still wanted when the service's answer with its number comes in.
uint shownId = 0;
QString shownPath;
bool notificationWanted = false;

QDBusMessage Call(const QString& method) {
    return QDBusMessage::createMethodCall(Service, ObjectPath, Service, method);
}

void Withdraw(uint id) {
    QDBusMessage close = Call(QStringLiteral("CloseNotification"));
    close << id;
    QDBusConnection::sessionBus().asyncCall(close);
}

// The service's signals reach the program through a receiver that QtDBus can call by name.
class ActionReceiver : public QObject {
    Q_OBJECT
  public slots:
    void actionInvoked(uint id, const QString& action) {
        if (id == 0 || id != shownId) {
            return; // another program's notification, or one already withdrawn
        }
        if (action == DefaultAction) {
            RaiseMainWindow();
        } else if (action == ShowInFolderAction) {
            ShowInFolder(shownPath);
        }
    }
};

void ListenForActions(QDBusConnection& bus) {
    static ActionReceiver* receiver = nullptr;
    if (receiver == nullptr) {
        // Owned by the application: the notification may be clicked after the window has gone.
        receiver = new ActionReceiver;
        receiver->setParent(QCoreApplication::instance());
        bus.connect(Service, ObjectPath, Service, QStringLiteral("ActionInvoked"), receiver,
                    SLOT(actionInvoked(uint, QString)));
    }
}

} // namespace

void NotifyOutcome(const QString& summary, const QString& body, const char* category,
                   const QString& successPath) {
    QApplication::alert(appUi.window);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    ListenForActions(bus);
    QStringList actions{DefaultAction, QString::fromUtf8(core::TextAppTitle)};
    if (!successPath.isEmpty()) {
        actions << ShowInFolderAction << QString::fromUtf8(Text(core::TextShowInFolder));
    }
    const QVariantMap hints{
        {QStringLiteral("desktop-entry"), QStringLiteral(QUILLMERE_APP_ID)},
        {QStringLiteral("category"), QString::fromUtf8(category)},
    };
    QDBusMessage notify = Call(QStringLiteral("Notify"));
    // A notification still on screen is replaced rather than joined by another.
    notify << QString::fromUtf8(core::TextAppTitle) << shownId << QStringLiteral(QUILLMERE_APP_ID)
           << summary << body << actions << hints << -1;
    notificationWanted = true;
    shownPath = successPath;
    auto* watcher =
        new QDBusPendingCallWatcher(bus.asyncCall(notify), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                     [](QDBusPendingCallWatcher* answered) {
                         answered->deleteLater();
                         const QDBusPendingReply<uint> reply = *answered;
                         if (reply.isError()) {
                             return; // no notification service: the window shows the outcome
                         }
                         if (notificationWanted) {
                             shownId = reply.value();
                         } else {
                             Withdraw(reply.value()); // the user came back meanwhile
                         }
                     });
}

void RaiseMainWindow() {
    appUi.window->setWindowState(appUi.window->windowState() & ~Qt::WindowMinimized);
    appUi.window->show();
    appUi.window->raise();
    appUi.window->activateWindow();
}

// Back in the window, the user sees the outcome there: the notification and the dock's urgent mark
// go.
void OnWindowActivated() {
    notificationWanted = false;
    if (shownId != 0) {
        Withdraw(shownId);
        shownId = 0;
    }
    ClearLauncherUrgent();
}

#include "notification.moc"
