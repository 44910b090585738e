// What the user can do with the main window: choose the destination, start a download, cancel it,
// and close the window, also while a download runs. UI thread only; the download itself runs on
// the worker thread started here and reports back through WM_DOWNLOAD_DONE.
#include <windows.h>
#include <commdlg.h>

#include <algorithm>
#include <vector>

#include "app/main_window.h"
#include "download/download_state.h"
#include "download/download_worker.h"
#include "download/staging.h"
#include "text/texts.h"

namespace {

void ShowMessage(const wchar_t* text, UINT icon) {
    HWND focus = GetFocus();
    MessageBoxW(appGlobals.mainWindow, text, TextAppTitle, MB_OK | icon);
    ReturnFocus(focus);
}

void RequestCancel() {
    appGlobals.cancelRequested.exchange(true);
    SetWindowTextW(appGlobals.statusLine, Text(TextCancelling));
}

// Enter where no default button took it: the dialog-style keyboard handling then asks for IDOK.
// A button with the focus is pressed, as Enter always presses a focused button; anywhere else Enter
// means Download, the default button.
int EnterCommand() {
    HWND focus = GetFocus();
    if (focus == appGlobals.browseButton) {
        return IDC_BROWSE;
    }
    if (focus == appGlobals.cancelButton) {
        return IDC_CANCEL;
    }
    return IDC_DOWNLOAD;
}

void RememberFocus(HWND focus) {
    if (focus != nullptr && IsChild(appGlobals.mainWindow, focus)) {
        appGlobals.focusWhenLeft = focus;
    }
}

bool GiveFocusBack() {
    // The controls of a minimised window cannot take the focus; restoring it comes back here.
    if (IsIconic(appGlobals.mainWindow) || appGlobals.closePending) {
        return false;
    }
    HWND control = appGlobals.focusWhenLeft;
    // A download started or ended while the window was inactive and disabled the control; SetBusy
    // could not move the focus then, as nothing here had it. It goes where SetBusy sends it.
    if (control != nullptr && !IsWindowEnabled(control)) {
        control = appGlobals.busy ? appGlobals.cancelButton : appGlobals.focusAfterBusy;
    }
    if (control == nullptr || !IsWindowEnabled(control)) {
        return false;
    }
    SetFocus(control);
    return GetFocus() == control;
}

// Bounds the wait for the worker when the session ends: Windows ends the process a few seconds
// after WM_ENDSESSION whether or not it has returned.
constexpr DWORD EndSessionWaitMs = 4000;

} // namespace

// A modal box or dialog disables the main window, which takes the focus from its control; once it
// has closed, the main window itself holds the focus and keys go nowhere until Tab. The control
// gets it back, unless the window is closing or another program is in front meanwhile.
void ReturnFocus(HWND focus) {
    if (focus == nullptr || appGlobals.closePending || GetActiveWindow() != appGlobals.mainWindow ||
        !IsWindowEnabled(focus)) {
        return;
    }
    SetFocus(focus);
}

// The window is no dialog, so nothing gives its controls the keyboard back when the user returns
// from another program or restores the minimised window: that leaves the focus on the bare window,
// where Tab and Enter do nothing. So the control that has it is remembered on the way out and
// given it back on the way in, as the dialog manager does. The way out is deactivation, or (where
// a minimised window stays active, as under Wine) the focus passing from a control to the window.
bool OnActivate(WPARAM wParam) {
    RememberFocus(GetFocus());
    return LOWORD(wParam) != WA_INACTIVE && GiveFocusBack();
}

bool OnSetFocus(HWND previous) {
    RememberFocus(previous);
    return GiveFocusBack();
}

void OnCommand(WPARAM wParam) {
    int command = LOWORD(wParam);
    if (command == IDOK) {
        command = EnterCommand();
    } else if (command == IDCANCEL) {
        // Escape, which the dialog-style keyboard handling turns into IDCANCEL: Cancel while a
        // download runs, and nothing while idle; it never closes the window.
        command = IDC_CANCEL;
    }
    switch (command) {
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
    // A chosen shortcut is the destination itself, never the file it points to elsewhere; a
    // read-only file is refused here rather than after the whole download.
    dialog.Flags = OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_EXPLORER |
                   OFN_NODEREFERENCELINKS | OFN_NOREADONLYRETURN;
    HWND focus = GetFocus();
    BOOL chosen = GetSaveFileNameW(&dialog);
    ReturnFocus(focus);
    if (!chosen) {
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
    HWND focus = GetFocus();
    if (flag) {
        // The control that had the keyboard as the download started (Download, or the URL box
        // where Enter was pressed) gets it back when the download ends.
        bool disabledNow = focus == appGlobals.urlEdit || focus == appGlobals.browseButton ||
                           focus == appGlobals.downloadButton;
        appGlobals.focusAfterBusy = disabledNow ? focus : appGlobals.urlEdit;
        // Windows names the reason when logoff or shutdown waits for the program.
        ShutdownBlockReasonCreate(appGlobals.mainWindow, Text(TextDownloadInProgress));
    } else {
        ShutdownBlockReasonDestroy(appGlobals.mainWindow);
    }

    appGlobals.busy = flag;
    EnableWindow(appGlobals.urlEdit, !flag);
    EnableWindow(appGlobals.browseButton, !flag);
    EnableWindow(appGlobals.downloadButton, !flag);
    EnableWindow(appGlobals.cancelButton, flag);

    // A control that is disabled loses the focus, and keys would then go nowhere until Tab. A
    // window that is closing takes no input, so nothing gets the focus then.
    if (focus != nullptr && !IsWindowEnabled(focus) && !appGlobals.closePending) {
        SetFocus(flag ? appGlobals.cancelButton : appGlobals.focusAfterBusy);
    }
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

LRESULT OnQueryEndSession() {
    // A logoff or shutdown now would end the process in the middle of the download and leave its
    // staging file behind: ask Windows to wait. The reason was given when the download started.
    return appGlobals.busy ? FALSE : TRUE;
}

void OnEndSession(WPARAM ending) {
    if (!ending || !appGlobals.busy) {
        return;
    }
    // The session ends anyway. The worker posts its outcome only after its staging file is gone,
    // so waiting for that outcome is waiting for the clean-up; a network call that blocks may
    // outlast the time Windows gives, hence the bound.
    appGlobals.cancelRequested.exchange(true);
    SetWindowTextW(appGlobals.statusLine, Text(TextCancelling));
    DWORD start = GetTickCount();
    // The outcome handler clears busy, also when a nested WM_ENDSESSION has taken the outcome.
    while (appGlobals.busy) {
        MSG message;
        if (PeekMessageW(&message, appGlobals.mainWindow, WM_DOWNLOAD_DONE, WM_DOWNLOAD_DONE,
                         PM_REMOVE)) {
            // An outcome posted before the cancellation may still be a failure; with the session
            // ending, nobody would close its box.
            OnDownloadDone(message.lParam, false);
            return;
        }
        DWORD waited = GetTickCount() - start;
        if (waited >= EndSessionWaitMs) {
            return;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, std::min<DWORD>(EndSessionWaitMs - waited, 50),
                                  QS_POSTMESSAGE);
    }
}

void OnDestroy() {
    ShutdownBlockReasonDestroy(appGlobals.mainWindow);
    KillTimer(appGlobals.mainWindow, PROGRESS_TIMER_ID);
    PostQuitMessage(0);
}
