// The worker's one error code per job, with the space it comes from kept beside it: an errno value
// from a file call, or a libcurl result from the HTTPS exchange. The two number ranges overlap, so
// the number alone never says which text belongs to it.
#pragma once

#include <cstdint>

enum class ErrorSpace : std::uint8_t { None, System, Network };

struct ErrorCode {
    ErrorSpace space = ErrorSpace::None;
    int value = 0;
    // What the transfer knew beside a libcurl result, so that its text can say which failure it
    // was: the certificate check's verdict (an X509 verify result) and the proxy's answer to the
    // tunnel request (an HTTP status). 0 when there is none.
    long certificateCheck = 0;
    long proxyStatus = 0;
};

inline ErrorCode SystemError(int value) {
    return {ErrorSpace::System, value};
}
inline ErrorCode NetworkError(int value) {
    return {ErrorSpace::Network, value};
}
