// The language rule: Russian texts exactly when the primary language of the user's default UI
// language is Russian (any sublanguage), English otherwise. Decided once at start-up.
#pragma once

inline bool IsRussianUiLanguage(unsigned short languageId) {
    return (languageId & 0x3FF) == 0x19;
}
