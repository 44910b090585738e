// WinHTTP calls of one job, synchronous, on the worker thread. The request carries only the verb,
// the target and the user agent; certificate checks stay as WinHTTP has them. The request goes
// through the proxy the current user chose in Windows' settings, found the way Windows finds it.
#include "download/http_exchange.h"

#include <windows.h>
#include <winhttp.h>

#include "download/content_length.h"
#include "text/decimal_text.h"

namespace {

constexpr int TimeoutMs = 15000;

// A string that WinHTTP allocated for the caller, freed with GlobalFree.
class WinHttpString {
  public:
    WinHttpString() = default;
    WinHttpString(const WinHttpString&) = delete;
    WinHttpString& operator=(const WinHttpString&) = delete;
    ~WinHttpString() {
        if (text != nullptr) {
            GlobalFree(text);
        }
    }
    wchar_t* text = nullptr;
};

// The strings of a proxy choice that WinHTTP filled in, all freed when it goes.
struct UserProxyConfig {
    BOOL autoDetect = FALSE;
    WinHttpString autoConfigUrl;
    WinHttpString proxy;
    WinHttpString bypass;
};

struct ProxyInfo {
    DWORD accessType = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
    WinHttpString proxy;
    WinHttpString bypass;
};

bool IsWindows7() {
    // Not subject to the version lie that GetVersionExW tells programs without a manifest:
    // Windows 7 (and Server 2008 R2, the same WinHTTP) is 6.1 whatever the manifest says, and
    // every later Windows reports at least 6.2.
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof version;
    version.dwMajorVersion = 6;
    version.dwMinorVersion = 1;
    DWORDLONG condition = 0;
    condition = VerSetConditionMask(condition, VER_MAJORVERSION, VER_EQUAL);
    condition = VerSetConditionMask(condition, VER_MINORVERSION, VER_EQUAL);
    return VerifyVersionInfoW(&version, VER_MAJORVERSION | VER_MINORVERSION, condition) != FALSE;
}

// WinHTTP on Windows 7 offers only TLS 1.0 unless an update and a registry value were installed,
// and most servers refuse that. There, TLS 1.1 and 1.2 are added to what the system would offer;
// nothing is taken away. Every later Windows keeps its own choice, TLS 1.3 included.
void AskForModernTlsOnWindows7(HINTERNET session) {
    if (!IsWindows7()) {
        return;
    }
    DWORD protocols = 0;
    DWORD length = sizeof protocols;
    if (!WinHttpQueryOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, &length)) {
        protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1; // Windows 7's own choice
    }
    protocols |= WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
    // Should this fail, the system's own choice stays, as it would have without it.
    WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
}

// The URL as WinHTTP's proxy discovery hands it to a configuration script.
std::wstring UrlForProxyScript(const UrlTarget& target) {
    std::wstring url = L"https://";
    if (target.hostName.find(L':') != std::wstring::npos) {
        url += L"[" + target.hostName + L"]";
    } else {
        url += target.hostName;
    }
    if (target.serverPort != INTERNET_DEFAULT_HTTPS_PORT) {
        url += L":" + DecimalText(target.serverPort);
    }
    return url + target.requestTarget;
}

