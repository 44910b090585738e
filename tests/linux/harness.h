// Shared helpers of the Linux engine tests: the bed's settings, one job run on a real worker
// thread with its outcome received as the window would receive it, the platform seam put back
// after each test, and directory snapshots with the zone attribute. Test thread, except the worker
// and the seam functions it calls.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "download/download_state.h"

// A variable of the bed's environment; the test fails when it is missing.
std::string BedVariable(const char* name);
// "https://localhost:<QM_HTTPS_PORT>" followed by pathAndMore.
std::string BedUrl(const std::string& pathAndMore);

struct JobOptions {
    bool replaceExisting = false;
    bool russianUi = false;
    bool cancelBeforeStart = false;
    // Called on the test thread about every 5 ms while the worker runs.
    std::function<void()> whileRunning;
    // Called on the worker's thread before the job starts.
    std::function<void()> onWorkerThread;
};

struct JobResult {
    std::unique_ptr<DownloadOutcome> outcome; // null when nothing was handed over
    int handedOver = 0;
    bool totalKnown = false; // the atomics as the worker left them
    std::uint64_t contentLength = 0;
    std::uint64_t bytesReceived = 0;
    double seconds = 0;
};

// Resets the four atomics as the Download command does, runs DownloadWorker on a thread of its
// own with a new job (which the worker frees), waits for the thread and returns what was handed
// over to the owner.
JobResult RunJob(const std::string& url, const std::string& targetPath,
                 const JobOptions& options = {});

// Byte i of every bed body.
inline unsigned char BodyByte(std::uint64_t i) {
    return static_cast<unsigned char>((i * 131 + 7) % 256);
}
bool IsBedBody(const std::string& bytes, std::uint64_t expectedSize);

std::string ReadWholeFile(const std::string& path, bool* exists = nullptr);
void WriteWholeFile(const std::string& path, const std::string& bytes);

// Every file of a directory with its content and its zone attribute, to compare a directory
// before and after a job byte for byte.
struct FileState {
    std::string bytes;
    bool hasZoneMark = false;
    std::string zoneMark;
    bool operator==(const FileState&) const = default;
};
using DirectorySnapshot = std::map<std::string, FileState>;
DirectorySnapshot SnapshotDirectory(const std::string& directory);
std::string DescribeSnapshot(const DirectorySnapshot& snapshot);

inline const std::string ZoneMark = "[ZoneTransfer]\r\nZoneId=3\r\n";

// Puts the real functions back into the platform seam and resets the language after every test,
// and gives each test an empty directory of its own in the bed (on the build tree's file system).
class LinuxEngineTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    // An empty directory of this test's own under `root`.
    std::string FreshDirectory(const std::string& root);
    std::string directory;
    std::string Target(const std::string& name) const { return directory + "/" + name; }
};

// The outcome of a job that must fail on a destination that exists, leaving the directory as it
// was; the test goes on with the outcome.
JobResult FailLeavingDirectory(const std::string& url, const std::string& directory,
                               bool russian = false);
