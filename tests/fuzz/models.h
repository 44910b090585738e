// Small models of the parsers that read outside input, written from their rules and not from the
// program's code: the Content-Length text, the split of an HTTPS URL into host, port and request
// target, and the session list entry and line. Portable C++, no system calls.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace model {

// The units the C library's iswspace takes for white space on the platform the tests run on
// (msvcrt under Wine, or glibc in the "C" locale natively), as a fixed table. The platform check
// compares the table with the real iswspace over every unit.
bool IsLibraryWhiteSpace(std::uint32_t unit);

// What wcstoull in base 10 makes of a text, converted by hand: how many units it used (0 when no
// digit was converted) and the value it returns.
struct Conversion {
    std::size_t used = 0;
    std::uint64_t value = 0;
    bool minus = false; // the sign in front of the digits was '-'
};
Conversion ConvertLikeWcstoull(std::wstring_view text);

// The announced size for a Content-Length text, or nothing when the text is unusable. The text
// ends at its first zero unit, as a C string does.
std::optional<std::uint64_t> ContentLength(std::wstring_view text);

// What a URL text must give: accepted with host, port and request target, refused, or a shape the
// model makes no claim about (left to the platform's URL splitter: IPv6 literals, unusual host
// characters, an empty user information, texts that are not "scheme://...").
//
// The Linux edition's splitter is its own, not a platform's; it answers every shape, and where the
// model makes no claim it does so deliberately as follows: any user information, "@" alone
// included, is refused; a host in brackets is an IPv6 literal, kept with its brackets; other
// unusual host characters are accepted and left for libcurl to judge when it connects; a text
// without "scheme://" is refused. Its Content-Length reading skips ASCII white space only, as the
// model does natively (a header is read as bytes).
enum class Verdict { Accepted, Refused, NoClaim };
struct UrlAnswer {
    Verdict verdict = Verdict::NoClaim;
    std::wstring host;
    std::uint16_t port = 0;
    std::wstring target;
};
UrlAnswer SplitUrl(std::wstring_view url);

// The URL text as it goes to the platform's splitter: where "scheme://" is followed by an
// authority that ends at a '?' or '#', one '/' goes in front of that delimiter; any other text
// stays as it is.
std::wstring PreparedForCracking(std::wstring_view url);

// The request target for the part of a URL from its path on: the path (or "/"), then the query
// with its '?', never the fragment.
std::wstring RequestTarget(std::wstring_view fromPath);

// The session list entry and line for a completed download, in English or Russian.
std::wstring SessionEntry(std::wstring_view path, std::uint64_t byteCount, bool russian);
std::wstring SessionLine(std::wstring_view path, std::uint64_t byteCount, bool russian);
std::wstring FileName(std::wstring_view path);

} // namespace model
