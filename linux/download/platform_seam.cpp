// The system functions the worker thread reaches through the seam: the real ones, always, in the
// program.
#include "download/platform_seam.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include "download/download_worker.h"

PlatformSeam RealPlatformSeam() {
    return PlatformSeam{&::write, &::sync_file_range, &::fsync, &::renameat2, &::rename,
                        &::link,  &PostDownloadDone};
}

PlatformSeam platformSeam = RealPlatformSeam();
