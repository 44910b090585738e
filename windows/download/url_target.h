// Which typed URLs may be fetched, and the host, port and request target they name; also where a
// redirect leads. Runs on the worker thread: first as the first stage of a job, before any network
// or file activity, then for each redirect.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct UrlTarget {
    std::wstring hostName;
    std::uint16_t serverPort = 0;
    std::wstring requestTarget;
};

// The URL text as it is handed to WinHttpCrackUrl: unchanged, except that a '/' goes in where
// the authority ends right before a '?' or '#' ("https://h?x" becomes "https://h/?x"). Both
// forms mean the same request, but Wine's WinHttpCrackUrl reads the authority up to the first
// '/' only, so without the slash it would take the query or fragment for part of the host, the
// user name or the port. Pure logic.
std::wstring PrepareUrlForCracking(std::wstring_view url);

// The request target for the URL text from the start of its path to its end: the path, or "/"
// when it is empty, then the query with its '?', never anything from the first '#' on. Path and
// extra information split at the first '?' or '#', which is where Windows splits them (Wine
// keeps a '#' that comes before the first '?' in the path). Nothing is escaped or unescaped.
// Pure logic.
std::wstring ComposeRequestTarget(std::wstring_view fromPath);

// True and the three parts when the URL is HTTPS with a non-empty host, a port other than 0 and
// no user name or password, as WinHttpCrackUrl reads the prepared text, and with a port of 1 to
// 65535 that the URL's own digits and WinHttpCrackUrl agree on; false for anything else.
bool AcceptUrl(const std::wstring& url, UrlTarget& target);

// The URL of the request made for an accepted target: "https://", the host (an IPv6 address in
// brackets), ":" and the port unless it is 443, and the request target. Pure logic.
std::wstring RequestUrl(const UrlTarget& target);

// The absolute URL that a redirect's Location names, read against the URL of the request that
// received it as RFC 3986 reads a reference: a URL with a scheme stands as it is, "//host..." takes
// the request's scheme, "/path" and "?query" its host and port, and a relative path also its
// folder; the "." and ".." segments of a path made here are worked out. Pure logic.
std::wstring ResolveLocation(std::wstring_view requestUrl, std::wstring_view location);
