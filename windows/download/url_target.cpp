// URL acceptance and the request target, on the worker thread. WinHttpCrackUrl decides what
// parses and reads scheme, host, port, user name and password; the split of the rest into path,
// query and fragment is done here from the text, the same on Windows and under Wine.
#include "download/url_target.h"

#include <windows.h>
#include <winhttp.h>

#include "core/request_target.h"
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
    if (!WinHttpCrackUrl(text.c_str(), 0, 0, &parts)) {
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
    // Port 0 cannot be reached, and WinHttpConnect would take it for "the default" and quietly go
    // to 443 instead. Wine's WinHttpCrackUrl also reads a port that is not a number as far as its
    // digits go ("h:8x" as port 8) where Windows refuses the URL, so the port must be digits only,
    // as Windows has it.
    const std::size_t hostEnd =
        static_cast<std::size_t>(parts.lpszHostName - text.c_str()) + parts.dwHostNameLength;
    if (hostEnd < pathStart && text[hostEnd] == L':') {
        const std::wstring_view port =
            std::wstring_view(text).substr(hostEnd + 1, pathStart - hostEnd - 1);
        if (!core::IsPortText(Utf8FromWide(port))) {
            return false;
        }
    }
    if (parts.nPort == 0) {
        return false;
    }

    target.hostName.assign(parts.lpszHostName, parts.dwHostNameLength);
    target.serverPort = parts.nPort;
    target.requestTarget = ComposeRequestTarget(std::wstring_view(text).substr(pathStart));
    return true;
}
