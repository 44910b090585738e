// Error code to text, from the C library's message table, the program's own sentences for the
// network failures a user meets, or libcurl's table, with a short English fallback. Called by the
// worker thread at the end of a failed job.
#include "download/system_error.h"

#include <curl/curl.h>

#include <cstdlib>
#include <cstring>
#include <locale.h>

#include "core/decimal_text.h"
#include "core/texts.h"
#include "core/ui_language.h"

namespace {

// The messages locale of the Russian interface: the user's own setting when it is a Russian one,
// else the usual Russian locale; none when the system has no such locale installed, and the
// texts are then English. Looked up once, then kept for the rest of the run.
locale_t RussianMessages() {
    static const locale_t messages = [] {
        const char* candidates[] = {std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"),
                                    std::getenv("LANG"), "ru_RU.UTF-8"};
        for (const char* name : candidates) {
            if (name != nullptr && core::IsRussianLocaleName(name)) {
                // The character type too: the catalog's texts come out in its character set,
                // which must be UTF-8 (the "C" one would spell them in Latin letters).
                if (const locale_t found =
                        newlocale(LC_MESSAGES_MASK | LC_CTYPE_MASK, name, locale_t{})) {
                    return found;
                }
            }
        }
        return locale_t{};
    }();
    return messages;
}

// X509 verify results that libcurl reports for a refused certificate. Its own host-name check
// runs after the chain was found good and leaves the result at 1, "not verified"; a check made by
// OpenSSL itself would give 62.
constexpr long CertificateExpired = 10;
constexpr long CertificateNotChecked = 1;
constexpr long CertificateHostMismatch = 62;

// The program's own sentence for the network failures a user meets; none for the rest, which keep
// libcurl's words.
const core::TextPair* NetworkFailureText(const ErrorCode& code) {
    // A proxy that answered the tunnel request with anything but success turned the download
    // away, whatever libcurl made of the answer.
    if (code.proxyStatus >= 300) {
        return &core::TextProxyRefused;
    }
    switch (code.value) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return &core::TextHostNotFound;
    case CURLE_COULDNT_RESOLVE_PROXY:
        return &core::TextProxyNotFound;
    case CURLE_COULDNT_CONNECT:
        return &core::TextCouldNotConnect;
    case CURLE_OPERATION_TIMEDOUT:
        return &core::TextTimedOut;
    case CURLE_PEER_FAILED_VERIFICATION:
        if (code.certificateCheck == CertificateExpired) {
            return &core::TextCertificateExpired;
        }
        if (code.certificateCheck == CertificateNotChecked ||
            code.certificateCheck == CertificateHostMismatch) {
            return &core::TextCertificateOtherSite;
        }
        return &core::TextCertificateUntrusted;
    case CURLE_SSL_CONNECT_ERROR:
        return &core::TextSecureConnectionFailed;
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
        return &core::TextConnectionClosedEarly;
    case CURLE_TOO_MANY_REDIRECTS:
        return &core::TextTooManyRedirects;
    default:
        return nullptr;
    }
}

std::string Fallback(int value) {
    return core::TextErrorPrefix + core::DecimalText(static_cast<std::uint32_t>(value));
}

} // namespace

std::string FormatSystemError(ErrorCode code, bool russian) {
    if (code.space == ErrorSpace::Network) {
        if (const core::TextPair* own = NetworkFailureText(code)) {
            return core::SelectText(*own, russian);
        }
        const CURLcode result = static_cast<CURLcode>(code.value);
        // libcurl's texts are all known in advance; for a number it has none for it says so.
        const char* text = curl_easy_strerror(result);
        if (text == nullptr || std::strcmp(text, "Unknown error") == 0 ||
            std::strncmp(text, "Unknown error ", 14) == 0) {
            return Fallback(code.value);
        }
        return text;
    }
    // strerrordesc_np knows exactly the numbers that have a text, in English; a Russian text is
    // looked up for those only, so an unknown number never reads as "Unknown error".
    const char* english = code.space == ErrorSpace::System ? strerrordesc_np(code.value) : nullptr;
    if (english == nullptr) {
        return Fallback(code.value);
    }
    if (russian) {
        if (const locale_t messages = RussianMessages()) {
            return strerror_l(code.value, messages);
        }
    }
    return english;
}
