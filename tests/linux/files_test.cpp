// The file side of whole jobs: staging names beside the destination, exclusive creation, the mode
// the umask leaves, the zone mark as an extended attribute, the commit without and with
// replacement, the replaced file's protection, links, long names, a disk too small, cancellation at
// the poll points; on the build tree's file system, on a tmpfs of 4 MiB, on exFAT through FUSE and
// on a real NTFS volume (ntfs-3g), where the mark must read back as the file's Zone.Identifier
// stream.
// Test thread; each job on a worker thread of its own.
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "core/staging_name.h"
#include "download/staging.h"
#include "download/system_error.h"
#include "tests/linux/harness.h"

namespace {

class LinuxFiles : public LinuxEngineTest {
  protected:
    std::string Staging(unsigned n) const {
        return core::StagingFileName(Target("dest.bin"), static_cast<std::uint32_t>(getpid()), n);
    }
    std::string SystemText(int code) const { return FormatSystemError(SystemError(code), false); }
};

TEST_F(LinuxFiles, TakenStagingNamesAreSkippedAndLeftAlone) {
    WriteWholeFile(Staging(0), "zero");
    WriteWholeFile(Staging(1), "one");
    const DirectorySnapshot before = SnapshotDirectory(directory);
    std::string seenStaging;
    JobOptions options;
    options.whileRunning = [&] {
        if (seenStaging.empty() && std::filesystem::exists(Staging(2))) {
            seenStaging = Staging(2);
        }
    };
    const JobResult result = RunJob(BedUrl("/paced/200000?ms=50"), Target("dest.bin"), options);
    ASSERT_TRUE(result.outcome);
    EXPECT_TRUE(result.outcome->succeeded) << result.outcome->errorText;
    EXPECT_EQ(seenStaging, Staging(2));
    DirectorySnapshot after = SnapshotDirectory(directory);
    EXPECT_TRUE(IsBedBody(after["dest.bin"].bytes, 200000));
    after.erase("dest.bin");
    EXPECT_EQ(after, before) << DescribeSnapshot(after);
}

TEST_F(LinuxFiles, AllHundredNamesTakenFailsWithFileExists) {
    for (unsigned n = 0; n < core::StagingAttempts; ++n) {
        WriteWholeFile(Staging(n), std::to_string(n));
    }
    const JobResult result = FailLeavingDirectory(BedUrl("/ok/10"), directory);
    ASSERT_TRUE(result.outcome);
    EXPECT_EQ(result.outcome->errorText, SystemText(EEXIST));
    EXPECT_EQ(result.outcome->errorText, "File exists");
}

TEST_F(LinuxFiles, AStagingFileThatCannotBeCreatedEndsTheJobWithItsError) {
    const JobResult result = RunJob(BedUrl("/ok/10"), directory + "/missing/dest.bin");
    ASSERT_TRUE(result.outcome);
    EXPECT_EQ(result.outcome->errorText, "No such file or directory");
    EXPECT_TRUE(std::filesystem::is_empty(directory));
}

TEST_F(LinuxFiles, TheCommittedFileHasTheModeTheUmaskLeavesAndTheZoneMark) {
    const mode_t previous = umask(027);
    const JobResult result = RunJob(BedUrl("/ok/1000"), Target("dest.bin"));
    umask(previous);
    ASSERT_TRUE(result.outcome);
    EXPECT_TRUE(result.outcome->succeeded) << result.outcome->errorText;
    struct stat status {};
    ASSERT_EQ(stat(Target("dest.bin").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    char mark[64];
    const ssize_t length =
        getxattr(Target("dest.bin").c_str(), "user.Zone.Identifier", mark, sizeof mark);
    ASSERT_EQ(length, 26);
    EXPECT_EQ(std::string(mark, 26), ZoneMark);
}

TEST_F(LinuxFiles, ADestinationThatAppearedIsNotReplacedUnlessReplacingWasConfirmed) {
    // Chosen while free, taken by the time of the commit: the commit must not replace it.
    WriteWholeFile(Target("dest.bin"), "someone else's");
    const JobResult refused = RunJob(BedUrl("/ok/1000"), Target("dest.bin"));
    ASSERT_TRUE(refused.outcome);
    EXPECT_EQ(refused.outcome->errorText, SystemText(EEXIST));
    DirectorySnapshot after = SnapshotDirectory(directory);
    EXPECT_EQ(after.size(), 1u) << DescribeSnapshot(after);
    EXPECT_EQ(after["dest.bin"].bytes, "someone else's");

    JobOptions replace;
    replace.replaceExisting = true;
    const JobResult replaced = RunJob(BedUrl("/ok/1000"), Target("dest.bin"), replace);
    ASSERT_TRUE(replaced.outcome);
    EXPECT_TRUE(replaced.outcome->succeeded) << replaced.outcome->errorText;
    after = SnapshotDirectory(directory);
    EXPECT_EQ(after.size(), 1u) << DescribeSnapshot(after);
    EXPECT_TRUE(IsBedBody(after["dest.bin"].bytes, 1000));
    EXPECT_EQ(after["dest.bin"].zoneMark, ZoneMark);
}

TEST_F(LinuxFiles, CancelEndsTheJobAtThePollPointsAndDeletesTheStagingFile) {
    // Already set at the start: the transfer is made but nothing is sent.
    JobOptions before;
    before.cancelBeforeStart = true;
    const JobResult early = RunJob(BedUrl("/ok/10"), Target("dest.bin"), before);
    ASSERT_TRUE(early.outcome);
    EXPECT_TRUE(early.outcome->cancelled);
    EXPECT_EQ(early.outcome->errorText, "");
    // With a refused URL the refusal stays beside the cancellation.
    const JobResult refused = RunJob("http://localhost/", Target("dest.bin"), before);
    ASSERT_TRUE(refused.outcome);
    EXPECT_TRUE(refused.outcome->cancelled);
    EXPECT_EQ(refused.outcome->errorText,
              "Enter a valid HTTPS URL without a username or password.");

    // While the body flows: at most one more chunk after the request is seen.
    JobOptions during;
    std::uint64_t seenAtCancel = 0;
    during.whileRunning = [&] {
        const std::uint64_t received = appGlobals.bytesReceived.load();
        if (received >= 3 * 65536 && !appGlobals.cancelRequested.load()) {
            seenAtCancel = received;
            appGlobals.cancelRequested.exchange(true);
        }
    };
    const JobResult cancelled = RunJob(BedUrl("/paced/2000000?ms=100"), Target("dest.bin"), during);
    ASSERT_TRUE(cancelled.outcome);
    EXPECT_TRUE(cancelled.outcome->cancelled);
    EXPECT_EQ(cancelled.outcome->errorText, "");
    EXPECT_LE(cancelled.outcome->bytesWritten, seenAtCancel + 65536);
    EXPECT_LT(cancelled.seconds, 5.0);
    EXPECT_TRUE(std::filesystem::is_empty(directory))
        << DescribeSnapshot(SnapshotDirectory(directory));

    // A server that stops sending does not hold the cancellation until its time-out.
    JobOptions stalled;
    int ticksAfterTheFirstPiece = 0;
    stalled.whileRunning = [&] {
        if (appGlobals.bytesReceived.load() == 65536 && ++ticksAfterTheFirstPiece == 60) {
            appGlobals.cancelRequested.exchange(true);
        }
    };
    const JobResult stall = RunJob(BedUrl("/stall/1000000"), Target("dest.bin"), stalled);
    ASSERT_TRUE(stall.outcome);
    EXPECT_TRUE(stall.outcome->cancelled);
    EXPECT_LT(stall.seconds, 5.0);
    EXPECT_TRUE(std::filesystem::is_empty(directory));
}

// Replacing a file of someone else's, as a user who may not give the new file away (the worker
// thread's file system identity alone is a plain user's): the new file is that user's, and no one
// gains access that the old file did not give them: the group that could not be kept reads
// nothing, as others could not.
TEST_F(LinuxFiles, AReplacedFileThatCannotKeepItsOwnerIsNeverMoreOpen) {
    ASSERT_EQ(chmod(directory.c_str(), 0777), 0);
    WriteWholeFile(Target("shared.bin"), "old");
    ASSERT_EQ(chown(Target("shared.bin").c_str(), 4321, 4321), 0);
    ASSERT_EQ(chmod(Target("shared.bin").c_str(), 0660), 0);
    JobOptions asUser;
    asUser.replaceExisting = true;
    asUser.onWorkerThread = [] {
        syscall(SYS_setfsgid, 1000);
        syscall(SYS_setfsuid, 1000);
    };
    const JobResult result = RunJob(BedUrl("/ok/1000"), Target("shared.bin"), asUser);
    ASSERT_TRUE(result.outcome);
    EXPECT_TRUE(result.outcome->succeeded) << result.outcome->errorText;
    struct stat status {};
    ASSERT_EQ(stat(Target("shared.bin").c_str(), &status), 0);
    EXPECT_EQ(status.st_uid, 1000u);
    EXPECT_EQ(status.st_gid, 1000u);
    EXPECT_EQ(status.st_mode & 07777, 0600u);
}

// A destination that is a symbolic link, or a chain of them, relative or absolute: the file at the
// end gets the new bytes beside it and the links stay links; the outcome names what the user
// chose. A link whose end is missing gets its file made there.
TEST_F(LinuxFiles, ADestinationThatIsALinkReplacesTheFileItPointsTo) {
    std::filesystem::create_directory(Target("real"));
    WriteWholeFile(Target("real/file.iso"), "old");
    std::filesystem::create_symlink("real/file.iso", Target("link.iso"));
    std::filesystem::create_symlink(Target("link.iso"), Target("chain.iso"));
    std::filesystem::create_symlink("real/new.iso", Target("dangling.iso"));
    JobOptions replace;
    replace.replaceExisting = true;
    for (const char* name : {"link.iso", "chain.iso", "dangling.iso"}) {
        const JobResult result = RunJob(BedUrl("/ok/1000"), Target(name), replace);
        ASSERT_TRUE(result.outcome);
        EXPECT_TRUE(result.outcome->succeeded) << name << ": " << result.outcome->errorText;
        EXPECT_EQ(result.outcome->targetPath, Target(name));
        EXPECT_TRUE(std::filesystem::is_symlink(Target(name))) << name;
    }
    EXPECT_EQ(std::filesystem::read_symlink(Target("chain.iso")), Target("link.iso"));
    EXPECT_EQ(std::filesystem::read_symlink(Target("link.iso")), "real/file.iso");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(directory), {}), 4);
    DirectorySnapshot real = SnapshotDirectory(Target("real"));
    EXPECT_EQ(real.size(), 2u) << DescribeSnapshot(real);
    EXPECT_TRUE(IsBedBody(real["file.iso"].bytes, 1000));
    EXPECT_TRUE(IsBedBody(real["new.iso"].bytes, 1000));
}

// Names as long as the file system takes (255 bytes): the staging name keeps less of the name, and
// the file still commits under its whole one. In Cyrillic each letter is two bytes.
TEST_F(LinuxFiles, NamesAsLongAsTheFileSystemTakesCommitUnderTheirWholeNames) {
    std::string cyrillic;
    for (int i = 0; i < 120; ++i) {
        cyrillic += "ж";
    }
    const std::string names[] = {std::string(246, 'a') + ".iso", cyrillic + ".iso"};
    for (const std::string& name : names) {
        const JobResult result = RunJob(BedUrl("/ok/1000"), Target(name));
        ASSERT_TRUE(result.outcome);
        EXPECT_TRUE(result.outcome->succeeded) << name.size() << ": " << result.outcome->errorText;
    }
    DirectorySnapshot after = SnapshotDirectory(directory);
    EXPECT_EQ(after.size(), 2u) << DescribeSnapshot(after);
    for (const std::string& name : names) {
        EXPECT_TRUE(IsBedBody(after[name].bytes, 1000)) << name.size();
    }
}

// A body that cannot fit fails before it is read, with the system's text: 6 MiB paced over about
// five seconds to a disk of 4 MiB ends at once, not when the disk is full; and a size beyond what
// one file may be here (10^18 bytes) ends at once too.
TEST_F(LinuxFiles, AFileThatCannotFitFailsBeforeItsBodyIsRead) {
    const JobResult huge = RunJob(BedUrl("/bigcl"), Target("huge.bin"));
    ASSERT_TRUE(huge.outcome);
    // ext4 knows the limit for one file; XFS or btrfs allow more and find the space short.
    EXPECT_TRUE(huge.outcome->errorText == SystemText(EFBIG) ||
                huge.outcome->errorText == SystemText(ENOSPC))
        << huge.outcome->errorText;
    EXPECT_EQ(huge.outcome->bytesWritten, 0u);

    directory = FreshDirectory(BedVariable("QM_SMALL_MOUNT"));
    const JobResult full = RunJob(BedUrl("/paced/6291456?ms=50"), Target("big.bin"));
    ASSERT_TRUE(full.outcome);
    EXPECT_EQ(full.outcome->errorText, "No space left on device");
    EXPECT_EQ(full.outcome->bytesWritten, 0u);
    EXPECT_LT(full.seconds, 2.4); // the server sends the first half in 2.4 s
    EXPECT_TRUE(std::filesystem::is_empty(directory))
        << DescribeSnapshot(SnapshotDirectory(directory));
}

// The volumes of USB sticks. ntfs-3g refuses the rename without replacement where the name is free
// (EINVAL), so the commit takes the link-and-unlink way; exFAT through FUSE has no hard links
// either (EPERM), so the commit is a rename once the name is seen to be free. On both, a taken
// name is never replaced unasked, and a confirmed one is.
class LinuxMount : public LinuxFiles, public ::testing::WithParamInterface<const char*> {
  protected:
    void SetUp() override {
        LinuxFiles::SetUp();
        directory = FreshDirectory(BedVariable(GetParam()));
    }
};

TEST_P(LinuxMount, CommitsWithoutReplacingAndTheMarkIsTheRealZoneIdentifierStream) {
    const JobResult committed = RunJob(BedUrl("/ok/70000"), Target("dest.bin"));
    ASSERT_TRUE(committed.outcome);
    EXPECT_TRUE(committed.outcome->succeeded) << committed.outcome->errorText;

    WriteWholeFile(Target("taken.bin"), "already here");
    const JobResult refused = RunJob(BedUrl("/ok/10"), Target("taken.bin"));
    ASSERT_TRUE(refused.outcome);
    EXPECT_EQ(refused.outcome->errorText, SystemText(EEXIST));

    WriteWholeFile(Target("old.bin"), "old");
    JobOptions replace;
    replace.replaceExisting = true;
    const JobResult replaced = RunJob(BedUrl("/ok/1000"), Target("old.bin"), replace);
    ASSERT_TRUE(replaced.outcome);
    EXPECT_TRUE(replaced.outcome->succeeded) << replaced.outcome->errorText;

    DirectorySnapshot after = SnapshotDirectory(directory);
    EXPECT_EQ(after.size(), 3u) << DescribeSnapshot(after);
    EXPECT_TRUE(IsBedBody(after["dest.bin"].bytes, 70000));
    EXPECT_EQ(after["taken.bin"].bytes, "already here");
    EXPECT_TRUE(IsBedBody(after["old.bin"].bytes, 1000));
    // exFAT has no named streams, so no mark.
    const bool ntfs = std::string(GetParam()) == "QM_NTFS_MOUNT";
    EXPECT_EQ(after["dest.bin"].zoneMark, ntfs ? ZoneMark : "");
    if (!ntfs) {
        return;
    }

    // What Windows sees: the volume again, with named streams shown as "file:stream".
    const std::string remount = BedVariable("QM_NTFS_REMOUNT");
    ASSERT_EQ(std::system((remount + " windows").c_str()), 0);
    bool exists = false;
    const std::string stream = ReadWholeFile(Target("dest.bin") + ":Zone.Identifier", &exists);
    ReadWholeFile(Target("taken.bin") + ":Zone.Identifier", &exists);
    const bool takenHasStream = exists;
    ASSERT_EQ(std::system((remount + " xattr").c_str()), 0);
    EXPECT_EQ(stream, ZoneMark);
    EXPECT_FALSE(takenHasStream);
}

INSTANTIATE_TEST_SUITE_P(Volumes, LinuxMount, ::testing::Values("QM_NTFS_MOUNT", "QM_EXFAT_MOUNT"));

} // namespace
