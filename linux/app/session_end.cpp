// The end of the user's session while a download runs: SIGTERM (logout, systemd), SIGINT and
// SIGHUP end the program as closing the window does, only with the signal's own status; losing the
// display still lets the worker remove its staging file; and while a download runs the desktop is
// asked, through its portal, to hold logout and suspend. UI thread only, except the signal handler
// (any thread; it only writes the signal's number to a pipe) and NoteOutcomeHandedOver (the
// worker). The engine is reached only through the cancel flag, as Cancel reaches it.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QSocketNotifier>
#include <QTimer>

#include "app/main_window.h"

namespace {

// How long the end of a session waits for a cancelled download to remove its staging file. A
// worker blocked in the network (at most its 15-second time-outs) is not waited for that long.
constexpr int EndWaitMs = 5000;
constexpr int EndingSignals[] = {SIGTERM, SIGINT, SIGHUP};

int signalPipe[2] = {-1, -1};
int endingSignal = 0; // the first signal that asked the program to end; 0 while none has

// Workers started and outcomes handed over: equal when no worker is left to wait for. The worker
// may hand over before the UI thread counts its start, so only the two totals are compared.
std::atomic<unsigned> workersStarted{0};
std::atomic<unsigned> outcomesHandedOver{0};

void OnEndingSignal(int number) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    if (write(signalPipe[1], &byte, 1) < 0) {
        // A full pipe already holds a signal that ends the program.
    }
    errno = savedErrno;
}

[[noreturn]] void EndWithSignal(int number) {
    // The status the signal itself gives: "killed by SIGTERM", not an exit code.
    struct sigaction defaults = {};
    defaults.sa_handler = SIG_DFL;
    sigaction(number, &defaults, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, number);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(number);
    _exit(128 + number);
}

void OnSignalReadable() {
    unsigned char byte = 0;
    int first = 0;
    while (read(signalPipe[0], &byte, 1) == 1) {
        first = first != 0 ? first : byte;
    }
    // A session manager sends SIGHUP right after SIGTERM: the first signal's status stands and
    // the wait it began is not cut short.
    if (first == 0 || endingSignal != 0) {
        return;
    }
    endingSignal = first;
    if (!appGlobals.busy) {
        EndWithSignal(endingSignal);
    }
    // As closing the window: cancel, and end once the outcome is in (SessionBusyChanged).
    OnCloseRequest();
    QTimer::singleShot(EndWaitMs, [] { EndWithSignal(endingSignal); });
}

// The display can go away under the program (the X server ends, the connection breaks); Qt then
// ends the process with exit(). A running download is cancelled and its worker given the same
// time to remove its staging file.
void WaitForWorkerAtExit() {
    if (outcomesHandedOver.load() == workersStarted.load()) {
        return;
    }
    appGlobals.cancelRequested.exchange(true);
    for (int waited = 0; waited < EndWaitMs && outcomesHandedOver.load() != workersStarted.load();
         waited += 10) {
        usleep(10000);
    }
}

// The desktop's hold on logout and suspend: the portal's request handle while it holds, and a
// count of downloads so that an answer arriving after its download ended is withdrawn at once.
constexpr unsigned InhibitLogout = 1;
constexpr unsigned InhibitSuspend = 4;
const QString PortalService = QStringLiteral("org.freedesktop.portal.Desktop");
QString holdHandle;
unsigned holdGeneration = 0;
bool holdWanted = false;

void WithdrawHold(const QString& handle) {
    QDBusConnection::sessionBus().asyncCall(QDBusMessage::createMethodCall(
        PortalService, handle, QStringLiteral("org.freedesktop.portal.Request"),
        QStringLiteral("Close")));
}

void AskDesktopToHold() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return; // no session bus: the download runs without the hold
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        PortalService, QStringLiteral("/org/freedesktop/portal/desktop"),
        QStringLiteral("org.freedesktop.portal.Inhibit"), QStringLiteral("Inhibit"));
    call << QString() << (InhibitLogout | InhibitSuspend)
         << QVariantMap{
                {QStringLiteral("reason"), QString::fromUtf8(Text(core::TextDownloadInProgress))}};
    // Owned by the application, not the window: the answer may come after the window has gone.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished,
                     [generation = holdGeneration](QDBusPendingCallWatcher* answered) {
                         answered->deleteLater();
                         const QDBusPendingReply<QDBusObjectPath> reply = *answered;
                         if (reply.isError()) {
                             return; // no portal, or it refused: nothing to withdraw
                         }
                         const QString handle = reply.value().path();
                         if (holdWanted && generation == holdGeneration) {
                             holdHandle = handle;
                         } else {
                             WithdrawHold(handle);
                         }
                     });
}

} // namespace

void InstallSessionEnd() {
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return; // the signals keep their default action
    }
    auto* notifier =
        new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] { OnSignalReadable(); });
    struct sigaction action = {};
    action.sa_handler = OnEndingSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (const int number : EndingSignals) {
        // A signal ignored from the start (nohup ignores SIGHUP) stays ignored.
        struct sigaction before = {};
        if (sigaction(number, nullptr, &before) == 0 && before.sa_handler != SIG_IGN) {
            sigaction(number, &action, nullptr);
        }
    }
    std::atexit(WaitForWorkerAtExit);
}

void SessionBusyChanged(bool busy) {
    if (busy) {
        workersStarted.fetch_add(1);
    } else if (endingSignal != 0) {
        // The outcome is in and the staging file gone: the signal may now end the program.
        EndWithSignal(endingSignal);
    }
    holdWanted = busy;
    ++holdGeneration;
    if (busy) {
        AskDesktopToHold();
    } else if (!holdHandle.isEmpty()) {
        WithdrawHold(holdHandle);
        holdHandle.clear();
    }
}

void NoteOutcomeHandedOver() {
    outcomesHandedOver.fetch_add(1);
}
