// URL acceptance and the request target, on the worker thread. The split is this edition's own
// (libcurl's parser normalises what it reads, and the rules above the split must see the text as
// typed); what the split yields goes through the same rules as on Windows.
#include "download/url_target.h"

#include <algorithm>

#include "core/request_target.h"

namespace {

bool EqualsIgnoringAsciiCase(std::string_view text, std::string_view lower) {
    if (text.size() != lower.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        if (c != lower[i]) {
            return false;
        }
    }
    return true;
}

} // namespace

SplitUrl SplitUrlText(std::string_view url) {
    SplitUrl split;
    const std::size_t colon = url.find(':');
    if (colon == std::string_view::npos || url.substr(colon + 1, 2) != "//") {
        return split;
    }
    split.scheme = url.substr(0, colon);
    const std::size_t authorityStart = colon + 3;
    std::size_t authorityEnd = url.find_first_of("/?#", authorityStart);
    if (authorityEnd == std::string_view::npos) {
        authorityEnd = url.size();
    }
    std::string_view authority = url.substr(authorityStart, authorityEnd - authorityStart);
    split.fromPath = url.substr(authorityEnd);

    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        split.hasUserInfo = true;
        split.userInfo = authority.substr(0, at);
        authority = authority.substr(at + 1);
    }
    std::size_t hostEnd = 0;
    if (!authority.empty() && authority[0] == '[') {
        const std::size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            return split;
        }
        hostEnd = close + 1;
        if (hostEnd < authority.size() && authority[hostEnd] != ':') {
            return split;
        }
    } else {
        hostEnd = std::min(authority.find(':'), authority.size());
    }
    split.host = authority.substr(0, hostEnd);
    if (hostEnd < authority.size()) {
        split.hasPort = true;
        split.port = authority.substr(hostEnd + 1);
    }
    split.parsed = true;
    return split;
}

bool AcceptUrl(const std::string& url, UrlTarget& target) {
    // As on Windows, the text ends at its first zero.
    const std::string_view text(url.c_str());
    const SplitUrl split = SplitUrlText(text);
    if (!split.parsed || !EqualsIgnoringAsciiCase(split.scheme, "https") || split.host.empty() ||
        split.hasUserInfo) {
        return false;
    }
    std::uint32_t port = 443;
    if (split.hasPort && !core::ReadPort(split.port, port)) {
        return false;
    }
    target.hostName = std::string(split.host);
    target.serverPort = static_cast<std::uint16_t>(port);
    target.requestTarget = core::ComposeRequestTarget(split.fromPath);
    return true;
}
