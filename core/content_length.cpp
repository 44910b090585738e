// Content-Length text to announced size. Pure logic for the worker thread.
#include "core/content_length.h"

namespace core {

namespace {

// The length in bytes of the white space that starts at `at`, or 0.
std::size_t SpaceAt(std::string_view text, std::size_t at, LeadingSpace spaces) {
    const auto byte = [&](std::size_t i) {
        return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u;
    };
    const unsigned first = byte(0);
    if ((first >= 0x09 && first <= 0x0D) || first == 0x20) {
        return 1;
    }
    if (spaces == LeadingSpace::Ascii) {
        return 0;
    }
    if (first == 0xC2 && byte(1) == 0xA0) {
        return 2; // U+00A0
    }
    if (first == 0xE1 && byte(1) == 0x9A && byte(2) == 0x80) {
        return 3; // U+1680
    }
    if (first == 0xE2 && byte(1) == 0x80 &&
        ((byte(2) >= 0x80 && byte(2) <= 0x8A) || byte(2) == 0xA8 || byte(2) == 0xA9 ||
         byte(2) == 0xAF)) {
        return 3; // U+2000..U+200A, U+2028, U+2029, U+202F
    }
    if (first == 0xE2 && byte(1) == 0x81 && byte(2) == 0x9F) {
        return 3; // U+205F
    }
    if (first == 0xE3 && byte(1) == 0x80 && byte(2) == 0x80) {
        return 3; // U+3000
    }
    return 0;
}

} // namespace

std::optional<std::uint64_t> ParseContentLength(std::string_view text, LeadingSpace spaces) {
    text = text.substr(0, text.find('\0'));
    std::size_t at = 0;
    while (std::size_t length = SpaceAt(text, at, spaces)) {
        at += length;
    }
    bool minus = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        minus = text[at] == '-';
        ++at;
    }
    const std::size_t firstDigit = at;
    std::uint64_t value = 0;
    bool saturated = false;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        const auto digit = static_cast<std::uint64_t>(text[at] - '0');
        if (value > (UINT64_MAX - digit) / 10) {
            saturated = true;
        } else {
            value = value * 10 + digit;
        }
    }
    if (at == firstDigit || at != text.size() || minus) {
        return std::nullopt;
    }
    return saturated ? UINT64_MAX : value;
}

} // namespace core
