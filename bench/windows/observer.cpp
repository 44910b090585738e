// Watches the program from outside for the benchmarks, printing one JSON line per command:
//   startup ROUNDS EXE_A CLASS_A EXE_B CLASS_B
//       starts A and B in turn (the first of each pair alternating), each time measuring from
//       CreateProcessW to a visible top-level window of that class owned by the new process,
//       then closes it; one start of each beforehand is not counted.
//   ping [--until TEXT]... [--interval MS] [--timeout MS]
//       prints {"ready":true} once the main window is found, then sends it WM_NULL every
//       interval, timing each round trip, reads the status line after each and the process's
//       memory counters every 100 ms, until the status line shows one of the TEXTs.
//   mem
//       the memory counters of the process that owns the main window.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/ui/driver/json.h"

namespace {

constexpr wchar_t MainClass[] = L"QuillmereMainWindow";

double Now() {
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f{};
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    return static_cast<double>(counter.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void Print(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int Fail(const std::string& message) {
    Print("{\"ok\":false,\"error\":" + json::String(std::wstring(message.begin(), message.end())) +
          "}");
    return 1;
}

// ---- startup --------------------------------------------------------------------------------

struct FindArgs {
    const wchar_t* className;
    DWORD processId;
    HWND found;
};

HWND VisibleWindowOf(const wchar_t* className, DWORD processId) {
    FindArgs args{className, processId, nullptr};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto* a = reinterpret_cast<FindArgs*>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner != a->processId || !IsWindowVisible(window))
                return TRUE;
            wchar_t name[256] = {};
            GetClassNameW(window, name, 256);
            if (lstrcmpiW(name, a->className) != 0)
                return TRUE;
            a->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&args));
    return args.found;
}

// One start: milliseconds from CreateProcessW to the visible window, or a negative number.
double StartOnce(const std::wstring& exe, const wchar_t* className) {
    std::wstring commandLine = L"\"" + exe + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    const double start = Now();
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process))
        return -1;
    HWND window = nullptr;
    double visibleAt = -1;
    while (Now() - start < 20000) {
        window = VisibleWindowOf(className, process.dwProcessId);
        if (window) {
            visibleAt = Now();
            break;
        }
        if (WaitForSingleObject(process.hProcess, 1) == WAIT_OBJECT_0)
            break;
    }
    if (window)
        PostMessageW(window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0)
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return visibleAt < 0 ? -1 : visibleAt - start;
}

std::string Numbers(const std::vector<double>& values) {
    std::string out = "[";
    for (size_t i = 0; i < values.size(); ++i) {
        char number[32];
        std::snprintf(number, sizeof number, "%s%.3f", i ? "," : "", values[i]);
        out += number;
    }
    return out + "]";
}

int Startup(const std::vector<std::wstring>& args) {
    if (args.size() != 5)
        return Fail("startup ROUNDS EXE_A CLASS_A EXE_B CLASS_B");
    const int rounds = std::stoi(args[0]);
    const std::wstring exe[2] = {args[1], args[3]};
    const std::wstring className[2] = {args[2], args[4]};
    for (int which = 0; which < 2; ++which) {
        if (StartOnce(exe[which], className[which].c_str()) < 0)
            return Fail("no visible window after starting program " + std::to_string(which));
    }
    std::vector<double> times[2];
    for (int round = 0; round < rounds; ++round) {
        for (int k = 0; k < 2; ++k) {
            const int which = (round % 2 == 0) ? k : 1 - k;
            const double ms = StartOnce(exe[which], className[which].c_str());
            if (ms < 0)
                return Fail("no visible window in round " + std::to_string(round));
            times[which].push_back(ms);
        }
    }
    Print("{\"ok\":true,\"a\":" + Numbers(times[0]) + ",\"b\":" + Numbers(times[1]) + "}");
    return 0;
}

// ---- ping and mem ---------------------------------------------------------------------------

// The status line: the third static control in the main window's creation order.
HWND StatusLine(HWND main) {
    int statics = 0;
    for (HWND child = GetWindow(main, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t name[64] = {};
        GetClassNameW(child, name, 64);
        if (lstrcmpiW(name, L"Static") == 0 && ++statics == 3)
            return child;
    }
    return nullptr;
}

bool ReadText(HWND window, std::wstring& text) {
    wchar_t buffer[512] = {};
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer), SMTO_NORMAL,
                             5000, &copied))
        return false;
    text.assign(buffer, copied < 512 ? copied : 511);
    return true;
}

HANDLE OpenOwner(HWND main) {
    DWORD processId = 0;
    GetWindowThreadProcessId(main, &processId);
    return OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
}

