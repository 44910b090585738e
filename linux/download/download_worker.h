// The download worker: one thread per job, from DownloadJob to one handed-over DownloadOutcome.
#pragma once

#include "download/download_state.h"

// Thread entry for pthread_create (or std::thread); the parameter is a heap DownloadJob* that the
// worker frees. Always returns null. Nothing waits for the thread: it reports only through
// PostDownloadDone.
void* DownloadWorker(void* jobParameter);

// Hands the outcome to the UI thread that owns `owner`, to be shown there and freed; false when
// it cannot be delivered (the window is gone), and the worker then frees it. Provided by the
// window; the worker calls it through the platform seam, as its last act.
bool PostDownloadDone(void* owner, DownloadOutcome* outcome);
