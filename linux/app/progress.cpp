// Live progress in the status line and the display of each finished download. UI thread only:
// the timer reads the worker's counters without locking, and the outcome arrives as a queued call.
#include <memory>

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QWidget>

#include "app/main_window.h"
#include "core/progress_text.h"
#include "core/session_entry.h"

void OnProgressTimer() {
    if (!appGlobals.busy) {
        return;
    }
    // The dock follows the bytes also while cancelling; the outcome takes its bar away.
    ShowLauncherProgress();
    // Once cancelling, the status line keeps saying so until the outcome arrives.
    if (appGlobals.cancelRequested.load()) {
        return;
    }
    const std::uint64_t received = appGlobals.bytesReceived.load();
    const bool totalKnown = appGlobals.totalKnown.load();
    const std::uint64_t total = totalKnown ? appGlobals.contentLength.load() : 0;
    appUi.statusLine->setText(QString::fromStdString(
        core::ComposeProgressText(appGlobals.russianUi, received, totalKnown, total)));
}

void OnDownloadDone(DownloadOutcome* handedOver) {
    std::unique_ptr<DownloadOutcome> outcome(handedOver);
    // First, so that no later tick can overwrite the outcome's status text.
    SetBusy(false);
    // Asked before the error box, which takes the activation itself; a window that is closing has
    // no one to call back.
    const bool unseen = !appUi.window->isActiveWindow() && !appGlobals.closePending;
    const QString path = QString::fromStdString(outcome->targetPath);
    QString body = QString::fromStdString(core::FileNameOfPath(outcome->targetPath));
    const char* category = "transfer";
    appUi.lastFailed = !outcome->succeeded && !outcome->cancelled;

    if (outcome->succeeded) {
        AddSessionLine(QString::fromStdString(core::FormatSessionListLine(
                           outcome->targetPath, outcome->bytesWritten, appGlobals.russianUi)),
                       path);
        appUi.statusLine->setText(QString::fromUtf8(Text(core::TextDownloadCompleted)));
        appGlobals.targetPath.clear();
        appGlobals.replaceExisting = false;
        appUi.targetEdit->clear();
        category = "transfer.complete";
    } else if (outcome->cancelled) {
        appUi.statusLine->setText(QString::fromUtf8(Text(core::TextDownloadCancelled)));
    } else {
        appUi.statusLine->setText(QString::fromUtf8(Text(core::TextDownloadFailed)));
        body = QString::fromStdString(outcome->errorText);
        category = "transfer.error";
    }
    ShowLauncherOutcome(unseen);
    if (unseen) {
        NotifyOutcome(appUi.statusLine->text(), body, category,
                      outcome->succeeded ? path : QString());
    }
    if (appUi.lastFailed) {
        // The destination stays chosen, so Download retries the same path.
        ShowMessage(body, true);
    }
    outcome.reset();

    if (appGlobals.closePending) {
        appGlobals.closePending = false;
        appUi.window->close();
    }
}
