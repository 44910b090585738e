// Content-Length text, as WinHTTP hands it over in UTF-16, to announced size. Pure logic for the
// worker thread; the rule is the core's, with the white space msvcrt's wcstoull skips.
#include "download/content_length.h"

#include <cwchar>

#include "core/content_length.h"
#include "text/text_edge.h"

std::optional<std::uint64_t> ParseContentLength(const wchar_t* text) {
    return core::ParseContentLength(Utf8FromWide(std::wstring_view(text, std::wcslen(text))),
                                    core::LeadingSpace::Unicode);
}
