// The bed server's request log as the engine tests read it: one JSON line per request, with its
// request line and its headers in the order received. Test thread only.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct LoggedRequest {
    long long port = 0;
    std::string requestLine;
    std::string path;
    std::vector<std::pair<std::string, std::string>> headers;
};

// Where the log ends now; requests made afterwards are read with RequestsSince.
std::uint64_t RequestLogMark();
std::vector<LoggedRequest> RequestsSince(std::uint64_t mark);