// The proxy that the user's automatic configuration (a script, or one WPAD finds) names for the
// URL; false when there is none or it cannot be had.
bool DiscoverProxy(HINTERNET session, const UrlTarget& target, const UserProxyConfig& config,
                   ProxyInfo& found) {
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (config.autoDetect) {
        options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    if (config.autoConfigUrl.text != nullptr && config.autoConfigUrl.text[0] != L'\0') {
        options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = config.autoConfigUrl.text;
    }
    if (options.dwFlags == 0) {
        return false;
    }
    const std::wstring url = UrlForProxyScript(target);
    WINHTTP_PROXY_INFO info{};
    // The script's server may ask who the user is: answer with the logon only when asked, as
    // Windows' own programs do, so that no credentials go out unasked.
    options.fAutoLogonIfChallenged = FALSE;
    BOOL ok = WinHttpGetProxyForUrl(session, url.c_str(), &options, &info);
    if (!ok && GetLastError() == ERROR_WINHTTP_LOGIN_FAILURE) {
        options.fAutoLogonIfChallenged = TRUE;
        info = {};
        ok = WinHttpGetProxyForUrl(session, url.c_str(), &options, &info);
    }
    found.proxy.text = info.lpszProxy;
    found.bypass.text = info.lpszProxyBypass;
    found.accessType = info.dwAccessType;
    return ok != FALSE;
}

// Sets the proxy the current user chose in Windows' settings on the request: what automatic
// configuration names for this URL, else the named proxy unless its bypass list names the host.
// Without a choice the session's own (the machine's WinHTTP setting) stays. False with errorCode
// set only when WinHTTP refuses the setting.
bool UseUserProxy(JobState& state) {
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG raw{};
    const bool haveConfig = WinHttpGetIEProxyConfigForCurrentUser(&raw) != FALSE;
    UserProxyConfig config;
    config.autoDetect = raw.fAutoDetect;
    config.autoConfigUrl.text = raw.lpszAutoConfigUrl;
    config.proxy.text = raw.lpszProxy;
    config.bypass.text = raw.lpszProxyBypass;
    if (!haveConfig) {
        return true;
    }

    WINHTTP_PROXY_INFO use{};
    ProxyInfo discovered;
    if (DiscoverProxy(state.session, state.target, config, discovered) &&
        (discovered.accessType == WINHTTP_ACCESS_TYPE_NO_PROXY ||
         (discovered.accessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY &&
          discovered.proxy.text != nullptr))) {
        use.dwAccessType = discovered.accessType;
        use.lpszProxy = discovered.proxy.text;
        use.lpszProxyBypass = discovered.bypass.text;
    } else if (config.proxy.text != nullptr && config.proxy.text[0] != L'\0') {
        const bool bypassed =
            config.bypass.text != nullptr &&
            HostBypassesProxy(config.bypass.text, state.target.hostName, state.target.serverPort);
        if (bypassed) {
            use.dwAccessType = WINHTTP_ACCESS_TYPE_NO_PROXY;
        } else {
            use.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
            use.lpszProxy = config.proxy.text;
            use.lpszProxyBypass = config.bypass.text;
        }
    } else {
        return true; // no choice of the user's applies: the session's stays
    }
    if (!WinHttpSetOption(state.request, WINHTTP_OPTION_PROXY, &use, sizeof use)) {
        state.errorCode = GetLastError();
        return false;
    }
    return true;
}

// Whether one entry of a bypass list, with '*' standing for any run of characters, matches the
// whole text, ignoring the case of ASCII letters.
bool WildcardMatches(std::wstring_view pattern, std::wstring_view text) {
    const auto lower = [](wchar_t c) {
        return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
    };
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t starAt = std::wstring_view::npos;
    std::size_t resumeAt = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == L'*') {
            starAt = p++;
            resumeAt = t;
        } else if (p < pattern.size() && lower(pattern[p]) == lower(text[t])) {
            ++p;
            ++t;
        } else if (starAt != std::wstring_view::npos) {
            p = starAt + 1;
            t = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == L'*') {
        ++p;
    }
    return p == pattern.size();
}

} // namespace

bool HostBypassesProxy(std::wstring_view bypassList, std::wstring_view hostName,
                       std::uint16_t serverPort) {
    const std::wstring hostAndPort = std::wstring(hostName) + L":" + DecimalText(serverPort);
    std::size_t start = 0;
    while (start <= bypassList.size()) {
        std::size_t end = bypassList.find_first_of(L"; \t\r\n,", start);
        if (end == std::wstring_view::npos) {
            end = bypassList.size();
        }
        std::wstring_view entry = bypassList.substr(start, end - start);
        start = end + 1;
        if (entry.empty()) {
            continue;
        }
        if (entry == L"<local>") {
            // A plain name without a dot is a computer of the local network.
            if (hostName.find_first_of(L".:") == std::wstring_view::npos) {
                return true;
            }
            continue;
        }
        if (const std::size_t scheme = entry.find(L"://"); scheme != std::wstring_view::npos) {
            if (!WildcardMatches(entry.substr(0, scheme), L"https")) {
                continue;
            }
            entry.remove_prefix(scheme + 3);
            if (entry.empty()) {
                continue;
            }
        }
        // An entry that names a port is compared with host and port, any other with the host.
        // (An IPv6 literal's colons name no port.)
        const std::size_t colon = entry.find(L':');
        const bool withPort = colon != std::wstring_view::npos && colon == entry.rfind(L':');
        if (WildcardMatches(entry, withPort ? std::wstring_view(hostAndPort) : hostName)) {
            return true;
        }
    }
    return false;
}

