// Content-Length text to announced size. Pure logic for the worker thread.
#include "download/content_length.h"

#include <cwchar>

std::optional<std::uint64_t> ParseContentLength(const wchar_t* text) {
    wchar_t* end = nullptr;
    const std::uint64_t value = std::wcstoull(text, &end, 10);
    if (end == text) {
        return std::nullopt;
    }
    if (*end != L'\0') {
        return std::nullopt;
    }
    // wcstoull negates a value read after a minus sign, so " -1" would come back as 2^64 - 1. The
    // converted part holds only white space, one sign and digits, so any minus in it is that sign.
    for (const wchar_t* p = text; p != end; ++p) {
        if (*p == L'-') {
            return std::nullopt;
        }
    }
    return value;
}
