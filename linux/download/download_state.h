// The state the UI thread and the download worker share, and the two records that pass between
// them. Ownership moves with exactly two hand-offs: the job goes to the worker as its thread
// parameter, the outcome comes back through PostDownloadDone. While a download runs, the threads
// touch only the four atomics; everything else here belongs to the UI thread. Text is UTF-8.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "core/texts.h"

struct AppGlobals {
    std::string targetPath; // destination chosen with Save As; empty when none
    bool russianUi;         // written once before any window or worker exists
    bool busy;
    bool closePending;
    bool replaceExisting; // the chosen destination existed and Save As confirmed replacing it

    // Written with exchanges (sequentially consistent), read with plain atomic loads.
    std::atomic<bool> cancelRequested;
    std::atomic<bool> totalKnown; // set only after contentLength holds the announced size
    std::atomic<std::uint64_t> bytesReceived;
    std::atomic<std::uint64_t> contentLength;
};

extern AppGlobals appGlobals;

// The member of a pair for this run's language.
inline const char* Text(const core::TextPair& pair) {
    return core::SelectText(pair, appGlobals.russianUi);
}

// Filled by the UI thread, owned and freed by the worker from its first instruction.
struct DownloadJob {
    void* owner;     // what the outcome is handed to: the main window
    std::string url; // exactly as typed, not trimmed
    std::string targetPath;
    bool replaceExisting;
};

// Made by the worker, owned by the UI thread once handed over (or freed by the worker if the
// hand-over fails).
struct DownloadOutcome {
    bool succeeded = false;
    bool cancelled = false;
    std::string errorText;
    std::string targetPath;
    std::uint64_t bytesWritten = 0;
};
