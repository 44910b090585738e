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

// The end of the session (session_end.cpp). Once the application exists: SIGTERM, SIGINT and
// SIGHUP end the program as closing the window does, then with the signal's own status, and an
// exit while a download runs first lets the worker remove its staging file.
void InstallSessionEnd();
// From SetBusy: asks the desktop to hold logout and suspend while a download runs, and ends the
// program once a download a signal cancelled is over.
void SessionBusyChanged(bool busy);
// From PostDownloadDone, on the worker, once the outcome is on its way.
void NoteOutcomeHandedOver();
