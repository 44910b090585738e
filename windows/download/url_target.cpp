// URL acceptance and the request target, on the worker thread. WinHttpCrackUrl decides what
// parses and reads scheme, host, port, user name and password; the split of the rest into path,
// query and fragment is done here from the text, the same on Windows and under Wine.
#include "download/url_target.h"

#include <windows.h>
#include <winhttp.h>

#include "core/request_target.h"
#include "download/platform_seam.h"
#include "text/text_edge.h"

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
