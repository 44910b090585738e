// The final choice between succeeded, cancelled and the error text, applied to the Windows
// edition's outcome record. Pure logic for the worker.
#include "download/outcome_precedence.h"

#include "core/outcome_precedence.h"

void SettleOutcome(DownloadOutcome& outcome, bool cancelRequested, std::uint32_t errorCode,
                   std::wstring (*errorTextFor)(std::uint32_t)) {
    const core::Settlement settlement = core::SettleOutcome(
        outcome.succeeded, outcome.cancelled, !outcome.errorText.empty(), cancelRequested);
    outcome.cancelled = settlement.cancelled;
    if (settlement.needsErrorText) {
        outcome.errorText = errorTextFor(errorCode);
    }
}
