// Which typed URLs may be fetched, and the host, port and request target they name. Runs on the
// worker thread as the first stage of a job, before any network or file activity.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

struct UrlTarget {
    std::string hostName;
    std::uint16_t serverPort = 0;
    std::string requestTarget;
};

// What the URL splitter reads from a text: "scheme://authority" then the path and extra
// information, the authority holding an optional user information before the last '@' and an
// optional ":port" after the host (an IPv6 literal in brackets counts as the host). Pure logic.
struct SplitUrl {
    bool parsed = false;
    std::string_view scheme;
    std::string_view userInfo; // empty and `hasUserInfo` false when there is no '@'
    bool hasUserInfo = false;
    std::string_view host;
    bool hasPort = false;
    std::string_view port;
    std::string_view fromPath; // from the path on, query and fragment included
};
SplitUrl SplitUrlText(std::string_view url);

// True and the three parts when the URL is HTTPS with a non-empty host, no user information and a
// port of digits only between 1 and 65535 when one is given; false for anything else.
bool AcceptUrl(const std::string& url, UrlTarget& target);
