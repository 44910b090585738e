// Shared helpers of the engine tests: the bed's settings, running one job on a real worker thread
// with its outcome received in a window of the test's own, the platform seam put back after each
// test, and file checks on the bed's NTFS drive. Everything runs on the test's main thread except
// the worker and the seam functions it calls.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "download/download_state.h"

// A variable of the bed's environment; the test fails when it is missing.
std::wstring BedVariable(const wchar_t* name);

// "https://localhost:<QM_HTTPS_PORT>" followed by pathAndMore.
std::wstring BedUrl(const std::wstring& pathAndMore);
std::wstring BedUrlOnPort(const wchar_t* portVariable, const std::wstring& pathAndMore);

struct JobOptions {
    bool replaceExisting = false;
    bool russianUi = false;
    bool cancelBeforeStart = false;
    // Called on the test thread about every 5 ms while the worker runs.
    std::function<void()> whileRunning;
};

struct JobResult {
    std::unique_ptr<DownloadOutcome> outcome; // null when no WM_DOWNLOAD_DONE arrived
    int messagesReceived = 0;
    WPARAM wParam = 0;
    bool totalKnown = false; // the atomics as the worker left them
    std::uint64_t contentLength = 0;
    std::uint64_t bytesReceived = 0;
    double seconds = 0;
};

// Resets the four atomics as the Download command does, starts DownloadWorker with a new job
// with CreateThread, pumps messages until the thread has ended and every posted message is in,
// and returns what arrived. The job goes to the worker, as in the program.
JobResult RunJob(const std::wstring& url, const std::wstring& targetPath,
                 const JobOptions& options = {});
JobResult RunJobOwnedBy(HWND owner, const std::wstring& url, const std::wstring& targetPath,
                        const JobOptions& options = {});

// A window of the test's own that receives WM_DOWNLOAD_DONE; destroyed windows make the post fail.
HWND CreateOwnerWindow();

// Byte i of every bed body.
inline unsigned char BodyByte(std::uint64_t i) {
    return static_cast<unsigned char>((i * 131 + 7) % 256);
}
bool IsBedBody(const std::string& bytes, std::uint64_t expectedSize);

// Whole file as bytes; "missing" tells a file that could not be opened.
struct FileRead {
    bool exists = false;
    std::string bytes;
};
FileRead ReadWholeFile(const std::wstring& path);
void WriteWholeFile(const std::wstring& path, const std::string& bytes);

// Every file of a directory with its content and its Zone.Identifier stream, for comparing a
// directory before and after a job byte for byte.
struct FileState {
    std::string bytes;
    bool hasZoneStream = false;
    std::string zoneStream;
    bool operator==(const FileState&) const = default;
};
using DirectorySnapshot = std::map<std::wstring, FileState>;
DirectorySnapshot SnapshotDirectory(const std::wstring& directory);
std::wstring DescribeSnapshot(const DirectorySnapshot& snapshot);

// Restores the real system functions in the platform seam and resets the language after every
// test, and gives each test an empty directory of its own on the bed's NTFS drive.
class EngineTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    std::wstring directory; // N:\engine\<suite>.<test>, empty
    std::wstring Target(const wchar_t* name) const { return directory + L"\\" + name; }
};

// The text of a std::wstring for test messages.
std::string Narrow(const std::wstring& text);
