// Entry point: restricts library loading, fixes the UI language, creates the one main window and
// pumps the UI thread's messages until that window is gone.
#include <windows.h>

#include "app/main_window.h"
#include "download/download_state.h"
#include "text/texts.h"
#include "text/ui_language.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    // Before anything can load a library by name: the Save As dialog and the HTTPS stack pull in
    // DLLs on demand, and the executable's own folder (often Downloads) must not be searched.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);

    appGlobals.russianUi = IsRussianUiLanguage(GetUserDefaultUILanguage());

    HCURSOR arrow = LoadCursorW(nullptr, IDC_ARROW);
    HICON icon = LoadIconW(instance, MAKEINTRESOURCEW(101));
    WNDCLASSW windowClass{};
    windowClass.style = 0;
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = icon;
    windowClass.hCursor = arrow;
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = MainWindowClassName;
    if (RegisterClassW(&windowClass) == 0) {
        return 1;
    }

    HWND window =
        CreateWindowExW(0, MainWindowClassName, TextAppTitle,
                        WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                        CW_USEDEFAULT, 710, 455, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return 1;
    }
    ShowWindow(window, showCommand);
    UpdateWindow(window);

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageW(window, &message)) {
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
