// The space for an announced body, claimed on the worker thread before any of it is read.
#pragma once

#include "download/job_state.h"

// False with errorCode set when the announced size cannot fit: too large for one file on this
// file system, or more than the space or quota left.
bool ReserveSpace(JobState& state, int file);
