// URL acceptance and the request target, on the worker thread. WinHttpCrackUrl decides what
// parses and reads scheme, host, port, user name and password; the split of the rest into path,
// query and fragment is done here from the text, the same on Windows and under Wine.
#include "download/url_target.h"

#include <windows.h>
#include <winhttp.h>

#include "download/platform_seam.h"

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
    const std::size_t extraStart = fromPath.find_first_of(L"?#");
    const std::wstring_view path = fromPath.substr(0, extraStart);
    std::wstring target = path.empty() ? std::wstring(L"/") : std::wstring(path);
    if (extraStart != std::wstring_view::npos) {
        std::wstring_view extra = fromPath.substr(extraStart);
        target.append(extra.substr(0, extra.find(L'#')));
    }
    return target;
}

namespace {

// The port that the digits after a host's ':' name: true only for ASCII digits alone that read as
// 1 to 65535 (leading zeros allowed), whatever their number.
bool ReadPort(std::wstring_view digits, std::uint32_t& port) {
    if (digits.empty()) {
        return false;
    }
    std::uint32_t value = 0;
    for (const wchar_t c : digits) {
        if (c < L'0' || c > L'9') {
            return false;
        }
        // Once past the largest port, further digits only make it larger: stop counting there,
        // so that no number of digits can wrap the value around to a valid port.
        if (value <= 65535) {
            value = value * 10 + static_cast<std::uint32_t>(c - L'0');
        }
    }
    if (value == 0 || value > 65535) {
        return false;
    }
    port = value;
    return true;
}

} // namespace

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
        if (!ReadPort(digits, port)) {
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
