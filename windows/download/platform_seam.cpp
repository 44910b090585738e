// The system functions the worker thread reaches through the seam: the real ones, always, in the
// program.
#include "download/platform_seam.h"

PlatformSeam RealPlatformSeam() {
    return PlatformSeam{&::WriteFile,
                        &::FlushFileBuffers,
                        &::MoveFileExW,
                        &::PostMessageW,
                        &::WinHttpCrackUrl,
                        &::SetFileInformationByHandle,
                        &::GetVolumeInformationByHandleW};
}

PlatformSeam platformSeam = RealPlatformSeam();
