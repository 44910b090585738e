// The status line's progress text: "Received: 1500 / 4096 bytes", or without the total while none
// is known. Kept apart from the window so it can be checked directly.
#pragma once

#include <cstdint>
#include <string>

#include "text/decimal_text.h"
#include "text/texts.h"

inline std::wstring ComposeProgressText(bool russian, std::uint64_t received, bool totalKnown,
                                        std::uint64_t total) {
    std::wstring text = SelectText(TextReceivedPrefix, russian);
    text += DecimalText(received);
    if (totalKnown) {
        text += TextProgressSeparator;
        text += DecimalText(total);
    }
    text += SelectText(TextBytesUnit, russian);
    return text;
}
