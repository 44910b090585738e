// Request target and port text, for the URL acceptance on the worker thread. Pure logic.
#include "core/request_target.h"

namespace core {

std::string ComposeRequestTarget(std::string_view fromPath) {
    const std::size_t extraStart = fromPath.find_first_of("?#");
    const std::string_view path = fromPath.substr(0, extraStart);
    std::string target = path.empty() ? std::string("/") : std::string(path);
    if (extraStart != std::string_view::npos) {
        const std::string_view extra = fromPath.substr(extraStart);
        target.append(extra.substr(0, extra.find('#')));
    }
    return target;
}

bool ReadPort(std::string_view digits, std::uint32_t& port) {
    if (digits.empty()) {
        return false;
    }
    std::uint32_t value = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return false;
        }
        // Once past the largest port, further digits only make it larger: stop counting there,
        // so that no number of digits can wrap the value around to a valid port.
        if (value <= 65535) {
            value = value * 10 + static_cast<std::uint32_t>(c - '0');
        }
    }
    if (value == 0 || value > 65535) {
        return false;
    }
    port = value;
    return true;
}

} // namespace core
