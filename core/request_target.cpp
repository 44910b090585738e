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

bool IsPortText(std::string_view port) {
    return !port.empty() && port.find_first_not_of("0123456789") == std::string_view::npos;
}

} // namespace core
