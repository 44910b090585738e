// The download worker: one thread per job, from DownloadJob to one posted DownloadOutcome.
#pragma once

#include <windows.h>

// Thread entry for CreateThread; the parameter is a heap DownloadJob* that the worker frees.
// Always returns 0. Nothing waits for the thread: it reports only through WM_DOWNLOAD_DONE.
DWORD WINAPI DownloadWorker(LPVOID jobParameter);
