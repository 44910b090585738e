// URL acceptance and the request target, and where a redirect leads, on the worker thread.
// WinHttpCrackUrl decides what parses and reads scheme, host, port, user name and password; the
// split of the rest into path, query and fragment is done here from the text, the same on Windows
// and under Wine.
#include "download/url_target.h"

#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <vector>

#include "core/request_target.h"
#include "download/platform_seam.h"
#include "text/text_edge.h"

namespace {

bool IsAsciiLetter(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

bool IsSchemeCharacter(wchar_t c) {
    return IsAsciiLetter(c) || (c >= L'0' && c <= L'9') || c == L'+' || c == L'-' || c == L'.';
}

bool HasScheme(std::wstring_view reference) {
    if (reference.empty() || !IsAsciiLetter(reference[0])) {
        return false;
    }
    std::size_t i = 1;
    while (i < reference.size() && IsSchemeCharacter(reference[i])) {
        ++i;
    }
    return i < reference.size() && reference[i] == L':';
}

// A path that starts with '/' without its "." and ".." segments.
std::wstring RemoveDotSegments(std::wstring_view path) {
    std::vector<std::wstring_view> kept;
    std::size_t start = 1;
    for (;;) {
        const std::size_t end = path.find(L'/', start);
        const std::wstring_view segment = path.substr(start, end - start);
        const bool last = end == std::wstring_view::npos;
        if (segment == L"..") {
            if (!kept.empty()) {
                kept.pop_back();
            }
        }
        if (segment == L"." || segment == L"..") {
            if (last) {
                kept.push_back(L""); // "a/.." names the folder a was in: the path ends in '/'
            }
        } else {
            kept.push_back(segment);
        }
        if (last) {
            break;
        }
        start = end + 1;
    }
    std::wstring out;
    for (const std::wstring_view segment : kept) {
        out += L'/';
        out += segment;
    }
    return out.empty() ? L"/" : out;
}

} // namespace

std::wstring PrepareUrlForCracking(std::wstring_view url) {
    std::wstring text(url);
    const std::size_t colon = text.find(L':');
    if (colon == std::wstring::npos || text.compare(colon + 1, 2, L"//") != 0) {
        return text;
    }
    const std::size_t authorityEnd = text.find_first_of(L"/?#", colon + 3);
    if (authorityEnd != std::wstring::npos && text[authorityEnd] != L'/') {
        text.insert(authorityEnd, 1, L'/');
    }
    return text;
}

std::wstring ComposeRequestTarget(std::wstring_view fromPath) {
    return WideFromUtf8(core::ComposeRequestTarget(Utf8FromWide(fromPath)));
}

bool AcceptUrl(const std::wstring& url, UrlTarget& target) {
    // The URL is zero-terminated for WinHttpCrackUrl, so nothing after an embedded zero counts.
    const std::wstring text = PrepareUrlForCracking(url.c_str());

    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = 0xFFFFFFFF;
    parts.dwHostNameLength = 0xFFFFFFFF;
    parts.dwUserNameLength = 0xFFFFFFFF;
    parts.dwPasswordLength = 0xFFFFFFFF;
    parts.dwUrlPathLength = 0xFFFFFFFF;
    parts.dwExtraInfoLength = 0xFFFFFFFF;
    if (!platformSeam.crackUrl(text.c_str(), 0, 0, &parts)) {
        return false;
    }
    if (parts.nScheme != INTERNET_SCHEME_HTTPS || parts.dwHostNameLength == 0 ||
        parts.dwUserNameLength != 0 || parts.dwPasswordLength != 0) {
        return false;
    }
    // The path runs on to the end of the text: WinHttpCrackUrl hands out the extra information
    // right behind it.
    const std::size_t pathStart = parts.lpszUrlPath != nullptr
                                      ? static_cast<std::size_t>(parts.lpszUrlPath - text.c_str())
                                      : text.size();
    // The port is read here from its digits, and it must be what WinHttpCrackUrl reports: whether
    // a splitter refuses a number past 65535 or wraps it around to another, valid port (and so
    // another server than the one named) is not something to rely on. Port 0 cannot be reached,
    // and WinHttpConnect would take it for "the default" and quietly go to 443 instead. A port
    // that is not a number is refused too ("h:8x" is port 8 to Wine, an error to Windows).
    const std::size_t hostEnd =
        static_cast<std::size_t>(parts.lpszHostName - text.c_str()) + parts.dwHostNameLength;
    std::size_t portStart = hostEnd;
    if (portStart < pathStart && text[portStart] == L']') {
        ++portStart; // an IPv6 literal, should the splitter leave its bracket out of the host
    }
    std::uint32_t port = INTERNET_DEFAULT_HTTPS_PORT;
    if (portStart < pathStart && text[portStart] == L':') {
        const std::wstring_view digits =
            std::wstring_view(text).substr(portStart + 1, pathStart - portStart - 1);
        if (!core::ReadPort(Utf8FromWide(digits), port)) {
            return false;
        }
    }
    if (parts.nPort != port) {
        return false;
    }

    target.hostName.assign(parts.lpszHostName, parts.dwHostNameLength);
    target.serverPort = static_cast<std::uint16_t>(port);
    target.requestTarget = ComposeRequestTarget(std::wstring_view(text).substr(pathStart));
    return true;
}

std::wstring RequestUrl(const UrlTarget& target) {
    std::wstring url = L"https://";
    if (target.hostName.find(L':') != std::wstring::npos) {
        url += L"[" + target.hostName + L"]";
    } else {
        url += target.hostName;
    }
    if (target.serverPort != INTERNET_DEFAULT_HTTPS_PORT) {
        url += L":" + std::to_wstring(target.serverPort);
    }
    return url + target.requestTarget;
}

std::wstring ResolveLocation(std::wstring_view requestUrl, std::wstring_view location) {
    if (HasScheme(location)) {
        return std::wstring(location);
    }
    const std::size_t schemeEnd = requestUrl.find(L':');
    if (location.starts_with(L"//")) {
        return std::wstring(requestUrl.substr(0, schemeEnd + 1)) + std::wstring(location);
    }
    std::size_t pathStart = requestUrl.find_first_of(L"/?#", schemeEnd + 3);
    pathStart = pathStart == std::wstring_view::npos ? requestUrl.size() : pathStart;
    const std::wstring origin(requestUrl.substr(0, pathStart));
    std::wstring_view basePath = requestUrl.substr(pathStart);
    basePath = basePath.substr(0, basePath.find_first_of(L"?#"));

    const std::size_t pathEnd = std::min(location.find_first_of(L"?#"), location.size());
    const std::wstring_view path = location.substr(0, pathEnd);
    const std::wstring rest(location.substr(pathEnd));
    if (path.empty()) {
        // The same resource, with another query when one is given; a fragment is never sent.
        if (rest.empty() || rest[0] == L'#') {
            return std::wstring(requestUrl);
        }
        return origin + std::wstring(basePath.empty() ? L"/" : basePath) + rest;
    }
    std::wstring merged;
    if (path[0] == L'/') {
        merged = path;
    } else {
        const std::size_t folderEnd = basePath.rfind(L'/');
        merged = folderEnd == std::wstring_view::npos
                     ? L"/" + std::wstring(path)
                     : std::wstring(basePath.substr(0, folderEnd + 1)) + std::wstring(path);
    }
    return origin + RemoveDotSegments(merged) + rest;
}
