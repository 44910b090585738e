// The download's progress on the desktop's dock or task manager (KDE Plasma, Dash to Dock, Ubuntu
// Dock, elementary's dock): the launcher entry signal that these read from the session bus for the
// program's desktop entry. UI thread only: the progress timer and the outcome send it, never the
// worker, so the dock hears at most four updates a second however fast the chunks arrive.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>
#include <QWidget>

#include "app/main_window.h"
#include "core/desktop_progress.h"

namespace {

const QString EntryUri = QStringLiteral("application://" QUILLMERE_APP_ID ".desktop");

// What the dock was last told, so that an unchanged value is not sent again.
bool progressShown = false;
double progressSent = -1.0;
bool urgentSent = false;

void SendUpdate(const QVariantMap& properties) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return; // no session bus: no dock to tell
    }
    QDBusMessage update = QDBusMessage::createSignal(
        QStringLiteral("/org/quillmere/Quillmere/LauncherEntry"),
        QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"));
    update << EntryUri << properties;
    bus.send(update);
}

core::DesktopProgress CurrentProgress() {
    const bool totalKnown = appGlobals.totalKnown.load();
    return core::ComputeDesktopProgress(appGlobals.busy, appUi.lastFailed, totalKnown,
                                        appGlobals.bytesReceived.load(),
                                        totalKnown ? appGlobals.contentLength.load() : 0);
}

} // namespace

void ShowLauncherProgress() {
    const core::DesktopProgress progress = CurrentProgress();
    // The dock has no busy mark: a download of unknown length shows nothing there.
    if (progress.state != core::DesktopProgressState::Normal) {
        if (progressShown) {
            progressShown = false;
            SendUpdate({{QStringLiteral("progress-visible"), false}});
        }
        return;
    }
    const double fraction = core::DesktopProgressFraction(progress);
    if (progressShown && fraction == progressSent) {
        return;
    }
    progressShown = true;
    progressSent = fraction;
    SendUpdate(
        {{QStringLiteral("progress"), fraction}, {QStringLiteral("progress-visible"), true}});
}

void ShowLauncherOutcome(bool unseen) {
    // Every outcome takes the bar away, also where the dock may have missed an earlier update.
    QVariantMap properties{{QStringLiteral("progress-visible"), false}};
    progressShown = false;
    if (unseen && CurrentProgress().state == core::DesktopProgressState::Error) {
        properties.insert(QStringLiteral("urgent"), true);
        urgentSent = true;
    }
    SendUpdate(properties);
}

void ClearLauncherUrgent() {
    if (urgentSent) {
        urgentSent = false;
        SendUpdate({{QStringLiteral("urgent"), false}});
    }
}
