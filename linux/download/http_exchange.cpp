// libcurl calls of one job, on the worker thread. The transfer runs on a multi handle that this
// thread drives itself, so the body can be read in chunks the way the worker asks for them: data
// that arrives while no read is in progress pauses the transfer until the next read. The request
// carries only the verb, the target, the Host header and the user agent; certificate checks stay
// as libcurl has them.
#include "download/http_exchange.h"

#include <curl/curl.h>

#include <cstring>
#include <mutex>

#include "core/content_length.h"
#include "core/decimal_text.h"
#include "download/desktop_proxy.h"

namespace {

constexpr long TimeoutSeconds = 15;

CURLM* Multi(JobState& state) {
    return static_cast<CURLM*>(state.session);
}
CURL* Easy(JobState& state) {
    return static_cast<CURL*>(state.request);
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto& body = *static_cast<BodyReader*>(user);
    const size_t length = size * count;
    // No read in progress, or no room left in it: libcurl keeps the data for the next read.
    if (body.destination == nullptr || length > body.capacity - body.filled) {
        body.paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    std::memcpy(body.destination + body.filled, data, length);
    body.filled += length;
    return length;
}

// Drives the transfer until `done` holds or it ends; the end's result lands in state.body.
template <typename Done> void Drive(JobState& state, Done done) {
    while (!done() && !state.body.finished) {
        int running = 0;
        const CURLMcode code = curl_multi_perform(Multi(state), &running);
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(Multi(state), &left)) {
            if (message->msg == CURLMSG_DONE) {
                state.body.finished = true;
                state.body.result = message->data.result;
            }
        }
        if (code != CURLM_OK && !state.body.finished) {
            state.body.finished = true;
            state.body.result = CURLE_OUT_OF_MEMORY;
        }
        if (!done() && !state.body.finished) {
            curl_multi_poll(Multi(state), nullptr, 0, 1000, nullptr);
        }
    }
}

// libcurl reads Content-Length itself before the program sees it, and ends the transfer on a
// value it cannot use (a minus sign, no digits). That is the program's refusal too, so it reads as
// one, after the status check.
bool CurlRefusedContentLength(const JobState& state) {
    return state.body.result == CURLE_WEIRD_SERVER_REPLY &&
           std::strncmp(state.curlMessage, "Invalid Content-Length", 22) == 0;
}

// A failed transfer's result, with the certificate check's verdict and the proxy's answer beside
// it: the failure's text depends on them.
ErrorCode TransferError(JobState& state, int result) {
    ErrorCode error = NetworkError(result);
    curl_easy_getinfo(Easy(state), CURLINFO_SSL_VERIFYRESULT, &error.certificateCheck);
    curl_easy_getinfo(Easy(state), CURLINFO_HTTP_CONNECTCODE, &error.proxyStatus);
    return error;
}

// The desktop's proxy for this URL, unless the environment names one, which libcurl then reads
// itself. Through an HTTP proxy, HTTPS always runs in a CONNECT tunnel: TLS still ends at the
// server, whose certificate is checked as it is without a proxy.
CURLcode ChooseProxy(CURL* easy, const std::string& url) {
    CURLcode code = curl_easy_setopt(easy, CURLOPT_HTTPPROXYTUNNEL, 1L);
    if (code == CURLE_OK) {
        if (const auto proxy = DesktopProxy(url)) {
            code = curl_easy_setopt(easy, CURLOPT_PROXY, proxy->c_str());
        }
    }
    return code;
}

} // namespace

