// The status line's progress text: "Received: 1500 / 4096 bytes", or without the total while none
// is known. The core composes it; this gives it to the status line as UTF-16.
#pragma once

#include <cstdint>
#include <string>

#include "core/progress_text.h"
#include "text/text_edge.h"

inline std::wstring ComposeProgressText(bool russian, std::uint64_t received, bool totalKnown,
                                        std::uint64_t total) {
    return WideFromUtf8(core::ComposeProgressText(russian, received, totalKnown, total));
}
