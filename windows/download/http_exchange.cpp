// WinHTTP calls of one job, synchronous, on the worker thread. The request carries only the verb,
// the target and the user agent; certificate checks stay as WinHTTP has them. The request goes
// through the proxy the current user chose in Windows' settings, found the way Windows finds it.
#include "download/http_exchange.h"

#include <windows.h>
#include <winhttp.h>

#include <string>

#include "download/content_length.h"
#include "text/decimal_text.h"

namespace {

constexpr int TimeoutMs = 15000;
constexpr unsigned MaxRedirects = 5;

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

// The user's proxy settings as WinHTTP hands them out, freed when they go.
struct UserProxyConfig {
    BOOL autoDetect = FALSE;
    WinHttpString autoConfigUrl;
    WinHttpString proxy;
    WinHttpString bypass;
};

// How the job's session reaches the server: the machine's WinHTTP setting (and, under Wine, the
// http_proxy variable), straight, or through the named proxy.
struct ProxyChoice {
    DWORD accessType = WINHTTP_ACCESS_TYPE_DEFAULT_PROXY;
    std::wstring proxy;
    std::wstring bypass;
};

bool IsWindows7() {
    // Windows 7 (and Server 2008 R2, with the same WinHTTP) is 6.1. A later Windows tells a
    // program without a manifest that it is 6.2 at the least, never 6.1, so the answer holds
    // with or without one.
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

// What the user's automatic configuration (a script, or one that WPAD finds) says for the URL;
// false when the user has none, or none can be had or read.
bool DiscoverProxy(const UrlTarget& target, const UserProxyConfig& config, ProxyChoice& choice) {
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
    // A session of its own: the job's session takes the proxy that this finds when it opens.
    HINTERNET session = WinHttpOpen(L"Quillmere/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (session == nullptr) {
        return false;
    }
    WinHttpSetTimeouts(session, TimeoutMs, TimeoutMs, TimeoutMs, TimeoutMs);
    const std::wstring url = RequestUrl(target);
    WINHTTP_PROXY_INFO info{};
    // The script's server may ask who the user is: the logon goes out only when it has asked, as
    // in Windows' own programs.
    options.fAutoLogonIfChallenged = FALSE;
    BOOL found = WinHttpGetProxyForUrl(session, url.c_str(), &options, &info);
    if (!found && GetLastError() == ERROR_WINHTTP_LOGIN_FAILURE) {
        options.fAutoLogonIfChallenged = TRUE;
        info = {};
        found = WinHttpGetProxyForUrl(session, url.c_str(), &options, &info);
    }
    WinHttpCloseHandle(session);
    WinHttpString proxy;
    WinHttpString bypass;
    proxy.text = info.lpszProxy;
    bypass.text = info.lpszProxyBypass;
    if (!found) {
        return false;
    }
    if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && proxy.text != nullptr &&
        proxy.text[0] != L'\0') {
        choice.accessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
        choice.proxy = proxy.text;
        choice.bypass = bypass.text != nullptr ? bypass.text : L"";
        return true;
    }
    if (info.dwAccessType == WINHTTP_ACCESS_TYPE_NO_PROXY) { // the script said DIRECT
        choice.accessType = WINHTTP_ACCESS_TYPE_NO_PROXY;
        return true;
    }
    return false;
}

// The proxy that the current user chose in Windows' settings, as Windows applies it: automatic
// configuration first, then the named proxy with its bypass list. Without a choice of the user's
// that applies, the machine's WinHTTP setting stays.
ProxyChoice UserProxyFor(const UrlTarget& target) {
    ProxyChoice choice;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG raw{};
    const bool read = WinHttpGetIEProxyConfigForCurrentUser(&raw) != FALSE;
    UserProxyConfig config;
    config.autoDetect = raw.fAutoDetect;
    config.autoConfigUrl.text = raw.lpszAutoConfigUrl;
    config.proxy.text = raw.lpszProxy;
    config.bypass.text = raw.lpszProxyBypass;
    if (!read || DiscoverProxy(target, config, choice)) {
        return choice;
    }
    if (config.proxy.text != nullptr && config.proxy.text[0] != L'\0') {
        // WinHTTP keeps the bypass list with the proxy and sends the hosts it names direct.
        choice.accessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
        choice.proxy = config.proxy.text;
        if (config.bypass.text != nullptr) {
            choice.bypass = config.bypass.text;
        }
    }
    return choice;
}

// The connection to the target's host and port and a secure GET for its request target. WinHTTP
// follows no redirect by itself: what it would do differs between systems (Wine hands 303 and 308
// back, Windows 7 may not know 308), so every redirect is followed here, under one set of rules.
bool OpenRequest(JobState& state) {
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
    DWORD disabled = WINHTTP_DISABLE_REDIRECTS;
    if (!WinHttpSetOption(state.request, WINHTTP_OPTION_DISABLE_FEATURE, &disabled,
                          sizeof disabled)) {
        state.errorCode = GetLastError();
        return false;
    }
    return true;
}

void CloseRequest(JobState& state) {
    WinHttpCloseHandle(state.request);
    state.request = nullptr;
    WinHttpCloseHandle(state.connection);
    state.connection = nullptr;
}

bool SendAndReceive(JobState& state, DWORD& status) {
    if (!WinHttpSendRequest(state.request, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(state.request, nullptr)) {
        state.errorCode = GetLastError();
        return false;
    }
    DWORD statusLength = sizeof status;
    if (!WinHttpQueryHeaders(state.request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusLength,
                             WINHTTP_NO_HEADER_INDEX)) {
        state.errorCode = GetLastError();
        return false;
    }
    return true;
}

bool IsRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// The Location header's text; false when the response has none.
bool ReadLocation(JobState& state, std::wstring& location) {
    DWORD bytes = 0;
    WinHttpQueryHeaders(state.request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                        WINHTTP_NO_OUTPUT_BUFFER, &bytes, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || bytes < sizeof(wchar_t)) {
        return false;
    }
    std::wstring text(bytes / sizeof(wchar_t), L'\0');
    if (!WinHttpQueryHeaders(state.request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                             text.data(), &bytes, WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    text.resize(bytes / sizeof(wchar_t));
    location = std::move(text);
    return true;
}

// Goes where a redirect leads: a GET, whatever the code, to a URL the program would take if it
// were typed (HTTPS, a host, no user name or password), and at most MaxRedirects of them in all.
// Anything else fails as WinHTTP's own redirects fail.
bool FollowRedirect(JobState& state, const std::wstring& location, unsigned followed) {
    UrlTarget next;
    if (followed == MaxRedirects ||
        !AcceptUrl(ResolveLocation(RequestUrl(state.target), location), next)) {
        state.errorCode = ERROR_WINHTTP_REDIRECT_FAILED;
        return false;
    }
    state.target = std::move(next);
    CloseRequest(state);
    if (!OpenRequest(state)) {
        return false;
    }
    if (appGlobals.cancelRequested.load()) {
        state.outcome->cancelled = true;
        return false;
    }
    return true;
}

} // namespace

bool OpenHttpRequest(JobState& state) {
    // The proxy goes to the session when it opens: WinHTTP under Wine takes it only there.
    const ProxyChoice proxy = UserProxyFor(state.target);
    const bool named = proxy.accessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    state.session = WinHttpOpen(
        L"Quillmere/1.0", proxy.accessType, named ? proxy.proxy.c_str() : WINHTTP_NO_PROXY_NAME,
        named && !proxy.bypass.empty() ? proxy.bypass.c_str() : WINHTTP_NO_PROXY_BYPASS, 0);
    if (state.session == nullptr) {
        state.errorCode = GetLastError();
        return false;
    }
    // Should this fail, WinHTTP's own time-outs still bound every phase.
    WinHttpSetTimeouts(state.session, TimeoutMs, TimeoutMs, TimeoutMs, TimeoutMs);
    AskForModernTlsOnWindows7(state.session);

    return OpenRequest(state);
}

bool ExchangeHttp(JobState& state) {
    DWORD status = 0;
    for (unsigned followed = 0;; ++followed) {
        if (!SendAndReceive(state, status)) {
            return false;
        }
        std::wstring location;
        // A redirect that names no place is refused below with its status.
        if (!IsRedirect(status) || !ReadLocation(state, location)) {
            break;
        }
        if (!FollowRedirect(state, location, followed)) {
            return false;
        }
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
