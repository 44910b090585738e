// Every text the program shows, as the UTF-16 constants the wide Windows functions take: the
// core's table, turned into wide literals by the compiler (L"" followed by the UTF-8 literal makes
// one wide literal), so nothing is converted at run time. Any thread may pick a member, since the
// language is fixed before the first window exists.
#pragma once

#include "core/texts.h"

struct TextPair {
    const wchar_t* english;
    const wchar_t* russian;
};

inline const wchar_t* SelectText(const TextPair& pair, bool russian) {
    return russian ? pair.russian : pair.english;
}

#define QUILLMERE_WIDE_PAIR(key, english, russian)                                                 \
    inline constexpr TextPair key{L"" english, L"" russian};
#define QUILLMERE_WIDE_FIXED(key, text) inline constexpr const wchar_t* key = L"" text;
QUILLMERE_TEXT_PAIRS(QUILLMERE_WIDE_PAIR)
QUILLMERE_FIXED_TEXTS(QUILLMERE_WIDE_FIXED)
#undef QUILLMERE_WIDE_PAIR
#undef QUILLMERE_WIDE_FIXED
