// The language rule: Russian texts exactly when the primary language of the user's UI language is
// Russian (any region), English otherwise. Decided once at start-up, from whatever setting each
// platform keeps that language in.
#pragma once

#include <string_view>

namespace core {

// A Windows language identifier: Russian when its low 10 bits (the primary language) are 0x19.
inline bool IsRussianUiLanguage(unsigned short languageId) {
    return (languageId & 0x3FF) == 0x19;
}

// A POSIX locale setting, from the environment in the order gettext reads it: the first entry of
// LANGUAGE (a ':'-separated list), else LC_ALL, else LC_MESSAGES, else LANG; unset and empty
// values are skipped (pass nullptr or ""). Russian when the chosen value's language, the part
// before any '_', '.' or '@', is exactly "ru".
bool IsRussianLocale(const char* language, const char* lcAll, const char* lcMessages,
                     const char* lang);

// Whether one locale name ("ru", "ru_RU.UTF-8", "ru@latin"...) names the Russian language.
bool IsRussianLocaleName(std::string_view name);

} // namespace core
