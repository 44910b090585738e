// The system calls whose failures a real machine will not produce on demand: a short or silent
// write, a failed write-out reported while the body still arrives, a failed flush or rename, a file
// system that refuses the rename without replacement, and a failed hand-over of the outcome. The
// worker thread calls them only through this table, so that the engine tests can put their own
// functions in; the program never changes it.
#pragma once

#include <sys/types.h>

#include "download/download_state.h"

struct PlatformSeam {
    ssize_t (*write)(int fd, const void* data, size_t count);
    int (*syncFileRange)(int fd, off_t offset, off_t count, unsigned flags);
    int (*fsync)(int fd);
    int (*renameat2)(int oldDirectory, const char* oldPath, int newDirectory, const char* newPath,
                     unsigned flags);
    int (*rename)(const char* oldPath, const char* newPath);
    int (*link)(const char* oldPath, const char* newPath);
    bool (*postOutcome)(void* owner, DownloadOutcome* outcome);
};

// The real functions, as the program uses them.
PlatformSeam RealPlatformSeam();

extern PlatformSeam platformSeam;
