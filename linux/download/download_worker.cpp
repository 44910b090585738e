// The download worker thread: one job from the typed URL to one handed-over outcome. The stages
// run in a straight line; every way out of them goes through the same end sequence below. The
// steps and poll points are the Windows edition's, step for step.
#include "download/download_worker.h"

#include <unistd.h>

#include "core/outcome_precedence.h"
#include "download/http_exchange.h"
#include "download/job_state.h"
#include "download/platform_seam.h"
#include "download/staging.h"
#include "download/system_error.h"
#include "download/url_target.h"

namespace {

void RunStages(JobState& state, unsigned char (&chunk)[ChunkSize]) {
    if (!AcceptUrl(state.job->url, state.target)) {
        state.outcome->errorText = Text(core::TextEnterValidHttpsUrl);
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

// Every job ends here: the staging file goes before the transfer, the outcome is settled, the job
// freed and the outcome handed over.
void EndJob(JobState& state) {
    if (!state.stagingPath.empty()) {
        unlink(state.stagingPath.c_str());
    }
    CloseHttpRequest(state);
    DownloadOutcome& outcome = *state.outcome;
    const core::Settlement settlement =
        core::SettleOutcome(outcome.succeeded, outcome.cancelled, !outcome.errorText.empty(),
                            appGlobals.cancelRequested.load());
    outcome.cancelled = settlement.cancelled;
    if (settlement.needsErrorText) {
        outcome.errorText = FormatSystemError(state.errorCode, appGlobals.russianUi);
    }

    void* owner = state.job->owner;
    delete state.job;
    state.job = nullptr;
    // Once handed over, the outcome belongs to the window; only an outcome nobody took is freed.
    if (!platformSeam.postOutcome(owner, state.outcome)) {
        delete state.outcome;
    }
    state.outcome = nullptr;
}

} // namespace

void* DownloadWorker(void* jobParameter) {
    JobState state;
    state.job = static_cast<DownloadJob*>(jobParameter);
    state.outcome = new DownloadOutcome;
    state.outcome->targetPath = state.job->targetPath;

    // On this thread's stack for the whole job: no allocation per chunk.
    unsigned char chunk[ChunkSize];
    RunStages(state, chunk);
    EndJob(state);
    return nullptr;
}
