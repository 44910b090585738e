// The Linux engine tests' helpers. The owner of each job is a slot of the test's own; the worker
// hands its outcome over through PostDownloadDone as it would to the window. Test thread.
#include "tests/linux/harness.h"

#include <dirent.h>
#include <sys/xattr.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "download/download_worker.h"
#include "download/platform_seam.h"
#include "download/staging.h"

namespace {

struct Received {
    std::atomic<int> count{0};
    std::atomic<DownloadOutcome*> outcome{nullptr};
};
Received received;

} // namespace

// The window's side of the hand-over, as the tests play it: keep the first outcome, count all.
bool PostDownloadDone(void* owner, DownloadOutcome* outcome) {
    auto* slot = static_cast<Received*>(owner);
    ++slot->count;
    DownloadOutcome* expected = nullptr;
    if (!slot->outcome.compare_exchange_strong(expected, outcome)) {
        delete outcome; // a second one is a failure too, counted above
    }
    return true;
}

std::string BedVariable(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') {
        ADD_FAILURE() << "the bed variable " << name
                      << " is not set: run inside tests/linux/bed.sh";
        return {};
    }
    return value;
}

std::string BedUrl(const std::string& pathAndMore) {
    return "https://localhost:" + BedVariable("QM_HTTPS_PORT") + pathAndMore;
}

JobResult RunJob(const std::string& url, const std::string& targetPath, const JobOptions& options) {
    received.count = 0;
    received.outcome = nullptr;
    appGlobals.russianUi = options.russianUi;
    appGlobals.cancelRequested.exchange(false);
    appGlobals.bytesReceived.exchange(0);
    appGlobals.contentLength.exchange(0);
    appGlobals.totalKnown.exchange(false);
    if (options.cancelBeforeStart) {
        appGlobals.cancelRequested.exchange(true);
    }

    auto* job = new DownloadJob{&received, url, targetPath, options.replaceExisting};
    const auto started = std::chrono::steady_clock::now();
    std::atomic<bool> ended{false};
    std::thread worker([job, &ended, &options] {
        if (options.onWorkerThread) {
            options.onWorkerThread();
        }
        DownloadWorker(job);
        ended = true;
    });
    while (!ended) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (options.whileRunning && !ended) {
            options.whileRunning();
        }
    }
    worker.join();
    JobResult result;
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    result.outcome.reset(received.outcome.exchange(nullptr));
    result.handedOver = received.count;
    result.totalKnown = appGlobals.totalKnown.load();
    result.contentLength = appGlobals.contentLength.load();
    result.bytesReceived = appGlobals.bytesReceived.load();
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

std::string ReadWholeFile(const std::string& path, bool* exists) {
    std::ifstream file(path, std::ios::binary);
    if (exists != nullptr) {
        *exists = file.is_open();
    }
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(file.is_open()) << path;
    file << bytes;
}

DirectorySnapshot SnapshotDirectory(const std::string& directory) {
    DirectorySnapshot snapshot;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        const std::string path = entry.path().string();
        FileState state;
        state.bytes = ReadWholeFile(path);
        char mark[256];
        const ssize_t length = getxattr(path.c_str(), ZoneAttributeName, mark, sizeof mark);
        state.hasZoneMark = length >= 0;
        if (length > 0) {
            state.zoneMark.assign(mark, static_cast<std::size_t>(length));
        }
        snapshot[entry.path().filename().string()] = state;
    }
    return snapshot;
}

std::string DescribeSnapshot(const DirectorySnapshot& snapshot) {
    std::string text;
    for (const auto& [name, state] : snapshot) {
        text += name + " (" + std::to_string(state.bytes.size()) + " bytes" +
                (state.hasZoneMark ? ", zone mark" : "") + ")\n";
    }
    return text.empty() ? "(empty)\n" : text;
}

std::string LinuxEngineTest::FreshDirectory(const std::string& root) {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    const std::string path = root + "/" + name;
    std::filesystem::remove_all(path);
    std::filesystem::create_directories(path);
    return path;
}

void LinuxEngineTest::SetUp() {
    platformSeam = RealPlatformSeam();
    appGlobals.russianUi = false;
    directory = FreshDirectory(BedVariable("QM_BED_DIR") + "/files");
}

void LinuxEngineTest::TearDown() {
    platformSeam = RealPlatformSeam();
    appGlobals.russianUi = false;
    appGlobals.cancelRequested.exchange(false);
}

JobResult FailLeavingDirectory(const std::string& url, const std::string& directory, bool russian) {
    const std::string target = directory + "/dest.bin";
    WriteWholeFile(target, "the destination as it was before the job");
    const DirectorySnapshot before = SnapshotDirectory(directory);
    JobOptions options;
    options.replaceExisting = true;
    options.russianUi = russian;
    JobResult result = RunJob(url, target, options);
    EXPECT_EQ(result.handedOver, 1) << url;
    if (result.outcome) {
        EXPECT_FALSE(result.outcome->succeeded) << url;
        EXPECT_FALSE(result.outcome->cancelled) << url;
        EXPECT_EQ(result.outcome->targetPath, target);
    }
    const DirectorySnapshot after = SnapshotDirectory(directory);
    EXPECT_EQ(after, before) << url << " left:\n" << DescribeSnapshot(after);
    return result;
}
