// The loop every differential test runs: generate an input from the seeded generator, ask the
// program and the model, and on disagreement shrink the input and report it with both answers.
// Prints the seed and iteration count first, so any run can be repeated with QM_FUZZ_SEED.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "tests/fuzz/fuzz_support.h"

namespace fuzz {

// The seed every ordinary run uses.
constexpr std::uint64_t DefaultSeed = 0x5155494C4C4D4552ull;

template <typename Input> struct Differential {
    const char* name;
    std::uint64_t iterations; // before QM_FUZZ_SCALE
    std::function<Input(Random&)> generate;
    // Empty when program and model agree, else what each of them said. Inputs that make the model
    // no claim count as agreement.
    std::function<std::string(const Input&)> disagreement;
    // The smallest input the shrinker finds that still disagrees in the same way.
    std::function<Input(const Input&, const std::function<bool(const Input&)>&)> shrink;
    std::function<std::string(const Input&)> describe;
    // Each test's own stream: the run's seed mixed with this salt.
    std::uint64_t salt = 0;
    int reportAtMost = 3;
};

// The first word of a disagreement names its kind; shrinking keeps the kind.
inline std::string KindOf(const std::string& disagreement) {
    return disagreement.substr(0, disagreement.find(' '));
}

template <typename Input> void Run(const Differential<Input>& test) {
    const std::uint64_t seed = SeedFromEnvironment(DefaultSeed);
    const std::uint64_t iterations = IterationsFromEnvironment(test.iterations);
    std::printf("[   fuzz   ] %s: seed 0x%016llX, %llu inputs (QM_FUZZ_SEED, QM_FUZZ_SCALE)\n",
                test.name, static_cast<unsigned long long>(seed),
                static_cast<unsigned long long>(iterations));
    std::fflush(stdout);
    Random random(seed ^ test.salt);
    const auto started = std::chrono::steady_clock::now();
    std::uint64_t disagreements = 0;
    int reported = 0;
    for (std::uint64_t i = 0; i < iterations; ++i) {
        const Input input = test.generate(random);
        const std::string found = test.disagreement(input);
        if (found.empty()) {
            continue;
        }
        ++disagreements;
        if (reported >= test.reportAtMost) {
            continue;
        }
        ++reported;
        const std::string kind = KindOf(found);
        const Input smallest = test.shrink(input, [&](const Input& candidate) {
            const std::string again = test.disagreement(candidate);
            return !again.empty() && KindOf(again) == kind;
        });
        ADD_FAILURE() << test.name << ", seed 0x" << std::hex << seed << std::dec << ", input " << i
                      << ": " << test.describe(smallest) << ": " << test.disagreement(smallest)
                      << "\n  (shrunk from " << test.describe(input) << ")";
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("[   fuzz   ] %s: %llu disagreements in %.2f s\n", test.name,
                static_cast<unsigned long long>(disagreements), seconds);
    std::fflush(stdout);
    EXPECT_EQ(disagreements, 0u) << test.name;
}

// A shrinker for inputs that are one text.
inline std::function<std::wstring(const std::wstring&,
                                  const std::function<bool(const std::wstring&)>&)>
TextShrinker(const std::wstring& plainUnits) {
    return [plainUnits](const std::wstring& input,
                        const std::function<bool(const std::wstring&)>& fails) {
        return Shrink(input, fails, plainUnits);
    };
}

} // namespace fuzz