bool OpenHttpRequest(JobState& state) {
    static std::once_flag initialised;
    std::call_once(initialised, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    state.session = curl_multi_init();
    if (state.session == nullptr) {
        state.errorCode = NetworkError(CURLE_OUT_OF_MEMORY);
        return false;
    }
    state.request = curl_easy_init();
    if (state.request == nullptr) {
        state.errorCode = NetworkError(CURLE_OUT_OF_MEMORY);
        return false;
    }
    // libcurl would send "Accept: */*"; a header given without a value is left out.
    state.headers = curl_slist_append(nullptr, "Accept:");
    if (state.headers == nullptr) {
        state.errorCode = NetworkError(CURLE_OUT_OF_MEMORY);
        return false;
    }
    const std::string url = "https://" + state.target.hostName + ":" +
                            core::DecimalText(state.target.serverPort) + state.target.requestTarget;
    CURL* easy = Easy(state);
    CURLcode code = CURLE_OK;
    const auto set = [&](CURLoption option, auto value) {
        if (code == CURLE_OK) {
            code = curl_easy_setopt(easy, option, value);
        }
    };
    set(CURLOPT_URL, url.c_str());
    set(CURLOPT_PROTOCOLS_STR, "https");
    set(CURLOPT_REDIR_PROTOCOLS_STR, "https");
    set(CURLOPT_FOLLOWLOCATION, 1L);
    set(CURLOPT_MAXREDIRS, 5L);
    // The target goes out as typed: no dot segments removed.
    set(CURLOPT_PATH_AS_IS, 1L);
    set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    set(CURLOPT_USERAGENT, "Quillmere/1.0");
    set(CURLOPT_HTTPHEADER, static_cast<curl_slist*>(state.headers));
    set(CURLOPT_CONNECTTIMEOUT, TimeoutSeconds);
    set(CURLOPT_LOW_SPEED_LIMIT, 1L);
    set(CURLOPT_LOW_SPEED_TIME, TimeoutSeconds);
    set(CURLOPT_NOSIGNAL, 1L);
    set(CURLOPT_ERRORBUFFER, state.curlMessage);
    set(CURLOPT_WRITEFUNCTION, &OnBody);
    set(CURLOPT_WRITEDATA, &state.body);
    if (code == CURLE_OK) {
        code = ChooseProxy(easy, url);
    }
    if (code != CURLE_OK) {
        state.errorCode = NetworkError(code);
        return false;
    }
    return true;
}

bool ExchangeHttp(JobState& state) {
    if (curl_multi_add_handle(Multi(state), Easy(state)) != CURLM_OK) {
        state.errorCode = NetworkError(CURLE_OUT_OF_MEMORY);
        return false;
    }
    // Redirects are followed in here: the transfer stops at the first body byte of the last
    // response (or at its end), so what follows reads that response's head.
    Drive(state, [&] { return state.body.paused; });

    long status = 0;
    curl_easy_getinfo(Easy(state), CURLINFO_RESPONSE_CODE, &status);
    if (state.body.finished && state.body.result != CURLE_OK &&
        !(status != 0 && CurlRefusedContentLength(state))) {
        state.errorCode = TransferError(state, state.body.result);
        return false;
    }
    if (status != 200) {
        state.outcome->errorText = Text(core::TextServerReturnedHttp) +
                                   core::DecimalText(static_cast<std::uint64_t>(status)) + ".";
        return false;
    }
    if (CurlRefusedContentLength(state)) {
        state.outcome->errorText = Text(core::TextInvalidContentLength);
        return false;
    }

    curl_header* header = nullptr;
    if (curl_easy_header(Easy(state), "Content-Length", 0, CURLH_HEADER, -1, &header) !=
        CURLHE_OK) {
        return true; // no announced size: no size check later
    }
    const auto announced = core::ParseContentLength(header->value, core::LeadingSpace::Ascii);
    if (!announced) {
        state.outcome->errorText = Text(core::TextInvalidContentLength);
        return false;
    }
    // Value first: whoever sees totalKnown set also sees the size.
    appGlobals.contentLength.exchange(*announced);
    appGlobals.totalKnown.exchange(true);
    return true;
}

bool ReadBody(JobState& state, unsigned char* chunk, std::size_t capacity, std::size_t& count) {
    BodyReader& body = state.body;
    body.destination = chunk;
    body.capacity = capacity;
    body.filled = 0;
    if (body.paused) {
        body.paused = false;
        // Hands over what libcurl held back, as far as it fits. A transfer that cannot go on
        // ends here, rather than waiting paused for ever.
        const CURLcode resumed = curl_easy_pause(Easy(state), CURLPAUSE_CONT);
        if (resumed != CURLE_OK && !body.finished) {
            body.finished = true;
            body.result = resumed;
        }
    }
    // Cancel also ends a wait for data that does not come (a server that stalls), within a second,
    // so that a cancelled job, or a session that ends, never waits out the time-out with its
    // staging file on disk. The read then has nothing, and the copy sees the cancellation.
    Drive(state,
          [&] { return body.filled > 0 || body.paused || appGlobals.cancelRequested.load(); });
    body.destination = nullptr;
    count = body.filled;
    // A body that ends before its announced size is a body that ended: the size check after the
    // copy says what is wrong with it, as it does on Windows.
    if (count == 0 && body.finished && body.result != CURLE_OK &&
        body.result != CURLE_PARTIAL_FILE) {
        state.errorCode = TransferError(state, body.result);
        return false;
    }
    return true;
}

void CloseHttpRequest(JobState& state) {
    if (state.session != nullptr && state.request != nullptr) {
        curl_multi_remove_handle(Multi(state), Easy(state));
    }
    if (state.request != nullptr) {
        curl_easy_cleanup(Easy(state));
        state.request = nullptr;
    }
    if (state.headers != nullptr) {
        curl_slist_free_all(static_cast<curl_slist*>(state.headers));
        state.headers = nullptr;
    }
    if (state.session != nullptr) {
        curl_multi_cleanup(Multi(state));
        state.session = nullptr;
    }
}
