// The engine tests' helpers: bed settings, a job run on a real worker thread with a window of the
// test's own as owner, seam restoration and directory snapshots on the NTFS drive. Test thread.
#include "tests/engine/harness.h"

#include <filesystem>

#include "download/download_worker.h"
#include "download/platform_seam.h"

namespace {

constexpr wchar_t OwnerClassName[] = L"QuillmereEngineTestOwner";

struct Received {
    int count = 0;
    WPARAM wParam = 0;
    DownloadOutcome* outcome = nullptr;
};
Received received;

LRESULT CALLBACK OwnerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DOWNLOAD_DONE) {
        ++received.count;
        received.wParam = wParam;
        if (received.outcome == nullptr) {
            received.outcome = reinterpret_cast<DownloadOutcome*>(lParam);
        } else {
            delete reinterpret_cast<DownloadOutcome*>(lParam); // a second one is a failure too
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND SharedOwner() {
    static HWND owner = CreateOwnerWindow();
    return owner;
}

} // namespace

std::string Narrow(const std::wstring& text) {
    if (text.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string narrow(size, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(), size,
                        nullptr, nullptr);
    return narrow;
}

std::wstring BedVariable(const wchar_t* name) {
    wchar_t value[1024];
    const DWORD length = GetEnvironmentVariableW(name, value, 1024);
    if (length == 0 || length >= 1024) {
        ADD_FAILURE() << "the bed variable " << Narrow(name) << " is not set: run inside the bed";
        return {};
    }
    return std::wstring(value, length);
}

std::wstring BedUrlOnPort(const wchar_t* portVariable, const std::wstring& pathAndMore) {
    return L"https://localhost:" + BedVariable(portVariable) + pathAndMore;
}

std::wstring BedUrl(const std::wstring& pathAndMore) {
    return BedUrlOnPort(L"QM_HTTPS_PORT", pathAndMore);
}

HWND CreateOwnerWindow() {
    static bool registered = false;
    if (!registered) {
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = OwnerWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = OwnerClassName;
        registered = RegisterClassW(&windowClass) != 0;
    }
    HWND window = CreateWindowExW(0, OwnerClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    EXPECT_NE(window, nullptr);
    return window;
}

JobResult RunJob(const std::wstring& url, const std::wstring& targetPath,
                 const JobOptions& options) {
    return RunJobOwnedBy(SharedOwner(), url, targetPath, options);
}

JobResult RunJobOwnedBy(HWND owner, const std::wstring& url, const std::wstring& targetPath,
                        const JobOptions& options) {
    received = Received{};
    appGlobals.russianUi = options.russianUi;
    appGlobals.cancelRequested.exchange(false);
    appGlobals.bytesReceived.exchange(0);
    appGlobals.contentLength.exchange(0);
    appGlobals.totalKnown.exchange(false);
    if (options.cancelBeforeStart) {
        appGlobals.cancelRequested.exchange(true);
    }

    auto* job = new DownloadJob{owner, url, targetPath, options.replaceExisting};
    const ULONGLONG started = GetTickCount64();
    HANDLE thread = CreateThread(nullptr, 0, DownloadWorker, job, 0, nullptr);
    JobResult result;
    if (thread == nullptr) {
        ADD_FAILURE() << "CreateThread failed: " << GetLastError();
        delete job;
        return result;
    }
    for (;;) {
        const DWORD wait = MsgWaitForMultipleObjects(1, &thread, FALSE, 5, QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
        if (wait == WAIT_OBJECT_0) {
            break;
        }
        if (options.whileRunning) {
            options.whileRunning();
        }
    }
    // The post happened before the thread ended, so it is in the queue by now.
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
    }
    CloseHandle(thread);
    result.seconds = static_cast<double>(GetTickCount64() - started) / 1000.0;
    result.outcome.reset(received.outcome);
    result.messagesReceived = received.count;
    result.wParam = received.wParam;
    result.totalKnown = appGlobals.totalKnown.load();
    result.contentLength = appGlobals.contentLength.load();
    result.bytesReceived = appGlobals.bytesReceived.load();
    received = Received{};
    return result;
}

bool IsBedBody(const std::string& bytes, std::uint64_t expectedSize) {
    if (bytes.size() != expectedSize) {
        return false;
    }
    for (std::uint64_t i = 0; i < bytes.size(); ++i) {
        if (static_cast<unsigned char>(bytes[i]) != BodyByte(i)) {
            return false;
        }
    }
    return true;
}

FileRead ReadWholeFile(const std::wstring& path) {
    FileRead read;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return read;
    }
    read.exists = true;
    char buffer[65536];
    DWORD count = 0;
    while (ReadFile(file, buffer, sizeof buffer, &count, nullptr) && count != 0) {
        read.bytes.append(buffer, count);
    }
    CloseHandle(file);
    return read;
}

void WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << Narrow(path) << ": " << GetLastError();
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    EXPECT_EQ(written, bytes.size());
    CloseHandle(file);
}

DirectorySnapshot SnapshotDirectory(const std::wstring& directory) {
    DirectorySnapshot snapshot;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
        const std::wstring name = entry.path().filename().wstring();
        const std::wstring path = directory + L"\\" + name;
        FileState state;
        state.bytes = ReadWholeFile(path).bytes;
        const FileRead zone = ReadWholeFile(path + L":Zone.Identifier");
        state.hasZoneStream = zone.exists;
        state.zoneStream = zone.bytes;
        snapshot[name] = state;
    }
    EXPECT_FALSE(error) << "listing " << Narrow(directory) << ": " << error.message();
    return snapshot;
}

std::wstring DescribeSnapshot(const DirectorySnapshot& snapshot) {
    std::wstring text;
    for (const auto& [name, state] : snapshot) {
        text += name + L" (" + std::to_wstring(state.bytes.size()) + L" bytes" +
                (state.hasZoneStream ? L", zone stream" : L"") + L")\n";
    }
    return text.empty() ? L"(empty)\n" : text;
}

void EngineTest::SetUp() {
    platformSeam = RealPlatformSeam();
    appGlobals.russianUi = false;
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    const std::wstring drive = BedVariable(L"QM_NTFS_DRIVE");
    ASSERT_FALSE(drive.empty());
    directory = drive + L"\\engine\\" + std::wstring(name.begin(), name.end());
    std::error_code error;
    std::filesystem::remove_all(directory, error);
    ASSERT_FALSE(error) << "clearing " << name << ": " << error.message();
    std::filesystem::create_directories(directory, error);
    ASSERT_FALSE(error) << "creating " << name << ": " << error.message();
}

void EngineTest::TearDown() {
    platformSeam = RealPlatformSeam();
    appGlobals.russianUi = false;
    appGlobals.cancelRequested.exchange(false);
}
