// The POSIX side of the language rule: picking the locale setting and reading its language. Pure
// logic; the caller reads the environment once at start-up.
#include "core/ui_language.h"

namespace core {

bool IsRussianLocaleName(std::string_view name) {
    return name.substr(0, name.find_first_of("_.@")) == "ru";
}

bool IsRussianLocale(const char* language, const char* lcAll, const char* lcMessages,
                     const char* lang) {
    if (language != nullptr && *language != '\0') {
        const std::string_view list(language);
        const std::string_view first = list.substr(0, list.find(':'));
        if (!first.empty()) {
            return IsRussianLocaleName(first);
        }
    }
    for (const char* value : {lcAll, lcMessages, lang}) {
        if (value != nullptr && *value != '\0') {
            return IsRussianLocaleName(value);
        }
    }
    return false;
}

} // namespace core
