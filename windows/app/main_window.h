// The main window: its class, its procedure and the routines behind its messages. Everything here
// runs on the UI thread.
#pragma once

#include <windows.h>

#include <string>

inline constexpr const wchar_t* MainWindowClassName = L"QuillmereMainWindow";

inline constexpr int IDC_BROWSE = 100;
inline constexpr int IDC_DOWNLOAD = 101;
inline constexpr int IDC_CANCEL = 102;
inline constexpr UINT_PTR PROGRESS_TIMER_ID = 1;

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Layout (main_window.cpp).
void OnCreate(HWND window);
HWND CreateChild(const wchar_t* className, const wchar_t* text, DWORD style, int x, int y,
                 int width, int height, int childId, DWORD extendedStyle);

// Commands (commands.cpp).
void OnCommand(WPARAM wParam);
void OnClose();
void OnDestroy();
LRESULT OnQueryEndSession();
void OnEndSession(WPARAM ending);
void BrowseForTarget();
void StartDownload();
void SetBusy(bool flag);
std::wstring ReadWindowText(HWND window);
void ReturnFocus(HWND focus);
bool OnActivate(WPARAM wParam);
bool OnSetFocus(HWND previous);

// The UI thread's COM apartment, entered on first use (com_apartment.cpp); false if it cannot be.
bool EnsureComApartment();

// The taskbar button's progress and flash (taskbar.cpp).
void PrepareTaskbarButton(HWND window);
bool IsTaskbarButtonCreated(UINT message);
void OnTaskbarButtonCreated();
void UpdateTaskbarButton();
void ShowOutcomeOnTaskbar(bool failed);

// The session list's files (session_files.cpp): the list box's own handling of Open and its menu,
// and the committed path of the line LB_ADDSTRING just added (its result, so a refused line keeps
// no path).
void WatchSessionList();
void RememberSessionFile(LRESULT line, const std::wstring& path);

// Progress and completion (progress.cpp).
void OnProgressTimer();
void OnDownloadDone(LPARAM lParam, bool showErrorBox);
