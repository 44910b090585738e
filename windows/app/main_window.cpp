// The main window procedure and the fixed layout its creation builds. UI thread only.
#include "app/main_window.h"

#include "download/download_state.h"
#include "text/texts.h"

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        OnCreate(window);
        return 0;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_COMMAND:
        OnCommand(wParam);
        return 0;
    case WM_TIMER:
        OnProgressTimer();
        return 0;
    case WM_DOWNLOAD_DONE:
        OnDownloadDone(lParam, true);
        return 0;
    case WM_ACTIVATE:
        // Unless a control took the keyboard back, the default gives it to the bare window.
        return OnActivate(wParam) ? 0 : DefWindowProcW(window, message, wParam, lParam);
    case WM_SETFOCUS:
        return OnSetFocus(reinterpret_cast<HWND>(wParam))
                   ? 0
                   : DefWindowProcW(window, message, wParam, lParam);
    case WM_QUERYENDSESSION:
        return OnQueryEndSession();
    case WM_ENDSESSION:
        OnEndSession(wParam);
        return 0;
    default:
        // The shell's message has its number only at run time, so it cannot be a case.
        if (IsTaskbarButtonCreated(message)) {
            OnTaskbarButtonCreated();
            return 0;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

HWND CreateChild(const wchar_t* className, const wchar_t* text, DWORD style, int x, int y,
                 int width, int height, int childId, DWORD extendedStyle) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    HWND child =
        CreateWindowExW(extendedStyle, className, text, style | WS_CHILD | WS_VISIBLE, x, y, width,
                        height, appGlobals.mainWindow,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(childId)), instance, nullptr);
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(appGlobals.guiFont), TRUE);
    return child;
}

// Positions are client pixels used as they stand: the window cannot be resized, so this is the
// only layout there is. No creation result is checked; a missing control simply stays absent.
void OnCreate(HWND window) {
    appGlobals.mainWindow = window;
    appGlobals.guiFont = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));

    CreateChild(L"STATIC", Text(TextUrlLabel), SS_LEFT, 20, 18, 660, 20, 0, 0);
    appGlobals.urlEdit = CreateChild(L"EDIT", L"", WS_TABSTOP | ES_LEFT | ES_AUTOHSCROLL, 20, 40,
                                     650, 27, 0, WS_EX_CLIENTEDGE);
    CreateChild(L"STATIC", Text(TextSaveAsLabel), SS_LEFT, 20, 80, 660, 20, 0, 0);
    appGlobals.targetEdit = CreateChild(L"EDIT", L"", ES_LEFT | ES_AUTOHSCROLL | ES_READONLY, 20,
                                        102, 525, 27, 0, WS_EX_CLIENTEDGE);
    appGlobals.browseButton =
        CreateChild(L"BUTTON", Text(TextBrowseButton), WS_TABSTOP | BS_PUSHBUTTON, 555, 100, 115,
                    30, IDC_BROWSE, 0);
    appGlobals.downloadButton =
        CreateChild(L"BUTTON", Text(TextDownloadButton), WS_TABSTOP | BS_DEFPUSHBUTTON, 20, 146,
                    130, 33, IDC_DOWNLOAD, 0);
    appGlobals.cancelButton =
        CreateChild(L"BUTTON", Text(TextCancelButton), WS_DISABLED | WS_TABSTOP | BS_PUSHBUTTON,
                    160, 146, 130, 33, IDC_CANCEL, 0);
    appGlobals.statusLine =
        CreateChild(L"STATIC", Text(TextReady), SS_LEFT, 20, 190, 650, 22, 0, 0);
    CreateChild(L"STATIC", Text(TextHistoryLabel), SS_LEFT, 20, 225, 650, 20, 0, 0);
    appGlobals.historyList =
        CreateChild(L"LISTBOX", L"", WS_VSCROLL | WS_HSCROLL | LBS_NOINTEGRALHEIGHT, 20, 248, 650,
                    150, 0, WS_EX_CLIENTEDGE);
    WatchSessionList();
    // The first activation gives the keyboard to the link box, where a user pastes first.
    appGlobals.focusWhenLeft = appGlobals.urlEdit;

    SetTimer(window, PROGRESS_TIMER_ID, 250, nullptr);
    PrepareTaskbarButton(window);
}
