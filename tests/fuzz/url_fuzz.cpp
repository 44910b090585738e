// URLs against the hand split: the pure request target and prepared text on random texts, then
// AcceptUrl (Wine's WinHttpCrackUrl underneath) on generated URLs built from host, port, path,
// query and fragment pieces, with user information and other schemes mixed in. Shapes the model
// makes no claim about are counted, not judged.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "download/url_target.h"
#include "tests/fuzz/fuzz_driver.h"
#include "tests/fuzz/models.h"

namespace {

// Units a URL's path, query and fragment may carry, the delimiters included, plus a few that a
// well-formed URL would escape: space, backslash, non-ASCII letters and surrogate halves.
const std::wstring pathUnits = L"abcxyzAZ019-._~!$&'()*+,;=:@%/";
const std::wstring oddUnits =
    L"?#\\ \"<>^`{|}\u00e9\u044f\u4e2d\u00a0\t" + fuzz::surrogatePair + fuzz::loneHalves;
const std::wstring hostUnits = L"abcdefghijklmnopqrstuvwxyz0123456789-";

std::wstring Piece(fuzz::Random& random, std::uint64_t maxLength, bool odd) {
    std::wstring text;
    const std::uint64_t length = random.Below(maxLength + 1);
    for (std::uint64_t i = 0; i < length; ++i) {
        if (odd && random.OneIn(6)) {
            text += random.PickUnit(oddUnits);
        } else if (random.OneIn(12)) {
            text += random.Pick({L"%20", L"%41", L"%2F", L"%3F", L"%23", L"%40", L"%", L"%zz"});
        } else {
            text += random.PickUnit(pathUnits);
        }
    }
    return text;
}

std::wstring Host(fuzz::Random& random) {
    switch (random.Below(12)) {
    case 0:
        return L"localhost";
    case 1:
        return L"127.0.0.1";
    case 2:
        return random.Pick({L"[::1]", L"[2001:db8::1]", L"", L"a_b", L"x~y", L"EXAMPLE.com"});
    default: {
        std::wstring host;
        const std::uint64_t labels = random.Between(1, 3);
        for (std::uint64_t l = 0; l < labels; ++l) {
            if (l != 0) {
                host += L'.';
            }
            const std::uint64_t length = random.Between(1, 10);
            for (std::uint64_t i = 0; i < length; ++i) {
                wchar_t c = random.PickUnit(hostUnits);
                if (c >= L'a' && c <= L'z' && random.OneIn(5)) {
                    c = static_cast<wchar_t>(c - L'a' + L'A');
                }
                host += c;
            }
        }
        return host;
    }
    }
}

std::wstring Port(fuzz::Random& random) {
    switch (random.Below(4)) {
    case 0:
        return random.Pick({L"1", L"80", L"443", L"8443", L"65535", L"0443", L"00001"});
    case 1:
        return random.Pick({L"0", L"65536", L"99999", L"", L"123456", L"8x", L"-1", L"65979",
                            L"4294967297", L"000065536", L"12345678901234567890"});
    default:
        return std::to_wstring(random.Between(1, 65535));
    }
}

std::wstring Scheme(fuzz::Random& random) {
    if (random.OneIn(8)) {
        return random.Pick({L"http", L"ftp", L"file", L"wss", L"httpx", L"htt", L"mailto", L"h",
                            L"https+x", L"shttp"});
    }
    std::wstring scheme = L"https";
    for (wchar_t& c : scheme) {
        if (random.OneIn(6)) {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    return scheme;
}

std::wstring UserInfo(fuzz::Random& random) {
    switch (random.Below(6)) {
    case 0:
        return L"user";
    case 1:
        return L"user:pw";
    case 2:
        return L":pw";
    case 3:
        return L"user:";
    default: {
        std::wstring name = L"u";
        name += Piece(random, 6, false);
        // No '@', '/', '?' or '#' in user information: they would end it or the authority.
        for (wchar_t& c : name) {
            if (c == L'@' || c == L'/') {
                c = L'-';
            }
        }
        return name;
    }
    }
}

std::wstring GenerateUrl(fuzz::Random& random) {
    std::wstring url = Scheme(random);
    url += random.OneIn(30) ? random.Pick({L":", L":/", L":///", L"://:"}) : L"://";
    if (random.OneIn(5)) {
        url += UserInfo(random) + L"@";
    }
    url += Host(random);
    if (random.OneIn(3)) {
        url += L":" + Port(random);
    }
    const bool odd = random.OneIn(3);
    if (!random.OneIn(4)) {
        const std::uint64_t segments = random.Between(1, 4);
        for (std::uint64_t i = 0; i < segments; ++i) {
            url += L"/" + Piece(random, 12, odd);
            if (random.OneIn(60)) { // a long segment
                url.append(static_cast<std::size_t>(random.Between(500, 3000)), L'a');
            }
        }
    }
    if (random.OneIn(2)) {
        url += L"?" + Piece(random, 16, odd);
    }
    if (random.OneIn(3)) {
        url += L"#" + Piece(random, 10, odd);
    }
    if (random.OneIn(40)) { // an embedded zero: the text ends there
        url.insert(static_cast<std::size_t>(random.Below(url.size() + 1)), 1, L'\0');
    }
    return url;
}

// Any text from the URL alphabet, for the pure functions.
std::wstring GenerateText(fuzz::Random& random) {
    std::wstring text;
    if (random.OneIn(2)) {
        text = random.Pick({L"https://", L"https:", L"h://", L"://", L"", L"https://h"});
    }
    const std::uint64_t length = random.Below(16);
    for (std::uint64_t i = 0; i < length; ++i) {
        text += random.OneIn(3) ? random.PickUnit(L"/?#:@") : random.PickUnit(pathUnits + oddUnits);
    }
    return text;
}

std::string TargetDisagreement(const std::wstring& text) {
    const std::wstring program = ComposeRequestTarget(text);
    const std::wstring expected = model::RequestTarget(text);
    if (program != expected) {
        return "target program " + fuzz::Escape(program) + ", model " + fuzz::Escape(expected);
    }
    const std::wstring prepared = PrepareUrlForCracking(text);
    const std::wstring expectedPrepared = model::PreparedForCracking(text);
    if (prepared != expectedPrepared) {
        return "prepared program " + fuzz::Escape(prepared) + ", model " +
               fuzz::Escape(expectedPrepared);
    }
    return {};
}

std::string ShowAnswer(bool accepted, const std::wstring& host, std::uint16_t port,
                       const std::wstring& target) {
    if (!accepted) {
        return "refused";
    }
    return "accepted host " + fuzz::Escape(host) + " port " + std::to_string(port) + " target " +
           fuzz::Escape(target);
}

// How the generated URLs fell: model claims of acceptance and refusal, and shapes without a claim.
std::uint64_t verdicts[3] = {};

std::string AcceptDisagreement(const std::wstring& url) {
    const model::UrlAnswer expected = model::SplitUrl(url);
    if (expected.verdict == model::Verdict::NoClaim) {
        return {};
    }
    UrlTarget target;
    const bool accepted = AcceptUrl(url, target);
    const bool expectAccepted = expected.verdict == model::Verdict::Accepted;
    if (accepted != expectAccepted ||
        (accepted && (target.hostName != expected.host || target.serverPort != expected.port ||
                      target.requestTarget != expected.target))) {
        const std::string kind = accepted != expectAccepted ? "verdict" : "parts";
        return kind + " program " +
               ShowAnswer(accepted, target.hostName, target.serverPort, target.requestTarget) +
               ", model " +
               ShowAnswer(expectAccepted, expected.host, expected.port, expected.target);
    }
    return {};
}

// Plain units first, then the scheme and host in lower case if the disagreement survives that.
std::wstring ShrinkUrl(const std::wstring& url,
                       const std::function<bool(const std::wstring&)>& fails) {
    std::wstring smallest = fuzz::Shrink(url, fails, L"a/");
    std::wstring lower = smallest;
    for (wchar_t& c : lower) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
    }
    return lower != smallest && fails(lower) ? lower : smallest;
}

TEST(FuzzRequestTarget, RandomTextsAgree) {
    fuzz::Differential<std::wstring> test;
    test.name = "RequestTarget";
    test.iterations = 600000;
    test.salt = 2;
    test.generate = GenerateText;
    test.disagreement = TargetDisagreement;
    test.shrink = fuzz::TextShrinker(L"a/");
    test.describe = [](const std::wstring& text) { return fuzz::Escape(text); };
    fuzz::Run(test);
}

TEST(FuzzAcceptUrl, GeneratedUrlsAgree) {
    fuzz::Differential<std::wstring> test;
    test.name = "AcceptUrl";
    test.iterations = 250000;
    test.salt = 3;
    test.generate = [](fuzz::Random& random) {
        std::wstring url = GenerateUrl(random);
        ++verdicts[static_cast<int>(model::SplitUrl(url).verdict)];
        return url;
    };
    test.disagreement = AcceptDisagreement;
    test.shrink = ShrinkUrl;
    test.describe = [](const std::wstring& text) { return fuzz::Escape(text); };
    fuzz::Run(test);
    std::printf("[   fuzz   ] AcceptUrl: model said accepted %llu, refused %llu, no claim %llu\n",
                static_cast<unsigned long long>(verdicts[0]),
                static_cast<unsigned long long>(verdicts[1]),
                static_cast<unsigned long long>(verdicts[2]));
}

} // namespace
