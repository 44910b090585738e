// The differential tests of the parsers against the Linux edition: generated URLs against the
// model's split and the Linux splitter (AcceptUrl), and generated Content-Length texts against the
// model's conversion and the core's reading with ASCII white space, as a header read as bytes
// gets it. Native; the model's wide texts reach the program as UTF-8. Where the Linux splitter
// answers a shape the model makes no claim about, that is counted, not judged (see the list of
// differences in models.h).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "core/content_length.h"
#include "download/url_target.h"
#include "tests/fuzz/fuzz_driver.h"
#include "tests/fuzz/models.h"

namespace {

// Code points (wchar_t holds one on Linux) to UTF-8.
std::string Utf8(const std::wstring& text) {
    std::string out;
    for (const wchar_t unit : text) {
        const auto c = static_cast<std::uint32_t>(unit);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string Quoted(const std::wstring& text) {
    std::string quoted(1, '"');
    quoted += Utf8(text);
    quoted += '"';
    return quoted;
}

const std::wstring pathUnits = L"abcxyzAZ019-._~!$&'()*+,;=:@%/";
const std::wstring oddUnits = L"?#\\ \"<>^`{|}\u00e9\u044f\u4e2d\u00a0\t\U0001F600";
const std::wstring hostUnits = L"abcdefghijklmnopqrstuvwxyz0123456789-";

std::wstring Piece(fuzz::Random& random, std::uint64_t maxLength) {
    std::wstring text;
    const std::uint64_t length = random.Below(maxLength + 1);
    for (std::uint64_t i = 0; i < length; ++i) {
        if (random.OneIn(6)) {
            text += random.PickUnit(oddUnits);
        } else if (random.OneIn(12)) {
            text += random.Pick({L"%20", L"%41", L"%2F", L"%23", L"%", L"%zz"});
        } else {
            text += random.PickUnit(pathUnits);
        }
    }
    return text;
}

std::wstring GenerateUrl(fuzz::Random& random) {
    std::wstring url = random.Pick({L"https://", L"https://", L"https://", L"HTTPS://", L"http://",
                                    L"ftp://", L"https:", L"https:/", L"", L"hTtPs://"});
    if (random.OneIn(6)) {
        url += random.Pick({L"u@", L"u:p@", L":p@", L"@", L":@", L"a@b@"});
    }
    switch (random.Below(8)) {
    case 0:
        url += L"localhost";
        break;
    case 1:
        url += random.Pick({L"[::1]", L"[2001:db8::1]", L"", L"a_b", L"x~y", L"[::1"});
        break;
    default:
        for (std::uint64_t i = random.Between(1, 12); i > 0; --i) {
            url += random.PickUnit(hostUnits + L".");
        }
    }
    if (random.OneIn(3)) {
        url += random.Pick({L":443", L":8443", L":0", L":", L":65535", L":65536", L":8x", L":00443",
                            L":-1", L":123456", L": 1"});
    }
    if (!random.OneIn(4)) {
        url += L"/" + Piece(random, 12);
    }
    if (random.OneIn(2)) {
        url += L"?" + Piece(random, 8);
    }
    if (random.OneIn(3)) {
        url += L"#" + Piece(random, 8);
    }
    return url;
}

TEST(FuzzLinuxAcceptUrl, AgreesWithTheModelWhereItMakesAClaim) {
    std::uint64_t noClaim = 0;
    fuzz::Differential<std::wstring> test;
    test.name = "FuzzLinuxAcceptUrl";
    test.iterations = 200000;
    test.salt = 0x4C494E5558ull;
    test.generate = GenerateUrl;
    test.disagreement = [&](const std::wstring& url) -> std::string {
        const model::UrlAnswer expected = model::SplitUrl(url);
        UrlTarget target;
        const bool accepted = AcceptUrl(Utf8(url), target);
        switch (expected.verdict) {
        case model::Verdict::NoClaim:
            ++noClaim;
            return {};
        case model::Verdict::Refused:
            return accepted ? "accepted where the model refuses" : "";
        case model::Verdict::Accepted:
            if (!accepted) {
                return "refused where the model accepts";
            }
            if (target.hostName != Utf8(expected.host) || target.serverPort != expected.port ||
                target.requestTarget != Utf8(expected.target)) {
                std::string said = "split ";
                said += target.hostName + " " + std::to_string(target.serverPort) + " ";
                said += target.requestTarget + " where the model has ";
                said += Utf8(expected.host) + " " + std::to_string(expected.port) + " ";
                said += Utf8(expected.target);
                return said;
            }
            return {};
        }
        return {};
    };
    test.shrink = fuzz::TextShrinker(L"ahs:/");
    test.describe = [](const std::wstring& url) { return Quoted(url); };
    fuzz::Run(test);
    std::printf("[   fuzz   ] FuzzLinuxAcceptUrl: %llu inputs without a claim\n",
                static_cast<unsigned long long>(noClaim));
}

std::wstring GenerateLength(fuzz::Random& random) {
    const std::wstring units = L" \t\r\n\v\f\u00a0\u3000+-0123456789xX.\u0660\uff11";
    std::wstring text;
    for (std::uint64_t i = random.Below(6); i > 0; --i) {
        text += random.PickUnit(units);
    }
    if (random.OneIn(2)) {
        text += random.Pick({L"0", L"18446744073709551615", L"18446744073709551616", L"65536",
                             L"99999999999999999999999"});
    }
    for (std::uint64_t i = random.Below(3); i > 0; --i) {
        text += random.PickUnit(units);
    }
    return text;
}

TEST(FuzzLinuxContentLength, AgreesWithTheModelOfTheCLibrary) {
    fuzz::Differential<std::wstring> test;
    test.name = "FuzzLinuxContentLength";
    test.iterations = 200000;
    test.salt = 0x4C454E475448ull;
    test.generate = GenerateLength;
    test.disagreement = [](const std::wstring& text) -> std::string {
        const auto expected = model::ContentLength(text);
        const auto actual = core::ParseContentLength(Utf8(text), core::LeadingSpace::Ascii);
        if (expected == actual) {
            return {};
        }
        std::string said = "read ";
        said += actual ? std::to_string(*actual) : std::string("refused");
        said += " where the model has ";
        said += expected ? std::to_string(*expected) : std::string("refused");
        return said;
    };
    test.shrink = fuzz::TextShrinker(L"0 ");
    test.describe = [](const std::wstring& text) { return Quoted(text); };
    fuzz::Run(test);
}

} // namespace
