// The desktop's proxy through libproxy. The worker asks on a thread of its own for each lookup,
// because libproxy has no time-out and cannot be interrupted: a configuration script's server
// that accepts and never answers holds it for good. The worker waits for the answer only so long;
// the lookup thread keeps its record alive until it is done with it, and frees what libproxy made.
// A new libproxy factory for each download, so that each reads the settings as they are now.
#include "download/desktop_proxy.h"

#include <dlfcn.h>
#include <link.h>
#include <proxy.h>
#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "download/download_state.h"

namespace {

constexpr auto LookupLimit = std::chrono::seconds(15);
constexpr auto CancelPoll = std::chrono::milliseconds(50);

// Shared by the worker and the lookup thread; whichever lets go last frees it.
struct Lookup {
    std::string url;
    std::mutex mutex;
    std::condition_variable answered;
    bool done = false;
    std::string proxy; // as CURLOPT_PROXY takes it
};

// libcurl reads https_proxy and all_proxy (either case) for an HTTPS download. http_proxy counts
// too: libcurl leaves it to plain HTTP, but libproxy's own reading of the environment would apply
// it to HTTPS, which is not how these variables have ever worked here.
bool EnvironmentNamesProxy() {
    for (const char* name :
         {"https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "http_proxy", "HTTP_PROXY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
}

// One of libproxy's answers as libcurl takes it, or nothing for a kind libcurl cannot use. A SOCKS
// proxy whose version libproxy leaves open is taken as SOCKS 5; a SOCKS 5 proxy resolves the host
// name itself, as it does for GNOME's own programs.
std::optional<std::string> CurlProxy(const std::string& answer) {
    if (answer == "direct://") {
        return std::string();
    }
    const std::size_t end = answer.find("://");
    if (end == std::string::npos) {
        return std::nullopt;
    }
    const std::string scheme = answer.substr(0, end);
    if (scheme == "http" || scheme == "https" || scheme == "socks4" || scheme == "socks4a" ||
        scheme == "socks5h") {
        return answer;
    }
    if (scheme == "socks" || scheme == "socks5") {
        return "socks5h" + answer.substr(end);
    }
    return std::nullopt;
}

int NoteLibproxyPlugin(dl_phdr_info* info, std::size_t, void* plugins) {
    if (std::strstr(info->dlpi_name, "/libproxy/") != nullptr) {
        static_cast<std::vector<std::string>*>(plugins)->push_back(info->dlpi_name);
    }
    return 0;
}

// libproxy loads its plugins with each factory and unloads them with it. JavaScriptCore, which its
// plugin for configuration scripts brings in, leaves threads behind that crash the program once its
// code is gone. So a plugin, once loaded, stays loaded.
void KeepLibproxyPluginsLoaded() {
    std::vector<std::string> plugins;
    dl_iterate_phdr(NoteLibproxyPlugin, &plugins);
    for (const std::string& plugin : plugins) {
        dlopen(plugin.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
    }
}

void* AskLibproxy(void* parameter) {
    const std::unique_ptr<std::shared_ptr<Lookup>> holder(
        static_cast<std::shared_ptr<Lookup>*>(parameter));
    Lookup& lookup = **holder;
    std::string proxy; // direct, unless libproxy names a proxy that libcurl can use
    if (pxProxyFactory* factory = px_proxy_factory_new()) {
        KeepLibproxyPluginsLoaded();
        // A list to try in order; null when libproxy could not answer at all.
        if (char** answers = px_proxy_factory_get_proxies(factory, lookup.url.c_str())) {
            for (char** answer = answers; *answer != nullptr; ++answer) {
                if (const auto usable = CurlProxy(*answer)) {
                    proxy = *usable;
                    break;
                }
            }
            px_proxy_factory_free_proxies(answers);
        }
        px_proxy_factory_free(factory);
    }
    {
        const std::lock_guard lock(lookup.mutex);
        lookup.proxy = std::move(proxy);
        lookup.done = true;
    }
    lookup.answered.notify_one();
    return nullptr;
}

} // namespace

std::optional<std::string> DesktopProxy(const std::string& url) {
    if (EnvironmentNamesProxy()) {
        return std::nullopt;
    }
    const auto lookup = std::make_shared<Lookup>();
    lookup->url = url;
    auto* parameter = new std::shared_ptr<Lookup>(lookup);
    pthread_t thread;
    if (pthread_create(&thread, nullptr, AskLibproxy, parameter) != 0) {
        delete parameter;
        return std::string();
    }
    pthread_detach(thread);

    const auto giveUp = std::chrono::steady_clock::now() + LookupLimit;
    std::unique_lock lock(lookup->mutex);
    while (!lookup->done) {
        // The worker's next poll reports the cancellation before anything is sent.
        if (appGlobals.cancelRequested.load() || std::chrono::steady_clock::now() >= giveUp) {
            return std::string();
        }
        lookup->answered.wait_for(lock, CancelPoll);
    }
    return lookup->proxy;
}
