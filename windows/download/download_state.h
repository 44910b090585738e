// The state the UI thread and the download worker share, and the two records that pass between
// them. Ownership moves with exactly two hand-offs: the job goes to the worker as its thread
// parameter, the outcome comes back in WM_DOWNLOAD_DONE. While a download runs, the threads touch
// only the four atomics; everything else here belongs to the UI thread.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "text/texts.h"

// Posted by the worker to its owner window; lParam is the DownloadOutcome*.
constexpr UINT WM_DOWNLOAD_DONE = WM_APP + 1;

struct AppGlobals {
    std::wstring targetPath; // destination chosen with Save As; empty when none
    HWND mainWindow;
    HWND urlEdit;
    HWND targetEdit;
    HWND downloadButton;
    HWND browseButton;
    HWND cancelButton;
    HWND statusLine;
    HWND historyList;
    HFONT guiFont;
    bool russianUi; // written once before any window or worker exists
    bool busy;
    bool closePending;
    bool replaceExisting; // the chosen destination existed and Save As confirmed replacing it
    HWND focusAfterBusy;  // where the keyboard goes back to when a download ends
    HWND focusWhenLeft;   // the control that had the keyboard when the window was last left

    // The session list's files: the committed path of each line, in the list's order, and the
    // list box's own window procedure, to which the program's passes what it leaves alone.
    std::vector<std::wstring> sessionFiles;
    WNDPROC historyListProc;

    // Written with exchanges (sequentially consistent), read with plain atomic loads.
    std::atomic<bool> cancelRequested;
    std::atomic<bool> totalKnown; // set only after contentLength holds the announced size
    std::atomic<std::uint64_t> bytesReceived;
    std::atomic<std::uint64_t> contentLength;
};

extern AppGlobals appGlobals;

// The member of a pair for this run's language.
inline const wchar_t* Text(const TextPair& pair) {
    return SelectText(pair, appGlobals.russianUi);
}

// Filled by the UI thread, owned and freed by the worker from its first instruction.
struct DownloadJob {
    HWND ownerWindow;
    std::wstring url; // exactly as typed, not trimmed
    std::wstring targetPath;
    bool replaceExisting;
};

// Made by the worker, owned by the UI thread once posted (or freed by the worker if posting fails).
struct DownloadOutcome {
    bool succeeded = false;
    bool cancelled = false;
    std::wstring errorText;
    std::wstring targetPath;
    std::uint64_t bytesWritten = 0;
};
