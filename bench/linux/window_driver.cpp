// The Linux edition's window driven in process for the benchmarks: the window is built and shown
// as the program builds it, the link and destination are put in as Browse would leave them, and
// its buttons are clicked. The status line is read every millisecond on the UI thread, so each
// text is timed to within a millisecond of being set; a second thread may time round trips into
// the UI thread's event loop (a blocking queued call, the counterpart of sending WM_NULL). The
// engine's platform seam is wrapped to time, on the worker, the first write, the flush and the
// rename of each download. Prints one JSON line.
//
//   qmbench_linux_window download URL PATH SIZE [PING_INTERVAL_MS]
//   qmbench_linux_window cancel URL PATH TRIALS
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include "app/main_window.h"
#include "download/platform_seam.h"
#include "text/ui_language.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A field of /proc/self/status in bytes (the kernel gives kB).
long long ProcStatusBytes(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t length = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':') {
            return std::stoll(line.substr(length + 1)) * 1024;
        }
    }
    return -1;
}

std::string Json(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

[[noreturn]] void Fail(const std::string& why) {
    std::printf("{\"ok\": false, \"error\": %s}\n", Json(why).c_str());
    std::fflush(stdout);
    std::_Exit(1);
}

// The worker's file calls of one download, timed since its Download click (milliseconds; -1 until
// seen). Written by the worker, read once the outcome has arrived.
struct FileCallTimes {
    Clock::time_point start;
    std::atomic<double> firstWrite{-1}, flushStart{-1}, flushEnd{-1}, renameMs{0};
} fileCalls;

void TimeFileCalls(Clock::time_point start) {
    fileCalls.start = start;
    fileCalls.firstWrite = fileCalls.flushStart = fileCalls.flushEnd = -1;
    fileCalls.renameMs = 0;
    platformSeam.write = [](int fd, const void* data, size_t count) {
        if (fileCalls.firstWrite.load() < 0) {
            fileCalls.firstWrite = MsSince(fileCalls.start);
        }
        return ::write(fd, data, count);
    };
    platformSeam.fsync = [](int fd) {
        fileCalls.flushStart = MsSince(fileCalls.start);
        const int result = ::fsync(fd);
        fileCalls.flushEnd = MsSince(fileCalls.start);
        return result;
    };
    platformSeam.renameat2 = [](int fromDirectory, const char* from, int toDirectory,
                                const char* to, unsigned flags) {
        const Clock::time_point begin = Clock::now();
        const int result = ::renameat2(fromDirectory, from, toDirectory, to, flags);
        fileCalls.renameMs = fileCalls.renameMs + MsSince(begin);
        return result;
    };
    platformSeam.rename = [](const char* from, const char* to) {
        const Clock::time_point begin = Clock::now();
        const int result = ::rename(from, to);
        fileCalls.renameMs = fileCalls.renameMs + MsSince(begin);
        return result;
    };
}

QString StatusText() {
    return appUi.statusLine->text();
}

QString TextOf(const core::TextPair& pair) {
    return QString::fromUtf8(Text(pair));
}

// Runs the event loop, reading the status line every millisecond, until `done` holds for it or
// `timeoutMs` passes. Every change is added to `changes` with its time since `start`.
struct Change {
    double t;
    QString text;
};
bool RunUntil(const std::function<bool(const QString&)>& done, int timeoutMs,
              Clock::time_point start, std::vector<Change>& changes) {
    QEventLoop loop;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    bool reached = false;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const QString text = StatusText();
        if (changes.empty() || changes.back().text != text) {
            changes.push_back({MsSince(start), text});
        }
        if (done(text)) {
            reached = true;
            loop.quit();
        }
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start(1);
    loop.exec();
    return reached;
}

bool IsOutcome(const QString& text) {
    return text == TextOf(core::TextDownloadCompleted) ||
           text == TextOf(core::TextDownloadCancelled) || text == TextOf(core::TextDownloadFailed);
}

void PutLinkAndDestination(const QString& url, const QString& path) {
    appUi.urlEdit->setText(url);
    appGlobals.targetPath = path.toStdString();
    appGlobals.replaceExisting = false;
    appUi.targetEdit->setText(path);
}

int Download(const QString& url, const QString& path, long long size, int pingIntervalMs) {
    PutLinkAndDestination(url, path);
    const long long peakBefore = ProcStatusBytes("VmHWM");

    // Round trips into the UI thread while the download runs, timed from this thread.
    struct Sample {
        double t;
        double ms;
    };
    std::vector<Sample> samples;
    std::atomic<bool> stopPing{false};
    std::atomic<bool> pingDone{pingIntervalMs <= 0};
    std::thread ping;
    const Clock::time_point start = Clock::now();
    if (pingIntervalMs > 0) {
        ping = std::thread([&] {
            while (!stopPing.load()) {
                std::this_thread::sleep_for(std::chrono::milliseconds(pingIntervalMs));
                const Clock::time_point sent = Clock::now();
                QMetaObject::invokeMethod(
                    appUi.window, [] {}, Qt::BlockingQueuedConnection);
                samples.push_back({std::chrono::duration<double, std::milli>(sent - start).count(),
                                   MsSince(sent)});
            }
            pingDone.store(true);
        });
    }

    std::vector<Change> changes;
    TimeFileCalls(start);
    appUi.downloadButton->click();
    const bool ended = RunUntil(IsOutcome, 600000, start, changes);
    stopPing.store(true);
    // The ping thread may be waiting for this thread's event loop.
    while (!pingDone.load()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    if (ping.joinable()) {
        ping.join();
    }
    if (!ended || changes.back().text != TextOf(core::TextDownloadCompleted)) {
        Fail("the download ended with " + (ended ? changes.back().text.toStdString() : "nothing"));
    }
    struct stat file;
    if (stat(path.toUtf8().constData(), &file) != 0 || file.st_size != size) {
        Fail("the destination does not hold " + std::to_string(size) + " bytes");
    }

    std::printf("{\"ok\": true, \"ms\": %.3f, \"peak_before\": %lld, \"peak\": %lld, \"rss\": %lld",
                changes.back().t, peakBefore, ProcStatusBytes("VmHWM"), ProcStatusBytes("VmRSS"));
    std::printf(", \"first_write\": %.3f, \"flush_start\": %.3f, \"flush_end\": %.3f, "
                "\"rename_ms\": %.3f",
                fileCalls.firstWrite.load(), fileCalls.flushStart.load(), fileCalls.flushEnd.load(),
                fileCalls.renameMs.load());
    std::printf(", \"changes\": [");
    for (std::size_t i = 0; i < changes.size(); ++i) {
        std::printf("%s[%.3f, %s]", i ? ", " : "", changes[i].t,
                    Json(changes[i].text.toStdString()).c_str());
    }
    std::printf("], \"samples\": [");
    for (std::size_t i = 0; i < samples.size(); ++i) {
        std::printf("%s[%.3f, %.4f]", i ? ", " : "", samples[i].t, samples[i].ms);
    }
    std::printf("]}\n");
    return 0;
}

// Each trial waits for bytes to arrive, then a random 0.1-1 s more, presses Cancel, and times
// the way to "Download cancelled.". The destination stays chosen, so Download repeats the trial.
int Cancel(const QString& url, const QString& path, int trials) {
    PutLinkAndDestination(url, path);
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> extraMs(100, 1000);
    const QString receivedZero = TextOf(core::TextReceivedPrefix) + "0 ";
    std::printf("{\"ok\": true, \"trials\": [");
    for (int trial = 0; trial < trials; ++trial) {
        std::vector<Change> changes;
        const Clock::time_point start = Clock::now();
        appUi.downloadButton->click();
        const bool flowing = RunUntil(
            [&](const QString& text) {
                return IsOutcome(text) || (text.startsWith(TextOf(core::TextReceivedPrefix)) &&
                                           !text.startsWith(receivedZero));
            },
            30000, start, changes);
        if (!flowing || IsOutcome(changes.back().text)) {
            Fail("no progress before cancelling");
        }
        RunUntil([](const QString&) { return false; }, extraMs(random), start, changes);
        if (IsOutcome(changes.back().text)) {
            Fail("the download ended before Cancel");
        }
        const QString lastProgress = changes.back().text;
        const Clock::time_point pressed = Clock::now();
        appUi.cancelButton->click();
        changes.clear();
        if (!RunUntil(IsOutcome, 60000, pressed, changes) ||
            changes.back().text != TextOf(core::TextDownloadCancelled)) {
            Fail("the cancelled download did not end as cancelled");
        }
        std::printf("%s{\"ms\": %.3f, \"last_progress\": %s}", trial ? ", " : "", changes.back().t,
                    Json(lastProgress.toStdString()).c_str());
    }
    std::printf("]}\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    appGlobals.russianUi = RussianUiFromEnvironment();
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 5 || (args[1] != "download" && args[1] != "cancel")) {
        std::fprintf(stderr,
                     "usage: %s download URL PATH SIZE [PING_MS] | cancel URL PATH TRIALS\n",
                     argv[0]);
        return 2;
    }
    std::unique_ptr<QWidget> window(CreateMainWindow());
    window->show();
    QElapsedTimer shown;
    shown.start();
    while (!(window->windowHandle() && window->windowHandle()->isExposed())) {
        if (shown.elapsed() > 10000) {
            Fail("the window was not shown");
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    int status;
    if (args[1] == "download") {
        status =
            Download(args[2], args[3], args[4].toLongLong(), args.size() > 5 ? args[5].toInt() : 0);
    } else {
        status = Cancel(args[2], args[3], args[4].toInt());
    }
    std::fflush(stdout);
    window->close();
    return status;
}
