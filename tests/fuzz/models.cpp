// The independent models of the outside-input parsers: hand conversions and hand splits, one
// pass over the text each, with every text the program shows spelled out here again.
#include "tests/fuzz/models.h"

namespace model {

namespace {

constexpr std::uint64_t Max64 = ~0ull;

bool IsAsciiDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

std::wstring_view UpToZero(std::wstring_view text) {
    const std::size_t zero = text.find(L'\0');
    return zero == std::wstring_view::npos ? text : text.substr(0, zero);
}

bool IsSchemeText(std::wstring_view scheme) {
    if (scheme.empty()) {
        return false;
    }
    for (std::size_t i = 0; i < scheme.size(); ++i) {
        const wchar_t c = scheme[i];
        const bool letter = (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
        if (!letter && (i == 0 || !(IsAsciiDigit(c) || c == L'+' || c == L'-' || c == L'.'))) {
            return false;
        }
    }
    return true;
}

bool EqualsIgnoringAsciiCase(std::wstring_view text, std::wstring_view lower) {
    if (text.size() != lower.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
        if (c != lower[i]) {
            return false;
        }
    }
    return true;
}

bool IsPlainHostUnit(wchar_t c) {
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || IsAsciiDigit(c) || c == L'-' ||
           c == L'.' || c == L'_' || c == L'~';
}

} // namespace

bool IsLibraryWhiteSpace(std::uint32_t unit) {
    if ((unit >= 0x09 && unit <= 0x0D) || unit == 0x20) {
        return true;
    }
#ifdef _WIN32
    // msvcrt's classification (Wine's Unicode tables): the Unicode space separators other than
    // U+180E, and the line and paragraph separators. Not U+0085, not U+001C..U+001F.
    return unit == 0x00A0 || unit == 0x1680 || (unit >= 0x2000 && unit <= 0x200A) ||
           unit == 0x2028 || unit == 0x2029 || unit == 0x202F || unit == 0x205F || unit == 0x3000;
#else
    return false; // glibc in the "C" locale: ASCII white space only
#endif
}

Conversion ConvertLikeWcstoull(std::wstring_view text) {
    text = UpToZero(text);
    Conversion result;
    std::size_t at = 0;
    while (at < text.size() && IsLibraryWhiteSpace(static_cast<std::uint32_t>(text[at]))) {
        ++at;
    }
    bool minus = false;
    if (at < text.size() && (text[at] == L'+' || text[at] == L'-')) {
        minus = text[at] == L'-';
        ++at;
    }
    const std::size_t firstDigit = at;
    std::uint64_t value = 0;
    bool tooBig = false;
    for (; at < text.size() && IsAsciiDigit(text[at]); ++at) {
        const std::uint64_t digit = static_cast<std::uint64_t>(text[at] - L'0');
        if (value > (Max64 - digit) / 10) {
            tooBig = true;
        } else {
            value = value * 10 + digit;
        }
    }
    if (at == firstDigit) {
        return result; // nothing converted: used 0, value 0
    }
    result.used = at;
    result.minus = minus;
    // Out of range saturates, sign or no sign; otherwise a minus negates in unsigned arithmetic.
    result.value = tooBig ? Max64 : (minus ? 0 - value : value);
    return result;
}

std::optional<std::uint64_t> ContentLength(std::wstring_view text) {
    text = UpToZero(text);
    const Conversion conversion = ConvertLikeWcstoull(text);
    if (conversion.used == 0 || conversion.used != text.size() || conversion.minus) {
        return std::nullopt;
    }
    return conversion.value;
}

std::wstring RequestTarget(std::wstring_view fromPath) {
    std::size_t pathEnd = 0;
    while (pathEnd < fromPath.size() && fromPath[pathEnd] != L'?' && fromPath[pathEnd] != L'#') {
        ++pathEnd;
    }
    std::wstring target = pathEnd == 0 ? L"/" : std::wstring(fromPath.substr(0, pathEnd));
    if (pathEnd < fromPath.size() && fromPath[pathEnd] == L'?') {
        std::size_t queryEnd = pathEnd;
        while (queryEnd < fromPath.size() && fromPath[queryEnd] != L'#') {
            ++queryEnd;
        }
        target.append(fromPath.substr(pathEnd, queryEnd - pathEnd));
    }
    return target;
}

std::wstring PreparedForCracking(std::wstring_view url) {
    const std::wstring text(url);
    const std::size_t colon = text.find(L':');
    if (colon == std::wstring::npos || text.substr(colon + 1, 2) != L"//") {
        return text;
    }
    for (std::size_t i = colon + 3; i < text.size(); ++i) {
        if (text[i] == L'/') {
            return text;
        }
        if (text[i] == L'?' || text[i] == L'#') {
            return text.substr(0, i) + L"/" + text.substr(i);
        }
    }
    return text;
}

UrlAnswer SplitUrl(std::wstring_view url) {
    const std::wstring_view text = UpToZero(url);
    UrlAnswer answer;
    const std::size_t colon = text.find(L':');
    if (colon == std::wstring_view::npos) {
        return answer; // no scheme at all: the splitter fails or guesses; no claim
    }
    const std::wstring_view scheme = text.substr(0, colon);
    if (!EqualsIgnoringAsciiCase(scheme, L"https")) {
        if (IsSchemeText(scheme)) {
            answer.verdict = Verdict::Refused; // http, ftp, mailto, ...: never fetched
        }
        return answer;
    }
    if (text.substr(colon + 1, 2) != L"//") {
        return answer; // "https:host": no authority; no claim
    }
    // The authority runs to the first '/', '?' or '#' after "//".
    const std::size_t authorityStart = colon + 3;
    std::size_t authorityEnd = authorityStart;
    while (authorityEnd < text.size() && text[authorityEnd] != L'/' && text[authorityEnd] != L'?' &&
           text[authorityEnd] != L'#') {
        ++authorityEnd;
    }
    std::wstring_view authority = text.substr(authorityStart, authorityEnd - authorityStart);
    const std::size_t at = authority.find(L'@');
    if (at != std::wstring_view::npos) {
        if (authority.find(L'@', at + 1) != std::wstring_view::npos) {
            return answer; // two '@' in the authority: not a well-formed URL; no claim
        }
        const std::wstring_view userInfo = authority.substr(0, at);
        if (userInfo.empty() || userInfo == L":") {
            return answer; // "@" alone names neither user nor password; the splitter decides
        }
        answer.verdict = Verdict::Refused; // a user name, a password, or both
        return answer;
    }
    std::wstring_view host = authority;
    std::uint32_t port = 443;
    const std::size_t portColon = authority.find(L':');
    if (portColon != std::wstring_view::npos) {
        host = authority.substr(0, portColon);
        const std::wstring_view portText = authority.substr(portColon + 1);
        bool plainHost = !host.empty();
        for (const wchar_t c : host) {
            plainHost = plainHost && IsPlainHostUnit(c);
        }
        bool digitsOnly = !portText.empty();
        for (const wchar_t c : portText) {
            digitsOnly = digitsOnly && IsAsciiDigit(c);
        }
        if (!digitsOnly) {
            if (plainHost) {
                answer.verdict = Verdict::Refused; // "h:", "h:8x", "h:-1": no port to go to
            }
            return answer;
        }
        // The digits name the port whatever their number: past 65535 (where a splitter might
        // wrap the value around to a valid port) there is no port to go to, nor at 0.
        const std::size_t firstSignificant = portText.find_first_not_of(L'0');
        if (firstSignificant == std::wstring_view::npos) {
            answer.verdict = Verdict::Refused; // port 0: never reachable, whatever the host
            return answer;
        }
        const std::wstring_view significant = portText.substr(firstSignificant);
        port = 0;
        if (significant.size() <= 5) {
            for (const wchar_t c : significant) {
                port = port * 10 + static_cast<std::uint32_t>(c - L'0');
            }
        }
        if (significant.size() > 5 || port > 65535) {
            if (plainHost) {
                answer.verdict = Verdict::Refused;
            }
            return answer;
        }
    }
    if (host.empty()) {
        answer.verdict = Verdict::Refused;
        return answer;
    }
    for (const wchar_t c : host) {
        if (!IsPlainHostUnit(c)) {
            return answer;
        }
    }
    answer.verdict = Verdict::Accepted;
    answer.host = std::wstring(host);
    answer.port = static_cast<std::uint16_t>(port);
    answer.target = RequestTarget(text.substr(authorityEnd));
    return answer;
}

std::wstring FileName(std::wstring_view path) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == L'\\' || path[i] == L'/') {
            start = i + 1;
        }
    }
    return std::wstring(path.substr(start));
}

