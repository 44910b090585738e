// The URL rules that sit above each platform's URL splitter: what follows the host (the port text
// and the request target). Pure logic for the worker thread, on UTF-8 text.
#pragma once

#include <string>
#include <string_view>

namespace core {

// The request target for the URL text from the start of its path to its end: the path, or "/"
// when it is empty, then the query with its '?', never anything from the first '#' on. Path and
// extra information split at the first '?' or '#', which is where Windows splits them. Nothing is
// escaped or unescaped.
std::string ComposeRequestTarget(std::string_view fromPath);

// Whether the text after a host's ':' names a port: one or more ASCII digits and nothing else. An
// empty port or one such as "8x" is refused rather than read as 443 or as its leading digits.
// (Port 0 and ports past 65535 are the splitter's to refuse.)
bool IsPortText(std::string_view port);

} // namespace core
