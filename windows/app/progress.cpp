// Live progress in the status line and the display of each finished download. UI thread only:
// the timer reads the worker's counters without locking, and the outcome arrives by message.
#include "app/main_window.h"
#include "app/progress_text.h"
#include "download/download_state.h"
#include "history/session_entry.h"
#include "text/texts.h"

void OnProgressTimer() {
    UpdateTaskbarButton();
    if (!appGlobals.busy) {
        return;
    }
    // Once cancelling, the status line keeps saying so until the outcome arrives.
    if (appGlobals.cancelRequested.load()) {
        return;
    }
    std::uint64_t received = appGlobals.bytesReceived.load();
    bool totalKnown = appGlobals.totalKnown.load();
    std::uint64_t total = totalKnown ? appGlobals.contentLength.load() : 0;
    std::wstring text = ComposeProgressText(appGlobals.russianUi, received, totalKnown, total);
    SetWindowTextW(appGlobals.statusLine, text.c_str());
}

void OnDownloadDone(LPARAM lParam, bool showErrorBox) {
    auto* outcome = reinterpret_cast<DownloadOutcome*>(lParam);
    // First, so that no later tick can overwrite the outcome's status text.
    SetBusy(false);
    ShowOutcomeOnTaskbar(!outcome->succeeded && !outcome->cancelled);

    if (outcome->succeeded) {
        std::wstring line = FormatSessionListLine(outcome->targetPath, outcome->bytesWritten);
        LRESULT added = SendMessageW(appGlobals.historyList, LB_ADDSTRING, 0,
                                     reinterpret_cast<LPARAM>(line.c_str()));
        RememberSessionFile(added, outcome->targetPath);
        SetWindowTextW(appGlobals.statusLine, Text(TextDownloadCompleted));
        appGlobals.targetPath.clear();
        appGlobals.replaceExisting = false;
        SetWindowTextW(appGlobals.targetEdit, L"");
    } else if (outcome->cancelled) {
        SetWindowTextW(appGlobals.statusLine, Text(TextDownloadCancelled));
    } else {
        // The destination stays chosen, so Download retries the same path.
        SetWindowTextW(appGlobals.statusLine, Text(TextDownloadFailed));
        if (showErrorBox) {
            HWND focus = GetFocus();
            MessageBoxW(appGlobals.mainWindow, outcome->errorText.c_str(), TextAppTitle,
                        MB_OK | MB_ICONERROR);
            ReturnFocus(focus);
        }
    }
    delete outcome;

    if (appGlobals.closePending) {
        DestroyWindow(appGlobals.mainWindow);
    }
}
