// Reading the announced size from the text of a Content-Length header. Pure logic, no system
// calls; the worker thread uses it right after the response headers arrive.
#pragma once

#include <cstdint>
#include <optional>

// The size as an unsigned decimal number, converted as std::wcstoull does in base 10 (leading
// white space skipped, one optional sign, saturating at 2^64 - 1). Nothing when no digit was
// converted, when anything follows the number, or when the sign is a minus, whether it comes first
// or after white space.
std::optional<std::uint64_t> ParseContentLength(const wchar_t* text);
