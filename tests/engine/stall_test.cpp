// A server that stops sending mid-body: the read ends at the 15-second receive time-out and the
// job fails with the read's code. The one slow engine test. Test thread and one worker.
#include <windows.h>
#include <winhttp.h>

#include <gtest/gtest.h>

#include "download/system_error.h"
#include "tests/engine/harness.h"

namespace {

class Stall : public EngineTest {};

TEST_F(Stall, StalledBodyFailsAtTheReceiveTimeout) {
    WriteWholeFile(Target(L"dest.bin"), "old content");
    const DirectorySnapshot before = SnapshotDirectory(directory);
    JobOptions replace;
    replace.replaceExisting = true;
    const JobResult result = RunJob(BedUrl(L"/stall/1000000"), Target(L"dest.bin"), replace);
    ASSERT_TRUE(result.outcome);
    EXPECT_FALSE(result.outcome->succeeded);
    EXPECT_FALSE(result.outcome->cancelled);
    // Windows reports the time-out as 12002; Wine passes the socket's 10060 on.
    EXPECT_TRUE(result.outcome->errorText == FormatSystemError(ERROR_WINHTTP_TIMEOUT) ||
                result.outcome->errorText == FormatSystemError(WSAETIMEDOUT))
        << Narrow(result.outcome->errorText);
    EXPECT_EQ(result.outcome->bytesWritten, 65536u);
    EXPECT_GE(result.seconds, 14.5);
    EXPECT_LT(result.seconds, 25.0);
    EXPECT_EQ(SnapshotDirectory(directory), before);
}

} // namespace
