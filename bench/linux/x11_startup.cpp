// Times a program's start-up the same way whatever its toolkit (Qt, or Wine's X11 driver): from
// just before it is started to the moment the X server maps its top-level window with the given
// title, as an outside client on the same display sees it. The window is then closed as a window
// manager would close it (WM_DELETE_WINDOW), and the program must exit. Prints one JSON line.
//
//   qmbench_x11_startup TITLE PROGRAM [ARGS...]
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace {

using Clock = std::chrono::steady_clock;

int Fail(const char* why, pid_t child) {
    if (child > 0) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    std::printf("{\"ok\": false, \"error\": \"%s\"}\n", why);
    return 1;
}

std::string TitleOf(Display* display, Window window) {
    Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, netName, 0, 256, False, utf8, &type, &format, &count,
                           &after, &data) == Success &&
        data != nullptr) {
        title.assign(reinterpret_cast<char*>(data), count);
    }
    if (data != nullptr) {
        XFree(data);
    }
    if (title.empty()) {
        char* name = nullptr;
        if (XFetchName(display, window, &name) && name != nullptr) {
            title = name;
            XFree(name);
        }
    }
    return title;
}

// Waits for the next X event until `deadline`; false when none came in time.
bool NextEvent(Display* display, XEvent& event, Clock::time_point deadline) {
    while (XPending(display) == 0) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd watch{ConnectionNumber(display), POLLIN, 0};
        poll(&watch, 1, static_cast<int>(left.count()));
    }
    XNextEvent(display, &event);
    return true;
}

bool WaitExit(pid_t child, int ms) {
    for (int waited = 0; waited < ms; waited += 10) {
        if (waitpid(child, nullptr, WNOHANG) == child) {
            return true;
        }
        usleep(10000);
    }
    return false;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s TITLE PROGRAM [ARGS...]\n", argv[0]);
        return 2;
    }
    const std::string wanted = argv[1];
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return Fail("no X display", 0);
    }
    const Window root = DefaultRootWindow(display);
    // Top-level windows are the root's children: their mapping is reported to the root.
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    const Clock::time_point start = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    if (child < 0) {
        return Fail("fork failed", 0);
    }

    const Clock::time_point deadline = start + std::chrono::seconds(60);
    Window window = 0;
    double mappedMs = 0;
    XEvent event;
    while (window == 0) {
        if (!NextEvent(display, event, deadline)) {
            return Fail("no window was mapped", child);
        }
        if (event.type == MapNotify && event.xmap.event == root &&
            TitleOf(display, event.xmap.window) == wanted) {
            mappedMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            window = event.xmap.window;
        }
    }

    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = window;
    close.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    close.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &close);
    XFlush(display);
    const bool closed = WaitExit(child, 15000);
    if (!closed) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    std::printf("{\"ok\": true, \"ms\": %.3f, \"closed\": %s}\n", mappedMs,
                closed ? "true" : "false");
    XCloseDisplay(display);
    return 0;
}
