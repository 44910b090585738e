// Plain unsigned decimal text for counts, codes and ids: no sign, grouping or leading zeros.
#pragma once

#include <cstdint>
#include <string>

namespace core {

inline std::string DecimalText(std::uint64_t value) {
    char digits[20];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    std::string text;
    text.reserve(count);
    while (count > 0) {
        text.push_back(digits[--count]);
    }
    return text;
}

} // namespace core
