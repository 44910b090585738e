// Error code to text, from the C library's message table or libcurl's, with a short English
// fallback. Called by the worker thread at the end of a failed job.
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

std::string Fallback(int value) {
    return core::TextErrorPrefix + core::DecimalText(static_cast<std::uint32_t>(value));
}

} // namespace

std::string FormatSystemError(ErrorCode code, bool russian) {
    if (code.space == ErrorSpace::Network) {
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
