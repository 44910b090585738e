// The session list's lines as the files they stand for: a double-click or Enter on a line opens
// its file with the program Windows associates with it, and the line's context menu offers Open
// and Show in folder. The list box is subclassed for the few messages this needs, so that its
// styles, and with them its look and its place in the keyboard order, stay as they are. UI thread
// only.
#include <windows.h>
#include <windowsx.h>
#include <shellapi.h>
#include <shlobj.h>

#include "app/main_window.h"
#include "core/session_files.h"
#include "download/download_state.h"
#include "download/system_error.h"
#include "text/texts.h"

namespace {

using core::SessionFileCommand;

// The line a command is for, or -1 when there is none (or no path was kept for it).
int LineWithFile(LRESULT index) {
    if (index < 0 || static_cast<size_t>(index) >= appGlobals.sessionFiles.size()) {
        return -1;
    }
    return static_cast<int>(index);
}

int SelectedLine() {
    return LineWithFile(SendMessageW(appGlobals.historyList, LB_GETCURSEL, 0, 0));
}

// The line under a point in the list's client area; below the last line there is none.
int LineAt(POINT point) {
    LRESULT hit =
        SendMessageW(appGlobals.historyList, LB_ITEMFROMPOINT, 0, MAKELPARAM(point.x, point.y));
    return HIWORD(hit) == 0 ? LineWithFile(LOWORD(hit)) : -1;
}

void ShowSystemError(DWORD code) {
    HWND focus = GetFocus();
    MessageBoxW(appGlobals.mainWindow, FormatSystemError(code).c_str(), TextAppTitle,
                MB_OK | MB_ICONERROR);
    ReturnFocus(focus);
}

// The shell reports failures of its own as HRESULTs; those that wrap a Win32 code read best as
// that code's text.
DWORD ErrorCodeOf(HRESULT result) {
    return HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result)
                                                      : static_cast<DWORD>(result);
}

// The file's own program, as Explorer's Open would start it. The shell, not the program, checks
// the file's zone mark and asks the user first where Windows' policy wants that; its own error
// boxes are kept back so that a failure reads like every other failure of the program.
DWORD OpenFile(const std::wstring& path) {
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_FLAG_NO_UI;
    info.hwnd = appGlobals.mainWindow;
    info.lpVerb = L"open";
    info.lpFile = path.c_str();
    info.nShow = SW_SHOWNORMAL;
    return ShellExecuteExW(&info) ? ERROR_SUCCESS : GetLastError();
}

// The folder in the desktop's file manager, with the file selected in it.
DWORD ShowInFolder(const std::wstring& path) {
    PIDLIST_ABSOLUTE item = ILCreateFromPathW(path.c_str());
    if (item == nullptr) {
        // It names no code of its own; the file was there a moment ago, so it is most likely gone.
        return ERROR_FILE_NOT_FOUND;
    }
    // An item with no children listed stands for itself: its folder opens with it selected.
    HRESULT result = SHOpenFolderAndSelectItems(item, 0, nullptr, 0);
    ILFree(item);
    return SUCCEEDED(result) ? ERROR_SUCCESS : ErrorCodeOf(result);
}

void RunCommand(SessionFileCommand command, int line) {
    // A copy: a download that ends while the shell or a box runs its message loop appends to the
    // list of paths, which may move it.
    const std::wstring path = appGlobals.sessionFiles[static_cast<size_t>(line)];
    // Moved, renamed or removed since the download: the system's own words for what is missing
    // (the file, or its folder). The line stays, as the list keeps every download of the run.
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        ShowSystemError(GetLastError());
        return;
    }
    // The shell's handlers may be COM objects. Should the apartment be out of reach, the shell's
    // own failure says why.
    EnsureComApartment();
    DWORD error = command == SessionFileCommand::Open ? OpenFile(path) : ShowInFolder(path);
    if (error != ERROR_SUCCESS) {
        ShowSystemError(error);
    }
}

// Menu item ids are the commands plus one: TrackPopupMenu returns 0 for "nothing chosen".
UINT MenuId(SessionFileCommand command) {
    return static_cast<UINT>(command) + 1;
}

