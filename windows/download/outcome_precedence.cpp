// The final choice between succeeded, cancelled and the error text. Pure logic for the worker.
#include "download/outcome_precedence.h"

void SettleOutcome(DownloadOutcome& outcome, bool cancelRequested, std::uint32_t errorCode,
                   std::wstring (*errorTextFor)(std::uint32_t)) {
    if (outcome.succeeded) {
        return;
    }
    if (cancelRequested) {
        outcome.cancelled = true;
    }
    if (!outcome.cancelled && outcome.errorText.empty()) {
        outcome.errorText = errorTextFor(errorCode);
    }
}
