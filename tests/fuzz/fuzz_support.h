// Shared pieces of the seeded random differential tests: a small deterministic generator, the
// seed and budget from the environment, readable escapes of UTF-16 text and a greedy shrinker.
// Portable C++; used by the Wine test program and by the native fuzz harnesses alike.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace fuzz {

// SplitMix64: tiny, fast, and the same sequence on every platform for the same seed.
class Random {
  public:
    explicit Random(std::uint64_t seed) : state_(seed) {}

    std::uint64_t Next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, bound); bound must not be 0.
    std::uint64_t Below(std::uint64_t bound) { return Next() % bound; }
    // Uniform in [low, high].
    std::uint64_t Between(std::uint64_t low, std::uint64_t high) {
        return high - low == ~0ull ? Next() : low + Below(high - low + 1);
    }
    // True about once in every `odds` calls.
    bool OneIn(std::uint64_t odds) { return Below(odds) == 0; }
    template <typename T, std::size_t N> const T& Pick(const T (&items)[N]) {
        return items[Below(N)];
    }
    wchar_t PickUnit(const std::wstring& alphabet) {
        return alphabet[static_cast<std::size_t>(Below(alphabet.size()))];
    }

  private:
    std::uint64_t state_;
};

// Text from UTF-16 code units, for the units a string literal cannot hold (surrogate halves).
inline std::wstring Units(std::initializer_list<std::uint16_t> units) {
    std::wstring text;
    for (const std::uint16_t unit : units) {
        text += static_cast<wchar_t>(unit);
    }
    return text;
}

// One character outside the Basic Multilingual Plane (U+1F600) as its two UTF-16 units.
inline const std::wstring surrogatePair = Units({0xD83D, 0xDE00});
// Lone surrogate halves: high, high, low, low.
inline const std::wstring loneHalves = Units({0xD800, 0xDBFF, 0xDC00, 0xDFFF});

// The seed of a run: QM_FUZZ_SEED (decimal or 0x-hexadecimal) when set, else the fixed default,
// so that every ordinary run checks the same inputs and a failure repeats.
inline std::uint64_t SeedFromEnvironment(std::uint64_t fallback) {
    const char* text = std::getenv("QM_FUZZ_SEED");
    if (text == nullptr || *text == '\0') {
        return fallback;
    }
    return std::strtoull(text, nullptr, 0);
}

// The number of iterations: the test's own count times QM_FUZZ_SCALE (a positive integer) when
// set, for longer explorations outside the test suite.
inline std::uint64_t IterationsFromEnvironment(std::uint64_t base) {
    const char* text = std::getenv("QM_FUZZ_SCALE");
    if (text == nullptr || *text == '\0') {
        return base;
    }
    const std::uint64_t scale = std::strtoull(text, nullptr, 10);
    return scale == 0 ? base : base * scale;
}

// UTF-16 text as printable ASCII: printable ASCII stays, '\' and '"' are escaped, everything else
// becomes \uXXXX, so white space, surrogate halves and zeros are all visible in a report.
inline std::string Escape(const std::wstring& text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out = "\"";
    for (const wchar_t c : text) {
        const unsigned unit = static_cast<unsigned>(c);
        if (c == L'\\' || c == L'"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (unit >= 0x20 && unit < 0x7F) {
            out += static_cast<char>(unit);
        } else {
            out += "\\u";
            for (int shift = 12; shift >= 0; shift -= 4) {
                out += hex[(unit >> shift) & 0xF];
            }
        }
    }
    out += '"';
    return out;
}

// The shortest text the greedy passes reach that still fails: first drop runs of units (long
// runs, then shorter), then replace single units by plainer ones. `fails` must hold for the input.
inline std::wstring Shrink(std::wstring text, const std::function<bool(const std::wstring&)>& fails,
                           const std::wstring& plainUnits = L"0a ") {
    bool progress = true;
    int rounds = 0;
    while (progress && rounds++ < 50) {
        progress = false;
        for (std::size_t run = text.size(); run >= 1; run /= 2) {
            for (std::size_t at = 0; at + run <= text.size();) {
                std::wstring candidate = text;
                candidate.erase(at, run);
                if (fails(candidate)) {
                    text = candidate;
                    progress = true;
                } else {
                    ++at;
                }
            }
        }
        for (std::size_t at = 0; at < text.size(); ++at) {
            for (const wchar_t plain : plainUnits) {
                if (text[at] == plain) {
                    break;
                }
                std::wstring candidate = text;
                candidate[at] = plain;
                if (fails(candidate)) {
                    text = candidate;
                    progress = true;
                    break;
                }
            }
        }
    }
    return text;
}

} // namespace fuzz
