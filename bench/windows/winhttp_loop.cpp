// The yardstick for the program's download speed: a bare synchronous WinHTTP GET with the same
// session options as the download worker, reading the body in 64 KiB pieces and either writing each
// piece to a file (flushed once at the end) or dropping it. Prints one JSON line with the time from
// the session's opening to the closed file.
//
// Usage: qmbench_winhttp_loop URL (--out PATH | --discard) [--settle MS]
// The clock starts only after MS milliseconds (default 1000), once the start-up work that Wine does
// around a new console process (its console host, services) has settled; the program's download,
// to which this is compared, starts long after its own process has.
#include <windows.h>
#include <winhttp.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr DWORD PieceSize = 65536;
constexpr int TimeoutMs = 15000;

unsigned char piece[PieceSize];

double MillisecondsBetween(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
}

int Failed(const char* what, DWORD code) {
    std::printf("{\"ok\":false,\"error\":\"%s\",\"code\":%lu}\n", what,
                static_cast<unsigned long>(code));
    return 1;
}

struct Handles {
    HINTERNET session = nullptr;
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;
    HANDLE file = INVALID_HANDLE_VALUE;
    ~Handles() {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        if (request)
            WinHttpCloseHandle(request);
        if (connection)
            WinHttpCloseHandle(connection);
        if (session)
            WinHttpCloseHandle(session);
    }
};

} // namespace

int wmain(int argc, wchar_t** argv) {
    std::wstring url, outPath;
    bool discard = false, usage = argc < 3;
    DWORD settleMs = 1000;
    for (int i = 2; i < argc && !usage; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--discard")
            discard = true;
        else if (arg == L"--out" && i + 1 < argc)
            outPath = argv[++i];
        else if (arg == L"--settle" && i + 1 < argc)
            settleMs = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
        else
            usage = true;
    }
    if (usage || discard == !outPath.empty()) {
        std::printf("{\"ok\":false,\"error\":\"usage: URL (--out PATH | --discard) "
                    "[--settle MS]\"}\n");
        return 2;
    }
    url = argv[1];
    Sleep(settleMs);

    LARGE_INTEGER start{};
    QueryPerformanceCounter(&start);

    Handles h;
    h.session = WinHttpOpen(L"Quillmere/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                            WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!h.session)
        return Failed("WinHttpOpen", GetLastError());
    WinHttpSetTimeouts(h.session, TimeoutMs, TimeoutMs, TimeoutMs, TimeoutMs);

    wchar_t host[256] = {};
    wchar_t path[2048] = {};
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = 256;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = 2048;
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts))
        return Failed("WinHttpCrackUrl", GetLastError());

    h.connection = WinHttpConnect(h.session, host, parts.nPort, 0);
    if (!h.connection)
        return Failed("WinHttpConnect", GetLastError());
    h.request = WinHttpOpenRequest(h.connection, L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                   WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
    if (!h.request)
        return Failed("WinHttpOpenRequest", GetLastError());
    DWORD redirectPolicy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
    WinHttpSetOption(h.request, WINHTTP_OPTION_REDIRECT_POLICY, &redirectPolicy,
                     sizeof redirectPolicy);
    DWORD redirectLimit = 5;
    WinHttpSetOption(h.request, WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, &redirectLimit,
                     sizeof redirectLimit);

    if (!WinHttpSendRequest(h.request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0,
                            0, 0))
        return Failed("WinHttpSendRequest", GetLastError());
    if (!WinHttpReceiveResponse(h.request, nullptr))
        return Failed("WinHttpReceiveResponse", GetLastError());
    DWORD status = 0;
    DWORD statusLength = sizeof status;
    if (!WinHttpQueryHeaders(h.request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusLength,
                             WINHTTP_NO_HEADER_INDEX))
        return Failed("WinHttpQueryHeaders", GetLastError());
    if (status != 200)
        return Failed("status", status);
    // The worker reads the announced size as text too.
    wchar_t lengthText[64] = {};
    DWORD lengthBytes = sizeof lengthText;
    WinHttpQueryHeaders(h.request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                        lengthText, &lengthBytes, WINHTTP_NO_HEADER_INDEX);

    if (!discard) {
        h.file = CreateFileW(outPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h.file == INVALID_HANDLE_VALUE)
            return Failed("CreateFileW", GetLastError());
    }

    unsigned long long total = 0;
    unsigned long long reads = 0;
    for (;;) {
        DWORD count = 0;
        if (!WinHttpReadData(h.request, piece, PieceSize, &count))
            return Failed("WinHttpReadData", GetLastError());
        if (count == 0)
            break;
        ++reads;
        if (!discard) {
            DWORD done = 0;
            while (done < count) {
                DWORD written = 0;
                if (!WriteFile(h.file, piece + done, count - done, &written, nullptr) ||
                    written == 0)
                    return Failed("WriteFile", GetLastError());
                done += written;
            }
        }
        total += count;
    }
    if (!discard) {
        if (!FlushFileBuffers(h.file))
            return Failed("FlushFileBuffers", GetLastError());
        CloseHandle(h.file);
        h.file = INVALID_HANDLE_VALUE;
    }

    LARGE_INTEGER end{};
    QueryPerformanceCounter(&end);
    const double ms = MillisecondsBetween(start, end);
    std::printf("{\"ok\":true,\"mode\":\"%s\",\"bytes\":%llu,\"reads\":%llu,\"ms\":%.3f}\n",
                discard ? "discard" : "write", total, reads, ms);
    return 0;
}
