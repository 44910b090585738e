// The proxy that the user chose in the desktop's settings (GNOME, KDE, an automatic configuration
// script, automatic detection), asked of libproxy for each download. Worker thread.
#pragma once

#include <optional>
#include <string>

// The proxy for a download of `url`, as libcurl's CURLOPT_PROXY takes it: "" for a direct
// connection, or a proxy URL such as "http://host:port" or "socks5h://host:port". Nothing when
// the environment names a proxy (http_proxy, https_proxy, all_proxy, or their upper-case forms):
// libcurl then reads the variables itself, as it always has. no_proxy is libcurl's to apply on top
// in either case. The worker waits at most 15 s for the desktop's answer, and stops waiting when
// the download is cancelled; a desktop that cannot answer in time, or at all, means a direct
// connection.
std::optional<std::string> DesktopProxy(const std::string& url);
