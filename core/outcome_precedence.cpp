// The final choice between succeeded, cancelled and the error text. Pure logic for the worker.
#include "core/outcome_precedence.h"

namespace core {

Settlement SettleOutcome(bool succeeded, bool cancelled, bool hasMessage, bool cancelRequested) {
    if (succeeded) {
        return {cancelled, false};
    }
    const bool endsCancelled = cancelled || cancelRequested;
    return {endsCancelled, !endsCancelled && !hasMessage};
}

} // namespace core