std::wstring SessionEntry(std::wstring_view path, std::uint64_t byteCount, bool russian) {
    bool sawDot = false;
    std::size_t lastDot = 0;
    bool dotAfterSeparator = false;
    for (std::size_t i = 0; i < path.size(); ++i) {
        if (path[i] == L'.') {
            sawDot = true;
            lastDot = i;
            dotAfterSeparator = true;
        } else if (path[i] == L'\\' || path[i] == L'/') {
            dotAfterSeparator = false;
        }
    }
    std::wstring entry;
    if (sawDot && dotAfterSeparator) {
        const std::size_t length = path.size() - lastDot < 24 ? path.size() - lastDot : 24;
        entry = std::wstring(path.substr(lastDot, length));
    } else {
        entry = L"(no extension)";
    }
    entry += L" \u00b7 ";
    if (byteCount < 1048576) {
        entry +=
            russian ? L"\u043c\u0435\u043d\u044c\u0448\u0435 1 \u041c\u0438\u0411" : L"under 1 MiB";
    } else if (byteCount < 104857600) {
        entry += russian ? L"1\u2013100 \u041c\u0438\u0411" : L"1\u2013100 MiB";
    } else {
        entry += russian ? L"100 \u041c\u0438\u0411 \u0438 \u0431\u043e\u043b\u044c\u0448\u0435"
                         : L"100 MiB and over";
    }
    entry += L" \u00b7 ";
    std::wstring digits;
    do {
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + byteCount % 10));
        byteCount /= 10;
    } while (byteCount != 0);
    entry += digits;
    entry += russian ? L" \u0431\u0430\u0439\u0442" : L" bytes";
    return entry;
}

std::wstring SessionLine(std::wstring_view path, std::uint64_t byteCount, bool russian) {
    return FileName(path) + L"  \u2014  " + SessionEntry(path, byteCount, russian);
}

} // namespace model
