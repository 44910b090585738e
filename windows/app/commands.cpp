// What the user can do with the main window: choose the destination, start a download, cancel it,
// and close the window, also while a download runs. UI thread only; the download itself runs on
// the worker thread started here and reports back through WM_DOWNLOAD_DONE.
#include <windows.h>
#include <commdlg.h>

#include <vector>

#include "app/main_window.h"
#include "download/download_state.h"
#include "download/download_worker.h"
#include "download/staging.h"
#include "text/texts.h"

namespace {

void ShowMessage(const wchar_t* text, UINT icon) {
    MessageBoxW(appGlobals.mainWindow, text, TextAppTitle, MB_OK | icon);
}

void RequestCancel() {
    appGlobals.cancelRequested.exchange(true);
    SetWindowTextW(appGlobals.statusLine, Text(TextCancelling));
}

} // namespace

void OnCommand(WPARAM wParam) {
    switch (LOWORD(wParam)) {
    case IDC_BROWSE:
        if (!appGlobals.busy) {
            BrowseForTarget();
        }
        break;
    case IDC_DOWNLOAD:
        if (!appGlobals.busy) {
            StartDownload();
        }
        break;
    case IDC_CANCEL:
        if (appGlobals.busy) {
            RequestCancel();
        }
        break;
    default:
        break;
    }
}

void BrowseForTarget() {
    // A fresh buffer each time: the dialog always proposes the same name, never the last choice.
    constexpr DWORD bufferUnits = 32768;
    std::vector<wchar_t> fileName(bufferUnits, L'\0');
    const wchar_t proposed[] = L"download.bin";
    std::copy(std::begin(proposed), std::end(proposed) - 1, fileName.begin());

    std::wstring filter = Text(TextAllFilesFilter);
    filter.push_back(L'\0');
    filter += L"*.*";
    filter.push_back(L'\0');
    filter.push_back(L'\0');

    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof(OPENFILENAMEW);
    dialog.hwndOwner = appGlobals.mainWindow;
    dialog.lpstrFilter = filter.c_str();
    dialog.lpstrFile = fileName.data();
    dialog.nMaxFile = bufferUnits;
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_EXPLORER;
    if (!GetSaveFileNameW(&dialog)) {
        return;
    }

    appGlobals.targetPath = fileName.data();
    // The dialog has already asked before an existing file may be replaced, so an existing file
    // here means the user agreed to replace it. Asked in extended-length form, like every file
    // call on the destination, so that a path past 260 characters is seen too.
    appGlobals.replaceExisting =
        GetFileAttributesW(ExtendedLengthPath(appGlobals.targetPath).c_str()) !=
        INVALID_FILE_ATTRIBUTES;
    SetWindowTextW(appGlobals.targetEdit, appGlobals.targetPath.c_str());
}

void StartDownload() {
    std::wstring url = ReadWindowText(appGlobals.urlEdit);
    if (url.empty() || appGlobals.targetPath.empty()) {
        ShowMessage(Text(TextEnterLinkAndTarget), MB_ICONINFORMATION);
        return;
    }

    appGlobals.cancelRequested.exchange(false);
    appGlobals.bytesReceived.exchange(0);
    appGlobals.contentLength.exchange(0);
    appGlobals.totalKnown.exchange(false);

    auto* job = new DownloadJob{appGlobals.mainWindow, url, appGlobals.targetPath,
                                appGlobals.replaceExisting};
    HANDLE thread = CreateThread(nullptr, 0, DownloadWorker, job, 0, nullptr);
    if (thread == nullptr) {
        delete job;
        ShowMessage(Text(TextCouldNotStart), MB_ICONERROR);
        return;
    }
    // Nothing ever waits for the worker: it reports only through WM_DOWNLOAD_DONE.
    CloseHandle(thread);
    SetBusy(true);
    SetWindowTextW(appGlobals.statusLine, Text(TextConnecting));
}

void SetBusy(bool flag) {
    appGlobals.busy = flag;
    EnableWindow(appGlobals.urlEdit, !flag);
    EnableWindow(appGlobals.browseButton, !flag);
    EnableWindow(appGlobals.downloadButton, !flag);
    EnableWindow(appGlobals.cancelButton, flag);
}

std::wstring ReadWindowText(HWND window) {
    int length = GetWindowTextLengthW(window);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    GetWindowTextW(window, text.data(), length + 1);
    text.resize(static_cast<size_t>(length));
    return text;
}

void OnClose() {
    if (appGlobals.busy) {
        // The window stays until the outcome has been shown; it takes no more input meanwhile.
        appGlobals.cancelRequested.exchange(true);
        appGlobals.closePending = true;
        EnableWindow(appGlobals.mainWindow, FALSE);
        SetWindowTextW(appGlobals.statusLine, Text(TextCancelling));
        return;
    }
    DestroyWindow(appGlobals.mainWindow);
}

void OnDestroy() {
    KillTimer(appGlobals.mainWindow, PROGRESS_TIMER_ID);
    PostQuitMessage(0);
}
