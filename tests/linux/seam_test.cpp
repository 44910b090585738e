// Failures a real machine will not produce on demand, through the platform seam: short, silent and
// failing writes, a write-out the disk reports as failed while the body arrives, a failed flush, a
// file system that refuses the rename without replacement (and hard links), a failed rename, and an
// outcome nobody takes. Test thread; the seam functions run on the worker.
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>

#include "download/platform_seam.h"
#include "download/system_error.h"
#include "tests/linux/harness.h"

namespace {

class LinuxSeam : public LinuxEngineTest {
  protected:
    std::string SystemText(int code) const { return FormatSystemError(SystemError(code), false); }
};

int writes = 0;

TEST_F(LinuxSeam, PartialWritesAreResumedWhereTheyStopped) {
    writes = 0;
    platformSeam.write = [](int fd, const void* data, size_t count) -> ssize_t {
        ++writes;
        return ::write(fd, data, count > 1000 ? 1000 : count);
    };
    const JobResult result = RunJob(BedUrl("/ok/100000"), Target("dest.bin"));
    ASSERT_TRUE(result.outcome);
    EXPECT_TRUE(result.outcome->succeeded) << result.outcome->errorText;
    EXPECT_GE(writes, 100);
    EXPECT_TRUE(IsBedBody(ReadWholeFile(Target("dest.bin")), 100000));
}

TEST_F(LinuxSeam, FailedAndSilentWritesFailTheJobWithAnErrorText) {
    struct Case {
        ssize_t result;
        int error;
        int expected;
    };
    for (const Case& c : {Case{-1, ENOSPC, ENOSPC}, Case{0, 0, EIO}, Case{-1, 0, EIO}}) {
        static Case current;
        current = c;
        platformSeam.write = [](int, const void*, size_t) -> ssize_t {
            errno = current.error;
            return current.result;
        };
        const JobResult result = FailLeavingDirectory(BedUrl("/ok/1000"), directory);
        ASSERT_TRUE(result.outcome);
        EXPECT_EQ(result.outcome->errorText, SystemText(c.expected)) << c.result << " " << c.error;
        EXPECT_EQ(result.outcome->bytesWritten, 0u);
    }
}

TEST_F(LinuxSeam, AWriteOutThatFailsWhileTheBodyArrivesFailsTheJob) {
    // The wait for a written-out part of the file is where the disk reports the failure; once it
    // has, the flush at the end would report nothing.
    platformSeam.syncFileRange = [](int fd, off_t offset, off_t count, unsigned flags) {
        if (flags & SYNC_FILE_RANGE_WAIT_AFTER) {
            errno = EIO;
            return -1;
        }
        return ::sync_file_range(fd, offset, count, flags);
    };
    const std::uint64_t size = 40 << 20;
    const JobResult result = FailLeavingDirectory(BedUrl("/ok/" + std::to_string(size)), directory);
    ASSERT_TRUE(result.outcome);
    EXPECT_EQ(result.outcome->errorText, "Input/output error");
    EXPECT_LT(result.outcome->bytesWritten, size);
}

TEST_F(LinuxSeam, AFailedFlushFailsTheJob) {
    platformSeam.fsync = [](int) {
        errno = EIO;
        return -1;
    };
    const JobResult result = FailLeavingDirectory(BedUrl("/ok/1000"), directory);
    ASSERT_TRUE(result.outcome);
    EXPECT_EQ(result.outcome->errorText, "Input/output error");
}

TEST_F(LinuxSeam, WhereTheRenameWithoutReplacementIsRefusedALinkDoesTheCommit) {
    platformSeam.renameat2 = [](int, const char*, int, const char*, unsigned) {
        errno = EINVAL;
        return -1;
    };
    const JobResult committed = RunJob(BedUrl("/ok/1000"), Target("dest.bin"));
    ASSERT_TRUE(committed.outcome);
    EXPECT_TRUE(committed.outcome->succeeded) << committed.outcome->errorText;
    DirectorySnapshot after = SnapshotDirectory(directory);
    EXPECT_EQ(after.size(), 1u) << DescribeSnapshot(after);
    EXPECT_EQ(after["dest.bin"].zoneMark, ZoneMark);

    // The link never replaces: a destination that is there stays as it is.
    const JobResult refused = RunJob(BedUrl("/ok/10"), Target("dest.bin"));
    ASSERT_TRUE(refused.outcome);
    EXPECT_EQ(refused.outcome->errorText, SystemText(EEXIST));
    EXPECT_TRUE(IsBedBody(ReadWholeFile(Target("dest.bin")), 1000));
    EXPECT_EQ(SnapshotDirectory(directory).size(), 1u);

    // No hard links either, and a name taken after the rename was refused: still not replaced.
    platformSeam.link = [](const char*, const char*) {
        errno = EPERM;
        return -1;
    };
    const JobResult noLinks = RunJob(BedUrl("/ok/10"), Target("dest.bin"));
    ASSERT_TRUE(noLinks.outcome);
    EXPECT_EQ(noLinks.outcome->errorText, SystemText(EEXIST));
    EXPECT_TRUE(IsBedBody(ReadWholeFile(Target("dest.bin")), 1000));
    EXPECT_EQ(SnapshotDirectory(directory).size(), 1u);
}

TEST_F(LinuxSeam, AFailedRenameFailsTheJobAndKeepsTheDestination) {
    platformSeam.rename = [](const char*, const char*) {
        errno = EXDEV;
        return -1;
    };
    const JobResult result = FailLeavingDirectory(BedUrl("/ok/1000"), directory);
    ASSERT_TRUE(result.outcome);
    EXPECT_EQ(result.outcome->errorText, SystemText(EXDEV));
}

TEST_F(LinuxSeam, AnOutcomeNobodyTakesIsFreedByTheWorker) {
    // LeakSanitizer, in the sanitized run, fails the program if it is not.
    platformSeam.postOutcome = [](void*, DownloadOutcome*) { return false; };
    const JobResult result = RunJob(BedUrl("/ok/10"), Target("dest.bin"));
    EXPECT_EQ(result.handedOver, 0);
    EXPECT_FALSE(result.outcome);
    EXPECT_TRUE(std::filesystem::exists(Target("dest.bin")));
}

} // namespace
