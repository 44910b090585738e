// The text of an error code for the error box. Any thread; here the worker's.
#pragma once

#include <string>

#include "download/error_code.h"

// The system's text for an errno value (in Russian when `russian` is set and the system has
// Russian texts, else in English); for a libcurl result, the program's own sentence in the
// interface's language where it has one, else libcurl's text (English: libcurl has no other),
// whole and unchanged; "Error " and the number when there is no text for it.
std::string FormatSystemError(ErrorCode code, bool russian);
