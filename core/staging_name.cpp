// Staging name and zone mark bytes. Pure logic for the worker thread.
#include "core/staging_name.h"

#include "core/decimal_text.h"

namespace core {

namespace {

bool IsContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The length of UTF-8 text as the file system counts it. A four-byte sequence is a character
// outside the Basic Multilingual Plane, which UTF-16 holds as two units; every other sequence
// (an unpaired surrogate kept in three bytes included) is one unit.
std::size_t NameLength(std::string_view text, bool inUtf16Units) {
    if (!inUtf16Units) {
        return text.size();
    }
    std::size_t units = 0;
    for (const char c : text) {
        if (!IsContinuationByte(c)) {
            units += static_cast<unsigned char>(c) >= 0xF0 ? 2 : 1;
        }
    }
    return units;
}

} // namespace

const char ZoneIdentifierText[26] = {'[', 'Z', 'o', 'n', 'e', 'T',  'r',  'a', 'n',
                                     's', 'f', 'e', 'r', ']', '\r', '\n', 'Z', 'o',
                                     'n', 'e', 'I', 'd', '=', '3',  '\r', '\n'};

std::string StagingFileName(std::string_view targetPath, std::uint32_t processId, unsigned n,
                            const NameLimit& limit) {
    std::string suffix = ".quillmere-";
    suffix += DecimalText(processId);
    suffix += '-';
    suffix += DecimalText(n);
    suffix += ".part";

    std::string_view kept = targetPath;
    if (limit.longest != 0) {
        const std::size_t separator = targetPath.find_last_of(limit.separators);
        const std::size_t nameStart = separator == std::string_view::npos ? 0 : separator + 1;
        const std::size_t suffixLength = NameLength(suffix, limit.inUtf16Units);
        // Whole characters come off the end of the name until name and suffix fit together.
        while (kept.size() > nameStart &&
               NameLength(kept.substr(nameStart), limit.inUtf16Units) + suffixLength >
                   limit.longest) {
            std::size_t end = kept.size() - 1;
            while (end > nameStart && IsContinuationByte(kept[end])) {
                --end;
            }
            kept = kept.substr(0, end);
        }
    }
    std::string name(kept);
    name += suffix;
    return name;
}

} // namespace core
