// Plain unsigned decimal text for counts, codes and ids, as UTF-16 for the wide Windows functions.
#pragma once

#include <cstdint>
#include <string>

#include "core/decimal_text.h"

inline std::wstring DecimalText(std::uint64_t value) {
    const std::string digits = core::DecimalText(value);
    return std::wstring(digits.begin(), digits.end());
}
