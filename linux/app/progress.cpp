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

    if (outcome->succeeded) {
        appUi.historyList->addItem(QString::fromStdString(core::FormatSessionListLine(
            outcome->targetPath, outcome->bytesWritten, appGlobals.russianUi)));
        appUi.statusLine->setText(QString::fromUtf8(Text(core::TextDownloadCompleted)));
        appGlobals.targetPath.clear();
        appGlobals.replaceExisting = false;
        appUi.targetEdit->clear();
    } else if (outcome->cancelled) {
        appUi.statusLine->setText(QString::fromUtf8(Text(core::TextDownloadCancelled)));
    } else {
        // The destination stays chosen, so Download retries the same path.
        appUi.statusLine->setText(QString::fromUtf8(Text(core::TextDownloadFailed)));
        ShowMessage(QString::fromStdString(outcome->errorText), true);
    }
    outcome.reset();

    if (appGlobals.closePending) {
        appGlobals.closePending = false;
        appUi.window->close();
    }
}
