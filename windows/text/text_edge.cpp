// UTF-16 to generalised UTF-8 and back, for the calls of the Windows edition into the core.
#include "text/text_edge.h"

namespace {

void AppendCodePoint(std::string& out, unsigned codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

} // namespace

std::string Utf8FromWide(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const unsigned unit = static_cast<unsigned>(text[i]) & 0xFFFF;
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size()) {
            const unsigned next = static_cast<unsigned>(text[i + 1]) & 0xFFFF;
            if (next >= 0xDC00 && next <= 0xDFFF) {
                AppendCodePoint(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
                ++i;
                continue;
            }
        }
        AppendCodePoint(out, unit);
    }
    return out;
}

std::wstring WideFromUtf8(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    std::size_t i = 0;
    const auto byte = [&](std::size_t at) { return static_cast<unsigned>(text[at]) & 0xFF; };
    const auto continuation = [&](std::size_t at) {
        return at < text.size() && (byte(at) & 0xC0) == 0x80;
    };
    while (i < text.size()) {
        const unsigned lead = byte(i);
        if (lead >= 0xF0 && lead <= 0xF7 && continuation(i + 1) && continuation(i + 2) &&
            continuation(i + 3)) {
            const unsigned codePoint = ((lead & 0x07) << 18) | ((byte(i + 1) & 0x3F) << 12) |
                                       ((byte(i + 2) & 0x3F) << 6) | (byte(i + 3) & 0x3F);
            out += static_cast<wchar_t>(0xD800 + ((codePoint - 0x10000) >> 10));
            out += static_cast<wchar_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
            i += 4;
        } else if (lead >= 0xE0 && lead <= 0xEF && continuation(i + 1) && continuation(i + 2)) {
            out += static_cast<wchar_t>(((lead & 0x0F) << 12) | ((byte(i + 1) & 0x3F) << 6) |
                                        (byte(i + 2) & 0x3F));
            i += 3;
        } else if (lead >= 0xC0 && lead <= 0xDF && continuation(i + 1)) {
            out += static_cast<wchar_t>(((lead & 0x1F) << 6) | (byte(i + 1) & 0x3F));
            i += 2;
        } else {
            // Only the core's own output comes back this way, and it is whole; a stray byte
            // stands for itself.
            out += static_cast<wchar_t>(lead);
            i += 1;
        }
    }
    return out;
}