void ShowLineMenu(int line, POINT screen) {
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr) {
        return;
    }
#define QUILLMERE_APPEND_ITEM(command, text)                                                       \
    AppendMenuW(menu, MF_STRING, MenuId(SessionFileCommand::command), Text(text));
    QUILLMERE_SESSION_MENU(QUILLMERE_APPEND_ITEM)
#undef QUILLMERE_APPEND_ITEM
    // In bold, as Windows marks what a double-click does.
    SetMenuDefaultItem(menu, MenuId(core::SessionActivateCommand), FALSE);
    UINT chosen = static_cast<UINT>(TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, screen.x,
                                                   screen.y, 0, appGlobals.mainWindow, nullptr));
    DestroyMenu(menu);
    if (chosen != 0) {
        RunCommand(static_cast<SessionFileCommand>(chosen - 1), line);
    }
}

// WM_CONTEXTMENU: from the mouse at the pointer, for the line under it, which becomes the
// selected one; from the keyboard (Shift+F10, the menu key; no position) below the selected line.
// False when there is no line to offer the menu for.
bool OnContextMenu(LPARAM lParam) {
    HWND list = appGlobals.historyList;
    POINT screen{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
    int line = -1;
    if (screen.x == -1 && screen.y == -1) {
        line = SelectedLine();
        RECT rect{};
        if (line < 0 || SendMessageW(list, LB_GETITEMRECT, static_cast<WPARAM>(line),
                                     reinterpret_cast<LPARAM>(&rect)) == LB_ERR) {
            return false;
        }
        screen = POINT{rect.left, rect.bottom};
        ClientToScreen(list, &screen);
    } else {
        POINT client = screen;
        ScreenToClient(list, &client);
        RECT area{};
        GetClientRect(list, &area);
        line = PtInRect(&area, client) ? LineAt(client) : -1;
        if (line < 0) {
            return false;
        }
        SendMessageW(list, LB_SETCURSEL, static_cast<WPARAM>(line), 0);
    }
    ShowLineMenu(line, screen);
    return true;
}

LRESULT CALLBACK SessionListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam) {
    WNDPROC base = appGlobals.historyListProc;
    switch (message) {
    case WM_GETDLGCODE: {
        // Enter on a selected line is the line's; anywhere else the keyboard handling keeps
        // turning it into Download.
        LRESULT code = CallWindowProcW(base, list, message, wParam, lParam);
        const auto* key = reinterpret_cast<const MSG*>(lParam);
        if (key != nullptr && key->message == WM_KEYDOWN && key->wParam == VK_RETURN &&
            SelectedLine() >= 0) {
            code |= DLGC_WANTMESSAGE;
        }
        return code;
    }
    case WM_KEYDOWN:
        if (wParam == VK_RETURN) {
            if (int line = SelectedLine(); line >= 0) {
                RunCommand(core::SessionActivateCommand, line);
            }
            return 0;
        }
        break;
    case WM_LBUTTONDBLCLK: {
        // The list box selects the line under the pointer first; a double-click below the last
        // line opens nothing.
        LRESULT result = CallWindowProcW(base, list, message, wParam, lParam);
        if (int line = LineAt(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}); line >= 0) {
            RunCommand(core::SessionActivateCommand, line);
        }
        return result;
    }
    case WM_CONTEXTMENU:
        if (OnContextMenu(lParam)) {
            return 0;
        }
        break;
    default:
        break;
    }
    return CallWindowProcW(base, list, message, wParam, lParam);
}

} // namespace

void WatchSessionList() {
    HWND list = appGlobals.historyList;
    if (list == nullptr) {
        return;
    }
    appGlobals.historyListProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(list, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SessionListProc)));
}

void RememberSessionFile(LRESULT line, const std::wstring& path) {
    // A line the list box refused has no file to stand for; keeping the path anyway would pair
    // every later line with its predecessor's file.
    if (line >= 0) {
        appGlobals.sessionFiles.push_back(path);
    }
}
