// qmprobe.exe: looks at another process from outside for the hardening tests, tells what the
// system's message table holds for an error code, and plays the other program that has a file
// open. Prints one JSON object a line on stdout.
//   qmprobe process PID   the process's open handles (all, and registry keys apart), its
//                         pagefile usage and working set
//   qmprobe message CODE  the system's text for CODE, or null when it has none
//   qmprobe open PATH     tries once to open PATH for reading, sharing everything, the way a
//                         virus scanner or an indexer opens a file; prints the error code
//   qmprobe hold PATH MS [WAIT_MS]
//                         opens PATH for reading, letting others read and write but not rename
//                         or delete it, prints a line once it is held, holds it MS milliseconds
//                         and prints another line when it lets go. With WAIT_MS it keeps trying
//                         for that long, as fast as it can, while the open fails, and counts the
//                         codes it met; it gives up early once the file has vanished after being
//                         seen.
// Under Wine 8 GetProcessHandleCount and PrivateUsage read 0 for another process, so the handles
// are counted from the system's handle table (SystemExtendedHandleInformation), which Wine's
// server fills for real; both figures are printed so a reader sees which one works.
#include "../ui/driver/json.h"

#include <windows.h>
#include <psapi.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr ULONG kObjectTypesInformation = 3;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

struct HandleEntry {
    void* object;
    ULONG_PTR processId;
    ULONG_PTR handle;
    ULONG grantedAccess;
    USHORT creatorBackTraceIndex;
    USHORT objectTypeIndex;
    ULONG attributes;
    ULONG reserved;
};

struct HandleTable {
    ULONG_PTR count;
    ULONG_PTR reserved;
    HandleEntry entries[1];
};

struct CountedString {
    USHORT length;
    USHORT maximumLength;
    wchar_t* buffer;
};

// The head of OBJECT_TYPE_INFORMATION; its name's characters follow the whole structure.
struct TypeInformation {
    CountedString name;
    ULONG rest[22];
};

using QuerySystemInformation = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
using QueryObject = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);

template <typename F> F NtFunction(const char* name) {
    return reinterpret_cast<F>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), name)));
}

[[noreturn]] void Fail(const std::string& message) {
    std::printf("{\"ok\":false,\"error\":%s}\n",
                json::String(std::wstring(message.begin(), message.end())).c_str());
    std::exit(1);
}

std::vector<char> SystemHandles() {
    auto query = NtFunction<QuerySystemInformation>("NtQuerySystemInformation");
    if (!query)
        Fail("no NtQuerySystemInformation");
    std::vector<char> buffer(1 << 20);
    for (int attempt = 0; attempt < 8; ++attempt) {
        ULONG needed = 0;
        LONG status = query(kSystemExtendedHandleInformation, buffer.data(),
                            static_cast<ULONG>(buffer.size()), &needed);
        if (status == 0)
            return buffer;
        if (status != kStatusInfoLengthMismatch)
            Fail("NtQuerySystemInformation failed with " + std::to_string(status));
        buffer.resize(buffer.size() * 2);
    }
    Fail("the handle table keeps growing");
}

// The system's names of object types, in the order NtQueryObject lists them.
std::vector<std::wstring> TypeNames() {
    std::vector<std::wstring> names;
    auto query = NtFunction<QueryObject>("NtQueryObject");
    if (!query)
        return names;
    std::vector<char> buffer(1 << 16);
    ULONG needed = 0;
    if (query(nullptr, kObjectTypesInformation, buffer.data(), static_cast<ULONG>(buffer.size()),
              &needed) != 0)
        return names;
    const ULONG count = *reinterpret_cast<const ULONG*>(buffer.data());
    const char* at = buffer.data() + sizeof(void*);
    for (ULONG i = 0; i < count && at < buffer.data() + buffer.size(); ++i) {
        const auto* type = reinterpret_cast<const TypeInformation*>(at);
        names.emplace_back(type->name.buffer, type->name.length / sizeof(wchar_t));
        at += sizeof(TypeInformation) + ((type->name.maximumLength + 7u) & ~7u);
    }
    return names;
}

