// Session list entries and lines against the hand-built model, for seeded random paths (dots,
// both separators, drive and UNC forms, long and surrogate-split extensions) and byte counts around
// the bucket limits, in both languages.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>

#include "download/download_state.h"
#include "history/session_entry.h"
#include "tests/fuzz/fuzz_driver.h"
#include "tests/fuzz/models.h"

namespace {

struct EntryInput {
    std::wstring path;
    std::uint64_t byteCount = 0;
    bool russian = false;
};

const std::wstring nameUnits = L"abcXYZ019 -_~()[]{}!,;'+=\u044f\u00e9\u4e2d";
const std::wstring delimiterUnits = L".\\/:.";

const std::uint64_t counts[] = {
    0,
    1,
    1023,
    1024,
    1048575,
    1048576,
    1048577,
    104857599,
    104857600,
    104857601,
    999999999,
    4294967295ull,
    4294967296ull,
    9223372036854775807ull,
    9223372036854775808ull,
    18446744073709551615ull,
};

std::wstring Segment(fuzz::Random& random) {
    std::wstring text;
    const std::uint64_t length = random.Below(10);
    for (std::uint64_t i = 0; i < length; ++i) {
        switch (random.Below(10)) {
        case 0:
            text += L'.';
            break;
        case 1:
            text += fuzz::surrogatePair; // one character, two units
            break;
        case 2:
            if (random.OneIn(4)) {
                text += random.PickUnit(fuzz::loneHalves);
                break;
            }
            [[fallthrough]];
        default:
            text += random.PickUnit(nameUnits);
        }
    }
    return text;
}

std::wstring GeneratePath(fuzz::Random& random) {
    std::wstring path;
    switch (random.Below(5)) {
    case 0:
        path = L"C:\\";
        break;
    case 1:
        path = L"\\\\server\\share\\";
        break;
    case 2:
        path = L"N:/";
        break;
    default:
        break;
    }
    const std::uint64_t segments = random.Below(4);
    for (std::uint64_t i = 0; i < segments; ++i) {
        path += Segment(random);
        path += random.PickUnit(L"\\/");
    }
    path += Segment(random);
    switch (random.Below(6)) {
    case 0: { // an extension near and past the 24-unit cut, sometimes ending in a pair
        path += L'.';
        path.append(static_cast<std::size_t>(random.Between(18, 30)), random.PickUnit(L"xZ9"));
        if (random.OneIn(2)) {
            path += fuzz::surrogatePair + fuzz::surrogatePair;
        }
        break;
    }
    case 1:
        path +=
            random.Pick({L".txt", L".tar.gz", L".", L"..", L".PDF", L".\u0444\u0430\u0439\u043b"});
        break;
    case 2: // dots, separators and colons in any order
        for (std::uint64_t i = random.Below(6); i > 0; --i) {
            path += random.PickUnit(delimiterUnits);
        }
        break;
    default:
        break;
    }
    return path;
}

EntryInput Generate(fuzz::Random& random) {
    EntryInput input;
    input.path = GeneratePath(random);
    switch (random.Below(3)) {
    case 0:
        input.byteCount = random.Pick(counts);
        break;
    case 1:
        input.byteCount = random.Pick(counts) + random.Below(5) - 2;
        break;
    default:
        input.byteCount = random.Next() >> random.Below(64);
        break;
    }
    input.russian = random.OneIn(2);
    return input;
}

std::string Disagreement(const EntryInput& input) {
    appGlobals.russianUi = input.russian;
    const std::wstring entry = FormatSessionEntry(input.path, input.byteCount);
    const std::wstring line = FormatSessionListLine(input.path, input.byteCount);
    const std::wstring name = FileNameOfPath(input.path);
    appGlobals.russianUi = false;
    const std::wstring expectedEntry =
        model::SessionEntry(input.path, input.byteCount, input.russian);
    if (entry != expectedEntry) {
        return "entry program " + fuzz::Escape(entry) + ", model " + fuzz::Escape(expectedEntry);
    }
    const std::wstring expectedName = model::FileName(input.path);
    if (name != expectedName) {
        return "name program " + fuzz::Escape(name) + ", model " + fuzz::Escape(expectedName);
    }
    const std::wstring expectedLine =
        model::SessionLine(input.path, input.byteCount, input.russian);
    if (line != expectedLine) {
        return "line program " + fuzz::Escape(line) + ", model " + fuzz::Escape(expectedLine);
    }
    return {};
}

EntryInput ShrinkEntry(const EntryInput& input,
                       const std::function<bool(const EntryInput&)>& fails) {
    EntryInput smallest = input;
    smallest.path = fuzz::Shrink(
        input.path,
        [&](const std::wstring& path) {
            EntryInput candidate = smallest;
            candidate.path = path;
            return fails(candidate);
        },
        L"a.\\");
    for (const std::uint64_t count :
         {std::uint64_t{0}, std::uint64_t{1048576}, std::uint64_t{104857600}}) {
        EntryInput candidate = smallest;
        candidate.byteCount = count;
        if (candidate.byteCount < smallest.byteCount && fails(candidate)) {
            smallest = candidate;
            break;
        }
    }
    if (smallest.russian) {
        EntryInput candidate = smallest;
        candidate.russian = false;
        if (fails(candidate)) {
            smallest = candidate;
        }
    }
    return smallest;
}

TEST(FuzzSessionEntry, RandomPathsAndCountsAgree) {
    fuzz::Differential<EntryInput> test;
    test.name = "SessionEntry";
    test.iterations = 300000;
    test.salt = 4;
    test.generate = Generate;
    test.disagreement = Disagreement;
    test.shrink = ShrinkEntry;
    test.describe = [](const EntryInput& input) {
        return "path " + fuzz::Escape(input.path) + ", count " + std::to_string(input.byteCount) +
               (input.russian ? ", Russian" : ", English");
    };
    fuzz::Run(test);
}

} // namespace
