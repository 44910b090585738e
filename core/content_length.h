// Reading the announced size from the text of a Content-Length header. Pure logic, no system
// calls; the worker thread uses it right after the response headers arrive.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace core {

// Which leading white space the size may follow: the C library's wide white space on Windows
// (every Unicode space separator but U+180E, and U+2028, U+2029), where the size is converted as
// wcstoull would; ASCII white space alone for a header read as bytes.
enum class LeadingSpace { Ascii, Unicode };

// The size as an unsigned decimal number, read as strtoull/wcstoull do in base 10 (leading white
// space skipped, one optional sign, saturating at 2^64 - 1) from UTF-8 text that ends at its end
// or at its first zero byte. Nothing when no digit was converted, when anything follows the
// number, or when the sign is a minus: the C functions would negate the value and " -1" would
// read as 2^64 - 1.
std::optional<std::uint64_t> ParseContentLength(std::string_view text, LeadingSpace spaces);

} // namespace core
