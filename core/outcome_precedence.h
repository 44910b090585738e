// How the end of a job settles its outcome: a late cancellation, a stored message, an error code.
// Pure logic; each edition's worker applies it once, after every handle is closed.
#pragma once

namespace core {

struct Settlement {
    bool cancelled;      // the outcome ends as cancelled
    bool needsErrorText; // the error code must become the outcome's text
};

// A committed job stays as it is whatever happened since. Otherwise a cancellation requested by
// now marks the outcome cancelled (keeping any stored message), and a failure that stored no
// message takes the text of its error code.
Settlement SettleOutcome(bool succeeded, bool cancelled, bool hasMessage, bool cancelRequested);

} // namespace core
