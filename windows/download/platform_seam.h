// The system calls whose failures a real machine will not produce on demand: a short or silent
// write, a failed flush or rename, a failed post, a URL splitter that reads a port past 65535
// as another, valid port, and a volume that refuses to reserve space for a file or is FAT (neither
// of which Wine shows). The worker thread calls them only
// through this table, so that the engine tests can put their own functions in; the program never
// changes it.
#pragma once

#include <windows.h>
#include <winhttp.h>

struct PlatformSeam {
    decltype(&::WriteFile) writeFile;
    decltype(&::FlushFileBuffers) flushFileBuffers;
    decltype(&::MoveFileExW) moveFileEx;
    decltype(&::PostMessageW) postMessage;
    decltype(&::WinHttpCrackUrl) crackUrl;
    decltype(&::SetFileInformationByHandle) setFileInformationByHandle;
    decltype(&::GetVolumeInformationByHandleW) getVolumeInformationByHandle;
};

// The real functions, as the program uses them.
PlatformSeam RealPlatformSeam();

extern PlatformSeam platformSeam;
