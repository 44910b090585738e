// A stand-in winhttp.dll that an attacker could leave beside the executable: loading it leaves a
// marker file beside it (its own path plus ".loaded"), and every function the program binds from
// winhttp.dll fails, so a program that picks it up cannot download. Runs on whichever thread of
// the host process loads it.
#include <windows.h>

#include <string>

extern "C" void* PlantedFailure() {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        std::wstring path(MAX_PATH, L'\0');
        const DWORD length = GetModuleFileNameW(instance, path.data(), MAX_PATH);
        if (length != 0 && length < MAX_PATH) {
            path.resize(length);
            path += L".loaded";
            HANDLE marker = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
            if (marker != INVALID_HANDLE_VALUE) {
                CloseHandle(marker);
            }
        }
    }
    return TRUE;
}
