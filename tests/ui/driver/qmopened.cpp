// qmopened.exe: plays the program a file type opens with, for the tests of the session list's
// Open. Started by the shell as "qmopened.exe LOG PATH", it appends PATH, exactly as it arrived,
// to LOG as a line of UTF-8 and ends. A GUI program with no window, so that it neither opens a
// console nor takes the foreground from the window under test.
#include <windows.h>
#include <shellapi.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int count = 0;
    wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!words || count != 3)
        return 2;
    std::string line(WideCharToMultiByte(CP_UTF8, 0, words[2], -1, nullptr, 0, nullptr, nullptr),
                     '\0');
    WideCharToMultiByte(CP_UTF8, 0, words[2], -1, line.data(), static_cast<int>(line.size()),
                        nullptr, nullptr);
    line.back() = '\n';
    HANDLE log = CreateFileW(words[1], FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    bool ok = log != INVALID_HANDLE_VALUE &&
              WriteFile(log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    if (log != INVALID_HANDLE_VALUE)
        CloseHandle(log);
    return ok ? 0 : 1;
}
