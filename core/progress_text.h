// The status line's progress text: "Received: 1500 / 4096 bytes", or without the total while none
// is known. Pure text for the UI thread's progress timer.
#pragma once

#include <cstdint>
#include <string>

#include "core/decimal_text.h"
#include "core/texts.h"

namespace core {

inline std::string ComposeProgressText(bool russian, std::uint64_t received, bool totalKnown,
                                       std::uint64_t total) {
    std::string text = SelectText(TextReceivedPrefix, russian);
    text += DecimalText(received);
    if (totalKnown) {
        text += TextProgressSeparator;
        text += DecimalText(total);
    }
    text += SelectText(TextBytesUnit, russian);
    return text;
}

} // namespace core
