// How the end of a job settles its outcome: a late cancellation, a stored message, an error
// code. Pure logic; the worker thread applies it once, after every handle is closed.
#pragma once

#include <cstdint>
#include <string>

#include "download/download_state.h"

// A committed job stays succeeded whatever happened since. Otherwise a cancellation requested
// by now marks the outcome cancelled (keeping any stored message), and a failure that stored no
// message gets the text of its error code from errorTextFor, which is called only then.
void SettleOutcome(DownloadOutcome& outcome, bool cancelRequested, std::uint32_t errorCode,
                   std::wstring (*errorTextFor)(std::uint32_t));
