// Builds the session list line for a completed download. Runs on the UI thread; keeps no state.
#include "core/session_entry.h"

#include "core/decimal_text.h"
#include "core/texts.h"

namespace core {

namespace {

constexpr std::string_view pathSeparators = "\\/";
constexpr std::size_t maxExtensionUnits = 24;

// Bytes of the UTF-8 sequence that starts with this byte, and the UTF-16 units it stands for. A
// byte that starts no sequence counts as one unit on its own, as a replacement character would.
struct Sequence {
    std::size_t bytes;
    std::size_t units;
};
Sequence SequenceAt(std::string_view text, std::size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    std::size_t bytes = 1;
    std::size_t units = 1;
    if (lead >= 0xF0 && lead <= 0xF7) {
        bytes = 4;
        units = 2;
    } else if (lead >= 0xE0) {
        bytes = lead <= 0xEF ? 3 : 1;
    } else if (lead >= 0xC0) {
        bytes = 2;
    }
    if (bytes > text.size() - at) {
        return {1, 1};
    }
    for (std::size_t i = 1; i < bytes; ++i) {
        if ((static_cast<unsigned char>(text[at + i]) & 0xC0) != 0x80) {
            return {1, 1};
        }
    }
    return {bytes, units};
}

// The first `units` UTF-16 units of a text. Where the cut falls inside a character outside the
// Basic Multilingual Plane, its high surrogate is kept on its own (in the generalised UTF-8 that
// can carry one), exactly as cutting the UTF-16 text would keep it.
std::string FirstUnits(std::string_view text, std::size_t units) {
    std::size_t at = 0;
    while (at < text.size() && units > 0) {
        const Sequence sequence = SequenceAt(text, at);
        if (sequence.units > units) {
            const auto b = [&](std::size_t i) {
                return static_cast<unsigned>(text[at + i]) & 0xFF;
            };
            const unsigned codePoint = ((b(0) & 0x07) << 18) | ((b(1) & 0x3F) << 12) |
                                       ((b(2) & 0x3F) << 6) | (b(3) & 0x3F);
            const unsigned high = 0xD800 + ((codePoint - 0x10000) >> 10);
            std::string cut(text.substr(0, at));
            cut += static_cast<char>(0xE0 | (high >> 12));
            cut += static_cast<char>(0x80 | ((high >> 6) & 0x3F));
            cut += static_cast<char>(0x80 | (high & 0x3F));
            return cut;
        }
        at += sequence.bytes;
        units -= sequence.units;
    }
    return std::string(text.substr(0, at));
}

const char* SizeBucket(std::uint64_t byteCount, bool russian) {
    if (byteCount < 0x100000) {
        return SelectText(TextBucketUnder1Mib, russian);
    }
    if (byteCount < 0x6400000) {
        return SelectText(TextBucket1To100Mib, russian);
    }
    return SelectText(TextBucket100MibAndOver, russian);
}

} // namespace

std::string FileNameOfPath(std::string_view path) {
    const std::size_t separator = path.find_last_of(pathSeparators);
    return std::string(separator == std::string_view::npos ? path : path.substr(separator + 1));
}

std::string FileExtension(std::string_view path) {
    const std::size_t separator = path.find_last_of(pathSeparators);
    const std::size_t dot = path.find_last_of('.');
    // A dot that belongs to a folder name is no extension of the file.
    if (dot == std::string_view::npos || (separator != std::string_view::npos && dot < separator)) {
        return TextNoExtension;
    }
    return FirstUnits(path.substr(dot), maxExtensionUnits);
}

std::string FormatSessionEntry(std::string_view path, std::uint64_t byteCount, bool russian) {
    std::string entry = FileExtension(path);
    entry += TextEntrySeparator;
    entry += SizeBucket(byteCount, russian);
    entry += TextEntrySeparator;
    entry += DecimalText(byteCount);
    entry += SelectText(TextBytesUnit, russian);
    return entry;
}

std::string FormatSessionListLine(std::string_view path, std::uint64_t byteCount, bool russian) {
    return FileNameOfPath(path) + TextNameSeparator + FormatSessionEntry(path, byteCount, russian);
}

} // namespace core
