// WinHTTP calls of one job, synchronous, on the worker thread. The request carries only the verb,
// the target and the user agent; certificate checks stay as WinHTTP has them.
#include "download/http_exchange.h"

#include <windows.h>
#include <winhttp.h>

#include "download/content_length.h"
#include "text/decimal_text.h"

namespace {

constexpr int TimeoutMs = 15000;

} // namespace

bool OpenHttpRequest(JobState& state) {
    state.session = WinHttpOpen(L"Quillmere/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (state.session == nullptr) {
        state.errorCode = GetLastError();
        return false;
    }
    // Should this fail, WinHTTP's own time-outs still bound every phase.
    WinHttpSetTimeouts(state.session, TimeoutMs, TimeoutMs, TimeoutMs, TimeoutMs);

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
