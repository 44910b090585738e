// Content-Length text against the hand conversion: every single unit alone and around digits, then
// seeded random texts biased towards white space of every kind, signs, digit runs near 2^64 and
// look-alike digits. The library's own wcstoull is checked against the hand conversion as well,
// so the model cannot drift from the platform unnoticed.
#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <optional>
#include <string>

#include "download/content_length.h"
#include "tests/fuzz/fuzz_driver.h"
#include "tests/fuzz/models.h"

namespace {

std::string Show(const std::optional<std::uint64_t>& size) {
    return size ? std::to_string(*size) : std::string("refused");
}

// White space of every kind the library accepts, and units that look like white space but are not.
const std::wstring spaces = L"\t\n\v\f\r \u00a0\u1680\u2000\u2001\u2002\u2003\u2004\u2005\u2006"
                            L"\u2007\u2008\u2009\u200a\u2028\u2029\u202f\u205f\u3000";
const std::wstring notSpaces = L"\u0085\u001c\u001d\u001e\u001f\u180e\u200b\u200c\ufeff\u00ad"
                               L"\u2060\u0008\u000e\u007f";
// Units that look like digits or belong to numbers elsewhere, and other junk.
const std::wstring junk = L"+-.,xXeE_'\u2212\uff10\uff11\uff19\u0660\u0669\u06f5\u0966\u00b2"
                          L"\u00b3\u00b9\u2070\u2074\u2460\uffff\u0130a" +
                          fuzz::loneHalves;
const std::wstring digits = L"0123456789";

const wchar_t* const numbers[] = {
    L"0",
    L"1",
    L"65536",
    L"4294967295",
    L"4294967296",
    L"9223372036854775807",
    L"9223372036854775808",
    L"1844674407370955161",
    L"1844674407370955162",
    L"18446744073709551609",
    L"18446744073709551610",
    L"18446744073709551614",
    L"18446744073709551615",
    L"18446744073709551616",
    L"18446744073709551619",
    L"18446744073709551620",
    L"18446744073709551625",
    L"27670116110564327420",
    L"36893488147419103232",
    L"99999999999999999999",
    L"100000000000000000000",
    L"184467440737095516150",
};

std::wstring Number(fuzz::Random& random) {
    switch (random.Below(4)) {
    case 0:
        return random.Pick(numbers);
    case 1:
        return std::to_wstring(random.Next() >> random.Below(64));
    case 2: { // any digit string of 18 to 22 digits: both sides of the 64-bit limit
        std::wstring text;
        const std::uint64_t length = random.Between(18, 22);
        for (std::uint64_t i = 0; i < length; ++i) {
            text += random.PickUnit(digits);
        }
        return text;
    }
    default: { // a neighbour of 2^64 - 1 in its last few digits
        std::wstring text = L"18446744073709551615";
        const std::uint64_t changes = random.Between(1, 3);
        for (std::uint64_t i = 0; i < changes; ++i) {
            text[text.size() - 1 - random.Below(4)] = random.PickUnit(digits);
        }
        return text;
    }
    }
}

wchar_t AnyInterestingUnit(fuzz::Random& random) {
    switch (random.Below(6)) {
    case 0:
        return random.PickUnit(spaces);
    case 1:
        return random.PickUnit(notSpaces);
    case 2:
        return random.PickUnit(junk);
    case 3:
        return random.PickUnit(L"+-");
    case 4:
        return static_cast<wchar_t>(random.Between(1, 0xFFFF));
    default:
        return random.PickUnit(digits);
    }
}

std::wstring Generate(fuzz::Random& random) {
    std::wstring text;
    switch (random.Below(5)) {
    case 0: // white space, a sign or two, a number, and sometimes something after it
    case 1: {
        const std::uint64_t lead = random.OneIn(3) ? 0 : random.Between(1, 4);
        for (std::uint64_t i = 0; i < lead; ++i) {
            text += random.OneIn(8) ? random.PickUnit(notSpaces) : random.PickUnit(spaces);
        }
        const std::uint64_t signs = random.OneIn(2) ? 0 : (random.OneIn(6) ? 2 : 1);
        for (std::uint64_t i = 0; i < signs; ++i) {
            text += random.PickUnit(L"+-");
        }
        if (random.OneIn(8)) {
            text += random.PickUnit(spaces); // white space between sign and digits
        }
        if (!random.OneIn(10)) {
            text += Number(random);
        }
        if (random.OneIn(3)) {
            const std::uint64_t tail = random.Between(1, 3);
            for (std::uint64_t i = 0; i < tail; ++i) {
                text += AnyInterestingUnit(random);
            }
        }
        break;
    }
    case 2: { // anything from the interesting alphabet
        const std::uint64_t length = random.Below(12);
        for (std::uint64_t i = 0; i < length; ++i) {
            text += AnyInterestingUnit(random);
        }
        break;
    }
    case 3: { // long runs: white space, zeros, then a number, up to and past 63 units
        text.append(static_cast<std::size_t>(random.Below(40)), random.PickUnit(spaces));
        text.append(static_cast<std::size_t>(random.Below(60)), L'0');
        text += Number(random);
        break;
    }
    default: { // a valid number with one unit inserted or replaced
        text = Number(random);
        const std::size_t at = static_cast<std::size_t>(random.Below(text.size() + 1));
        if (random.OneIn(2) && at < text.size()) {
            text[at] = AnyInterestingUnit(random);
        } else {
            text.insert(at, 1, AnyInterestingUnit(random));
        }
        break;
    }
    }
    return text;
}

// Program against model, then the library's wcstoull against the model's conversion.
std::string Disagreement(const std::wstring& text) {
    const std::optional<std::uint64_t> program = ParseContentLength(text.c_str());
    const std::optional<std::uint64_t> expected = model::ContentLength(text);
    if (program != expected) {
        return "program " + Show(program) + ", model " + Show(expected);
    }
    wchar_t* end = nullptr;
    const std::uint64_t value = std::wcstoull(text.c_str(), &end, 10);
    const std::size_t used = static_cast<std::size_t>(end - text.c_str());
    const model::Conversion conversion = model::ConvertLikeWcstoull(text);
    if (used != conversion.used || (used != 0 && value != conversion.value)) {
        return "library wcstoull used " + std::to_string(used) + " units giving " +
               std::to_string(value) + ", hand conversion used " + std::to_string(conversion.used) +
               " giving " + std::to_string(conversion.value);
    }
    return {};
}

TEST(FuzzContentLength, WhiteSpaceTableIsTheLibrarys) {
    for (std::uint32_t unit = 1; unit <= 0xFFFF; ++unit) {
        const bool library = std::iswspace(static_cast<std::wint_t>(unit)) != 0;
        EXPECT_EQ(library, model::IsLibraryWhiteSpace(unit)) << "unit " << std::hex << unit;
    }
}

TEST(FuzzContentLength, EveryUnitAloneAndAroundDigitsAgrees) {
    int failures = 0;
    for (std::uint32_t unit = 1; unit <= 0xFFFF && failures < 10; ++unit) {
        const wchar_t c = static_cast<wchar_t>(unit);
        for (const std::wstring& text :
             {std::wstring(1, c), std::wstring(1, c) + L"7", L"7" + std::wstring(1, c),
              L" " + std::wstring(1, c) + L"42", std::wstring(1, c) + L"-1",
              L"+" + std::wstring(1, c) + L"1"}) {
            const std::string found = Disagreement(text);
            if (!found.empty()) {
                ++failures;
                ADD_FAILURE() << fuzz::Escape(text) << ": " << found;
            }
        }
    }
}

TEST(FuzzContentLength, RandomTextsAgree) {
    fuzz::Differential<std::wstring> test;
    test.name = "ContentLength";
    test.iterations = 1000000;
    test.salt = 1;
    test.generate = Generate;
    test.disagreement = Disagreement;
    test.shrink = fuzz::TextShrinker(L"0 a");
    test.describe = [](const std::wstring& text) { return fuzz::Escape(text); };
    fuzz::Run(test);
}

} // namespace
