// The download worker thread: one job from the typed URL to one posted outcome. The stages run in
// a straight line; every way out of them goes through the same end sequence below.
#include "download/download_worker.h"

#include <winhttp.h>

#include "download/download_state.h"
#include "download/http_exchange.h"
#include "download/job_state.h"
#include "download/outcome_precedence.h"
#include "download/platform_seam.h"
#include "download/staging.h"
#include "download/system_error.h"
#include "download/url_target.h"

namespace {

void RunStages(JobState& state, unsigned char (&chunk)[ChunkSize]) {
    if (!AcceptUrl(state.job->url, state.target)) {
        state.outcome->errorText = Text(TextEnterValidHttpsUrl);
        return;
    }
    if (!OpenHttpRequest(state)) {
        return;
    }
    // The only poll before anything goes over the wire.
    if (appGlobals.cancelRequested.load()) {
        state.outcome->cancelled = true;
        return;
    }
    if (!ExchangeHttp(state)) {
        return;
    }
    StageAndCommit(state, chunk);
}

// Every job ends here: the staging file goes before the handles, the outcome is settled, the job
// freed and the outcome handed over. A staging file that another program still holds when the
// delete gives up stays, with its zone mark, rather than losing the mark and staying anyway.
void EndJob(JobState& state) {
    if (!state.stagingPath.empty() && DeleteStagingFile(state.stagingPath)) {
        RemoveStrayZoneStream(state.stagingPath);
    }
    if (state.request != nullptr) {
        WinHttpCloseHandle(state.request);
    }
    if (state.connection != nullptr) {
        WinHttpCloseHandle(state.connection);
    }
    if (state.session != nullptr) {
        WinHttpCloseHandle(state.session);
    }
    SettleOutcome(*state.outcome, appGlobals.cancelRequested.load(), state.errorCode,
                  &FormatSystemError);

    HWND owner = state.job->ownerWindow;
    delete state.job;
    state.job = nullptr;
    // Once posted, the outcome belongs to the window; only an outcome nobody received is freed.
    if (!platformSeam.postMessage(owner, WM_DOWNLOAD_DONE, 0,
                                  reinterpret_cast<LPARAM>(state.outcome))) {
        delete state.outcome;
    }
    state.outcome = nullptr;
}

} // namespace

DWORD WINAPI DownloadWorker(LPVOID jobParameter) {
    JobState state;
    state.job = static_cast<DownloadJob*>(jobParameter);
    state.outcome = new DownloadOutcome;
    state.outcome->targetPath = state.job->targetPath;

    // On this thread's stack for the whole job: no allocation per chunk.
    unsigned char chunk[ChunkSize];
    RunStages(state, chunk);
    EndJob(state);
    return 0;
}