bool Counters(HANDLE process, PROCESS_MEMORY_COUNTERS& counters) {
    counters = {};
    counters.cb = sizeof counters;
    return GetProcessMemoryInfo(process, &counters, sizeof counters) != 0;
}

std::string CountersJson(const PROCESS_MEMORY_COUNTERS& c) {
    char text[256];
    std::snprintf(text, sizeof text,
                  "{\"peak_working_set\":%llu,\"working_set\":%llu,\"pagefile\":%llu,"
                  "\"peak_pagefile\":%llu}",
                  static_cast<unsigned long long>(c.PeakWorkingSetSize),
                  static_cast<unsigned long long>(c.WorkingSetSize),
                  static_cast<unsigned long long>(c.PagefileUsage),
                  static_cast<unsigned long long>(c.PeakPagefileUsage));
    return text;
}

int Mem() {
    HWND main = FindWindowW(MainClass, nullptr);
    if (!main)
        return Fail("no main window");
    HANDLE process = OpenOwner(main);
    PROCESS_MEMORY_COUNTERS counters{};
    if (!process || !Counters(process, counters))
        return Fail("GetProcessMemoryInfo failed");
    CloseHandle(process);
    Print("{\"ok\":true,\"mem\":" + CountersJson(counters) + "}");
    return 0;
}

int Ping(const std::vector<std::wstring>& args) {
    std::vector<std::wstring> until;
    int intervalMs = 10;
    double timeoutMs = 120000;
    for (size_t i = 0; i + 1 < args.size(); i += 2) {
        if (args[i] == L"--until")
            until.push_back(args[i + 1]);
        else if (args[i] == L"--interval")
            intervalMs = std::stoi(args[i + 1]);
        else if (args[i] == L"--timeout")
            timeoutMs = std::stod(args[i + 1]);
        else
            return Fail("unknown option");
    }
    HWND main = FindWindowW(MainClass, nullptr);
    HWND status = main ? StatusLine(main) : nullptr;
    if (!status)
        return Fail("no main window with a status line");
    HANDLE process = OpenOwner(main);
    if (!process)
        return Fail("cannot open the program's process");
    Print("{\"ready\":true}");

    std::string samples = "[", changes = "[";
    std::wstring last;
    bool first = true, reached = false;
    unsigned long long maxWorkingSet = 0, maxPagefile = 0;
    unsigned timeouts = 0, count = 0;
    const double start = Now();
    double nextMemory = start;
    PROCESS_MEMORY_COUNTERS counters{};
    while (Now() - start < timeoutMs) {
        DWORD_PTR ignored = 0;
        const double before = Now();
        const BOOL answered = SendMessageTimeoutW(main, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
        const double after = Now();
        if (!answered) {
            if (!IsWindow(main))
                break;
            ++timeouts;
        }
        char sample[64];
        std::snprintf(sample, sizeof sample, "%s[%.1f,%.3f]", count ? "," : "", before - start,
                      after - before);
        samples += sample;
        ++count;
        std::wstring text;
        if (!ReadText(status, text)) {
            if (!IsWindow(main))
                break;
        } else if (first || text != last) {
            char at[32];
            std::snprintf(at, sizeof at, "%s[%.1f,", first ? "" : ",", Now() - start);
            changes += at + json::String(text) + "]";
            last = text;
            first = false;
            bool done = false;
            for (const auto& t : until)
                done = done || t == text;
            if (done) {
                reached = true;
                break;
            }
        }
        if (Now() >= nextMemory && Counters(process, counters)) {
            maxWorkingSet =
                counters.WorkingSetSize > maxWorkingSet ? counters.WorkingSetSize : maxWorkingSet;
            maxPagefile =
                counters.PagefileUsage > maxPagefile ? counters.PagefileUsage : maxPagefile;
            nextMemory += 100;
        }
        Sleep(intervalMs);
    }
    Counters(process, counters);
    CloseHandle(process);
    char tail[256];
    std::snprintf(tail, sizeof tail,
                  ",\"reached\":%s,\"timeouts\":%u,\"max_working_set\":%llu,"
                  "\"max_pagefile\":%llu,\"mem\":",
                  reached ? "true" : "false", timeouts, maxWorkingSet, maxPagefile);
    Print("{\"ok\":true,\"samples\":" + samples + "],\"changes\":" + changes + "]" + tail +
          CountersJson(counters) + "}");
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::vector<std::wstring> args(argv + 1, argv + argc);
    const std::wstring command = args.empty() ? L"" : args.front();
    if (!args.empty())
        args.erase(args.begin());
    if (command == L"startup")
        return Startup(args);
    if (command == L"ping")
        return Ping(args);
    if (command == L"mem")
        return Mem();
    return Fail("usage: startup ... | ping ... | mem");
}
