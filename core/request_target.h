// The URL rules that sit above each platform's URL splitter: what follows the host (the port text
// and the request target). Pure logic for the worker thread, on UTF-8 text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace core {

// The request target for the URL text from the start of its path to its end: the path, or "/"
// when it is empty, then the query with its '?', never anything from the first '#' on. Path and
// extra information split at the first '?' or '#', which is where Windows splits them. Nothing is
// escaped or unescaped.
std::string ComposeRequestTarget(std::string_view fromPath);

// The port that the digits after a host's ':' name: true only for ASCII digits alone that read as
// 1 to 65535 (leading zeros allowed), whatever their number. An empty port, "8x" or 0 name no
// port to go to, rather than 443 or the leading digits.
bool ReadPort(std::string_view digits, std::uint32_t& port);

} // namespace core
