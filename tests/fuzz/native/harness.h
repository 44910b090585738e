// What both native libFuzzer harnesses share: the fuzzer's bytes read as UTF-16 code units (two
// bytes each, little-endian), as the program's texts are on Windows, and a report that stops the
// run on the first disagreement.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/fuzz/fuzz_support.h"

namespace native {

inline std::wstring UnitsOf(const std::uint8_t* data, std::size_t size) {
    std::wstring text;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        text += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    }
    return text;
}

[[noreturn]] inline void Disagree(const std::wstring& input, const std::string& what) {
    std::fprintf(stderr, "disagreement for %s: %s\n", fuzz::Escape(input).c_str(), what.c_str());
    std::abort();
}

} // namespace native