bool OpenHttpRequest(JobState& state) {
    state.session = WinHttpOpen(L"Quillmere/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (state.session == nullptr) {
        state.errorCode = GetLastError();
        return false;
    }
    // Should this fail, WinHTTP's own time-outs still bound every phase.
    WinHttpSetTimeouts(state.session, TimeoutMs, TimeoutMs, TimeoutMs, TimeoutMs);
    AskForModernTlsOnWindows7(state.session);

    state.connection =
        WinHttpConnect(state.session, state.target.hostName.c_str(), state.target.serverPort, 0);
    if (state.connection == nullptr) {
        state.errorCode = GetLastError();
        return false;
    }
    state.request =
        WinHttpOpenRequest(state.connection, L"GET", state.target.requestTarget.c_str(), nullptr,
                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE);
    if (state.request == nullptr) {
        state.errorCode = GetLastError();
        return false;
    }
    if (!UseUserProxy(state)) {
        return false;
    }
    DWORD redirectPolicy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
    if (!WinHttpSetOption(state.request, WINHTTP_OPTION_REDIRECT_POLICY, &redirectPolicy,
                          sizeof redirectPolicy)) {
        state.errorCode = GetLastError();
        return false;
    }
    DWORD redirectLimit = 5;
    if (!WinHttpSetOption(state.request, WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS,
                          &redirectLimit, sizeof redirectLimit)) {
        state.errorCode = GetLastError();
        return false;
    }
    return true;
}

bool ExchangeHttp(JobState& state) {
    if (!WinHttpSendRequest(state.request, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        state.errorCode = GetLastError();
        return false;
    }
    // Redirects are followed in here, so what follows reads the last response.
    if (!WinHttpReceiveResponse(state.request, nullptr)) {
        state.errorCode = GetLastError();
        return false;
    }

    DWORD status = 0;
    DWORD statusLength = sizeof status;
    if (!WinHttpQueryHeaders(state.request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusLength,
                             WINHTTP_NO_HEADER_INDEX)) {
        state.errorCode = GetLastError();
        return false;
    }
    if (status != 200) {
        state.outcome->errorText = Text(TextServerReturnedHttp) + DecimalText(status) + L".";
        return false;
    }

    // 64 units hold any sensible size; a longer value fails the query with
    // ERROR_INSUFFICIENT_BUFFER and ends the job with that code.
    wchar_t lengthText[64] = {};
    DWORD lengthBytes = sizeof lengthText;
    if (!WinHttpQueryHeaders(state.request, WINHTTP_QUERY_CONTENT_LENGTH,
                             WINHTTP_HEADER_NAME_BY_INDEX, lengthText, &lengthBytes,
                             WINHTTP_NO_HEADER_INDEX)) {
        const DWORD code = GetLastError();
        if (code == ERROR_WINHTTP_HEADER_NOT_FOUND) {
            return true; // no announced size: no size check later
        }
        state.errorCode = code;
        return false;
    }
    const auto announced = ParseContentLength(lengthText);
    if (!announced) {
        state.outcome->errorText = Text(TextInvalidContentLength);
        return false;
    }
    // Value first: whoever sees totalKnown set also sees the size.
    appGlobals.contentLength.exchange(*announced);
    appGlobals.totalKnown.exchange(true);
    return true;
}
