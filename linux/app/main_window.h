// The Linux edition's main window: the ten controls in the Windows edition's arrangement, fitted
// to the desktop's font, the commands behind them, the progress timer and the display of each
// outcome. Everything here runs on the UI thread; the worker reaches it only through
// PostDownloadDone.
#pragma once

#include <QString>

#include "download/download_state.h"

class QWidget;
class QLineEdit;
class QPushButton;
class QLabel;
class QListWidget;
class QPoint;
class QKeyEvent;

// The client area the Windows edition's layout lives in: its 710 x 455 window less a fixed frame
// of 3 pixels on each side and a 23-pixel title bar (96 dpi). The main window has this size where
// the desktop's font fits the Windows pixels, and is larger where it does not.
inline constexpr int ClientWidth = 704;
inline constexpr int ClientHeight = 426;

// The window and the controls the program touches after creating them.
struct AppUi {
    QWidget* window = nullptr;
    QLineEdit* urlEdit = nullptr;
    QLineEdit* targetEdit = nullptr;
    QPushButton* browseButton = nullptr;
    QPushButton* downloadButton = nullptr;
    QPushButton* cancelButton = nullptr;
    QLabel* statusLine = nullptr;
    QListWidget* historyList = nullptr;
    // Where the keyboard goes back to when a download ends.
    QWidget* focusAfterBusy = nullptr;
    // The last download that ended failed, and no other has started since.
    bool lastFailed = false;
};

extern AppUi appUi;

// Builds the window with its controls and starts the progress timer (main_window.cpp). The
// caller owns the window; it is not shown yet.
QWidget* CreateMainWindow();

// One routine per user action (commands.cpp). Each is refused where the window's state says so.
void OnBrowseCommand();
void OnDownloadCommand();
void OnCancelCommand();
// Enter where no button has the keyboard: Download.
void OnEnterKey();
// The window is asked to close; false keeps it open until the running download has ended.
bool OnCloseRequest();

void BrowseForTarget();
void StartDownload();
void SetBusy(bool flag);
void ShowMessage(const QString& text, bool isError);

// Progress and completion (progress.cpp).
void OnProgressTimer();
// Takes ownership of the outcome and frees it before returning.
void OnDownloadDone(DownloadOutcome* outcome);

// What the desktop shows of the downloads outside the window. The dock's launcher entry
// (launcher_entry.cpp): the progress from the timer, and at each outcome, marked urgent when a
// failure arrives unseen.
void ShowLauncherProgress();
void ShowLauncherOutcome(bool unseen);
// A notification for an outcome that arrived while the window was not the active one
// (notification.cpp): `successPath` is the file a success committed, empty otherwise.
void NotifyOutcome(const QString& summary, const QString& body, const char* category,
                   const QString& successPath);
// The window has become the active one: the user has seen what the desktop showed.
void OnWindowActivated();
void ClearLauncherUrgent();
// Brings the window to the front, as the notification's click asks.
void RaiseMainWindow();

// The session list's lines stand for their files (session_files.cpp): each line keeps its file's
// path; activating a line opens the file, and its context menu offers the commands of
// QUILLMERE_SESSION_MENU.
void SetUpSessionList();
// A key no control took while the list has the keyboard; true when it was the list's.
bool OnSessionListKey(const QKeyEvent* event);
void AddSessionLine(const QString& line, const QString& path);
// The line's menu at `position` in the list's viewport, if a line is there.
void ShowSessionMenu(const QPoint& position);
void ShowInFolder(const QString& path);

// Screen readers (accessibility.cpp): the label becomes the window's status bar for them. Done
// before the label has its text, so that a screen reader already running meets it as such.
void MarkStatusLine(QLabel* label);

// The end of the session (session_end.cpp). Once the application exists: SIGTERM, SIGINT and
// SIGHUP end the program as closing the window does, then with the signal's own status, and an
// exit while a download runs first lets the worker remove its staging file.
void InstallSessionEnd();
// From SetBusy: asks the desktop to hold logout and suspend while a download runs, and ends the
// program once a download a signal cancelled is over.
void SessionBusyChanged(bool busy);
// From PostDownloadDone, on the worker, once the outcome is on its way.
void NoteOutcomeHandedOver();
