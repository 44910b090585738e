// libFuzzer harness: ParseContentLength against the hand conversion, and the C library's own
// wcstoull against that conversion, for any text of UTF-16 units.
#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <optional>
#include <string>

#include "download/content_length.h"
#include "tests/fuzz/models.h"
#include "tests/fuzz/native/harness.h"

namespace {

std::string Show(const std::optional<std::uint64_t>& size) {
    return size ? std::to_string(*size) : std::string("refused");
}

} // namespace

// The model's white space table must be this C library's before any input counts.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    for (std::uint32_t unit = 1; unit <= 0xFFFF; ++unit) {
        if ((std::iswspace(static_cast<std::wint_t>(unit)) != 0) !=
            model::IsLibraryWhiteSpace(unit)) {
            std::fprintf(stderr, "white space table differs from iswspace at U+%04X\n",
                         static_cast<unsigned>(unit));
            std::abort();
        }
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::wstring text = native::UnitsOf(data, size);
    const std::optional<std::uint64_t> program = ParseContentLength(text.c_str());
    const std::optional<std::uint64_t> expected = model::ContentLength(text);
    if (program != expected) {
        native::Disagree(text, "program " + Show(program) + ", model " + Show(expected));
    }
    wchar_t* end = nullptr;
    const std::uint64_t value = std::wcstoull(text.c_str(), &end, 10);
    const std::size_t used = static_cast<std::size_t>(end - text.c_str());
    const model::Conversion conversion = model::ConvertLikeWcstoull(text);
    if (used != conversion.used || (used != 0 && value != conversion.value)) {
        native::Disagree(text, "library wcstoull used " + std::to_string(used) + " giving " +
                                   std::to_string(value) + ", hand conversion used " +
                                   std::to_string(conversion.used) + " giving " +
                                   std::to_string(conversion.value));
    }
    return 0;
}
