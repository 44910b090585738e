// What the user can do with the main window: choose the destination, start a download, cancel it,
// and close the window, also while a download runs. UI thread only; the download itself runs on
// the worker thread started here and reports back through PostDownloadDone.
#include <pthread.h>
#include <sys/stat.h>

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStandardPaths>
#include <QWidget>

#include "app/main_window.h"
#include "download/download_worker.h"

namespace {

void SetStatus(const char* text) {
    appUi.statusLine->setText(QString::fromUtf8(text));
}

void RequestCancel() {
    appGlobals.cancelRequested.exchange(true);
    SetStatus(Text(core::TextCancelling));
}

} // namespace

void ShowMessage(const QString& text, bool isError) {
    QMessageBox box(isError ? QMessageBox::Critical : QMessageBox::Information,
                    QString::fromUtf8(core::TextAppTitle), text, QMessageBox::Ok, appUi.window);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void OnBrowseCommand() {
    if (!appGlobals.busy) {
        BrowseForTarget();
    }
}

void OnDownloadCommand() {
    if (!appGlobals.busy) {
        StartDownload();
    }
}

void OnCancelCommand() {
    if (appGlobals.busy) {
        RequestCancel();
    }
}

void OnEnterKey() {
    OnDownloadCommand();
}

void BrowseForTarget() {
    // Always the same proposal, never the last choice, in the user's Downloads folder (the XDG
    // user folder, whatever its name in the user's language), or at home where that folder does
    // not exist; the dialog asks before an existing file may be replaced. Where the desktop's
    // portal runs, Qt hands all of this to the desktop's own dialog.
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        folder = QDir::homePath();
    }
    const QString filter = QString::fromUtf8(Text(core::TextAllFilesFilter)) + " (*)";
    const QString chosen = QFileDialog::getSaveFileName(
        appUi.window, QString(), folder + QStringLiteral("/download.bin"), filter);
    if (chosen.isEmpty()) {
        return;
    }
    appGlobals.targetPath = chosen.toStdString();
    // Anything at the path now, a dangling link included, is what the user agreed to replace.
    struct stat status;
    appGlobals.replaceExisting = lstat(appGlobals.targetPath.c_str(), &status) == 0;
    appUi.targetEdit->setText(chosen);
}

void StartDownload() {
    std::string url = appUi.urlEdit->text().toStdString();
    if (url.empty() || appGlobals.targetPath.empty()) {
        ShowMessage(QString::fromUtf8(Text(core::TextEnterLinkAndTarget)), false);
        return;
    }

    appGlobals.cancelRequested.exchange(false);
    appGlobals.bytesReceived.exchange(0);
    appGlobals.contentLength.exchange(0);
    appGlobals.totalKnown.exchange(false);

    auto* job = new DownloadJob{appUi.window, std::move(url), appGlobals.targetPath,
                                appGlobals.replaceExisting};
    pthread_t thread;
    if (pthread_create(&thread, nullptr, DownloadWorker, job) != 0) {
        delete job;
        ShowMessage(QString::fromUtf8(Text(core::TextCouldNotStart)), true);
        return;
    }
    // Nothing ever waits for the worker: it reports only through PostDownloadDone.
    pthread_detach(thread);
    SetBusy(true);
    SetStatus(Text(core::TextConnecting));
}

void SetBusy(bool flag) {
    QWidget* focus = appUi.window->focusWidget();
    const bool focusDisabledNow =
        focus == appUi.urlEdit || focus == appUi.browseButton || focus == appUi.downloadButton;
    if (flag) {
        // The control that had the keyboard as the download started gets it back at the end.
        appUi.focusAfterBusy = focusDisabledNow ? focus : appUi.urlEdit;
    }

    appGlobals.busy = flag;
    if (flag) {
        appUi.lastFailed = false;
    }
    appUi.urlEdit->setEnabled(!flag);
    appUi.browseButton->setEnabled(!flag);
    appUi.downloadButton->setEnabled(!flag);
    appUi.cancelButton->setEnabled(flag);

    // The keyboard never rests on a disabled control; a closing window takes no input at all.
    const bool focusLost = flag ? focusDisabledNow : focus == appUi.cancelButton;
    if (focusLost && !appGlobals.closePending) {
        (flag ? appUi.cancelButton : appUi.focusAfterBusy)->setFocus();
    }
    SessionBusyChanged(flag);
}

bool OnCloseRequest() {
    if (!appGlobals.busy) {
        return true;
    }
    // The window stays until the outcome has been shown; it takes no more input meanwhile.
    appGlobals.cancelRequested.exchange(true);
    appGlobals.closePending = true;
    appUi.window->setEnabled(false);
    SetStatus(Text(core::TextCancelling));
    return false;
}

// The worker's last act: the outcome travels to the UI thread as a queued call on the window, and
// belongs to the UI thread from then on.
bool PostDownloadDone(void* owner, DownloadOutcome* outcome) {
    auto* window = static_cast<QWidget*>(owner);
    if (window == nullptr) {
        return false;
    }
    const bool posted = QMetaObject::invokeMethod(
        window, [outcome] { OnDownloadDone(outcome); }, Qt::QueuedConnection);
    NoteOutcomeHandedOver();
    return posted;
}