int Process(DWORD pid) {
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid);
    if (!process)
        Fail("OpenProcess failed with " + std::to_string(GetLastError()));
    DWORD reportedCount = 0;
    const bool countOk = GetProcessHandleCount(process, &reportedCount) != FALSE;
    PROCESS_MEMORY_COUNTERS_EX memory{};
    memory.cb = sizeof memory;
    if (!GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&memory),
                              sizeof memory))
        Fail("GetProcessMemoryInfo failed with " + std::to_string(GetLastError()));

    // A registry key of our own tells which type number the table gives keys.
    HKEY ownKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &ownKey) != ERROR_SUCCESS)
        Fail("cannot open a registry key");
    const std::vector<char> buffer = SystemHandles();
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    int keyType = -1;
    const DWORD self = GetCurrentProcessId();
    for (ULONG_PTR i = 0; i < table->count; ++i) {
        const HandleEntry& entry = table->entries[i];
        if (entry.processId == self && entry.handle == reinterpret_cast<ULONG_PTR>(ownKey))
            keyType = entry.objectTypeIndex;
    }
    RegCloseKey(ownKey);
    if (keyType < 0)
        Fail("our own registry key is not in the handle table");

    std::map<int, int> byType;
    int total = 0;
    for (ULONG_PTR i = 0; i < table->count; ++i) {
        const HandleEntry& entry = table->entries[i];
        if (entry.processId != pid)
            continue;
        ++total;
        ++byType[entry.objectTypeIndex];
    }
    if (total == 0)
        Fail("no handles of process " + std::to_string(pid) + " in the table");

    // Type numbers to names: the listing's position of "Key" against the number keys carry.
    const std::vector<std::wstring> names = TypeNames();
    int offset = 0;
    bool named = false;
    for (size_t i = 0; i < names.size(); ++i) {
        if (names[i] == L"Key") {
            offset = keyType - static_cast<int>(i);
            named = true;
        }
    }
    json::Object types;
    for (const auto& [type, count] : byType) {
        const int at = type - offset;
        std::wstring name = named && at >= 0 && at < static_cast<int>(names.size())
                                ? names[at]
                                : L"type" + std::to_wstring(type);
        types.Add(std::string(name.begin(), name.end()), json::Number(count));
    }
    const int keys = byType.count(keyType) ? byType[keyType] : 0;
    std::printf("%s\n", json::Object()
                            .Add("ok", json::Bool(true))
                            .Add("pid", json::Unsigned(pid))
                            .Add("handles", json::Number(total))
                            .Add("keys", json::Number(keys))
                            .Add("by_type", types.Text())
                            .Add("reported_handle_count",
                                 countOk ? json::Unsigned(reportedCount) : json::Null())
                            .Add("pagefile_usage", json::Unsigned(memory.PagefileUsage))
                            .Add("private_usage", json::Unsigned(memory.PrivateUsage))
                            .Add("working_set", json::Unsigned(memory.WorkingSetSize))
                            .Add("peak_working_set", json::Unsigned(memory.PeakWorkingSetSize))
                            .Text()
                            .c_str());
    CloseHandle(process);
    return 0;
}

int Message(DWORD code) {
    wchar_t* buffer = nullptr;
    const DWORD count = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_FROM_SYSTEM,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text = count && buffer ? json::String(std::wstring(buffer, count)) : json::Null();
    if (buffer)
        LocalFree(buffer);
    std::printf("%s\n", json::Object()
                            .Add("ok", json::Bool(true))
                            .Add("code", json::Unsigned(code))
                            .Add("text", text)
                            .Text()
                            .c_str());
    return 0;
}

std::wstring WidePath(const char* path) {
    std::wstring wide(std::strlen(path), L'\0');
    for (size_t i = 0; i < wide.size(); ++i)
        wide[i] = static_cast<unsigned char>(path[i]);
    return wide;
}

int Open(const char* path) {
    HANDLE file = CreateFileW(WidePath(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD code = file == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    std::printf("%s\n", json::Object()
                            .Add("ok", json::Bool(true))
                            .Add("opened", json::Bool(code == 0))
                            .Add("code", json::Unsigned(code))
                            .Text()
                            .c_str());
    return 0;
}

int Hold(const char* path, DWORD holdMs, DWORD waitMs) {
    const std::wstring name = WidePath(path);
    std::map<DWORD, unsigned> codes;
    bool seen = false;
    const ULONGLONG start = GetTickCount64();
    HANDLE file = INVALID_HANDLE_VALUE;
    for (;;) {
        file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE)
            break;
        const DWORD code = GetLastError();
        ++codes[code];
        const bool missing = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
        if ((missing && seen) || GetTickCount64() - start >= waitMs)
            break;
        seen = seen || !missing;
    }
    json::Object met;
    for (const auto& [code, count] : codes)
        met.Add(std::to_string(code), json::Unsigned(count));
    std::printf("%s\n", json::Object()
                            .Add("ok", json::Bool(file != INVALID_HANDLE_VALUE))
                            .Add("held", json::Bool(file != INVALID_HANDLE_VALUE))
                            .Add("codes", met.Text())
                            .Add("after_ms", json::Unsigned(GetTickCount64() - start))
                            .Text()
                            .c_str());
    std::fflush(stdout);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    Sleep(holdMs);
    CloseHandle(file);
    std::printf("{\"ok\":true,\"released\":true}\n");
    std::fflush(stdout);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "process")
        return Process(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
    if (argc == 3 && std::string(argv[1]) == "message")
        return Message(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)));
    if (argc == 3 && std::string(argv[1]) == "open")
        return Open(argv[2]);
    if ((argc == 4 || argc == 5) && std::string(argv[1]) == "hold")
        return Hold(argv[2], static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10)),
                    argc == 5 ? static_cast<DWORD>(std::strtoul(argv[4], nullptr, 10)) : 0);
    std::printf("{\"ok\":false,\"error\":\"usage: qmprobe process PID | message CODE | open "
                "PATH | hold PATH MS [WAIT_MS]\"}\n");
    return 2;
}
