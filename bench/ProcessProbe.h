// What a long-running benchmark process reports about itself: when its window first showed,
// and per minute its CPU time, resident memory and heap in use. The console bench and the bare
// baseline window share it, so both are measured the same way.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <malloc.h>
#include <sys/resource.h>

namespace probe {

inline double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Resident set size in KiB, from /proc/self/status.
inline long ResidentKiB() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmRSS:", 6) == 0) kib = std::strtol(line + 6, nullptr, 10);
    std::fclose(f);
    return kib;
}

inline long HeapInUseBytes() {
    return static_cast<long>(mallinfo2().uordblks);
}

// Wall clock in microseconds since the epoch: comparable with the shell's $EPOCHREALTIME taken
// just before the process was started.
inline long long EpochMicros() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000000LL + ts.tv_nsec / 1000;
}

// Prints "shown <epoch us>" once, when the window has been painted for the first time, then
// calls OnShown.
class FirstShown : public QObject {
public:
    FirstShown(QWidget* Window, std::function<void()> OnShown)
        : window_(Window), onShown_(std::move(OnShown)) {
        Window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* Watched, QEvent* Event) override {
        if (Watched == window_ && Event->type() == QEvent::Paint && !done_) {
            done_ = true;
            // After this paint has reached the window.
            QTimer::singleShot(0, this, [this] {
                std::printf("shown %lld\n", EpochMicros());
                std::fflush(stdout);
                if (onShown_) onShown_();
            });
        }
        return false;
    }

private:
    QWidget* window_;
    std::function<void()> onShown_;
    bool done_ = false;
};

// From the first show on, one line per minute: "minute <k> cpu_s <total> rss_kib <n>
// heap_bytes <n> ticks <n>"; quits the application after Minutes minutes (at once for 0).
class MinuteReport : public QObject {
public:
    MinuteReport(int Minutes, std::function<long()> Ticks) : minutes_(Minutes), ticks_(Ticks) {
        if (Minutes <= 0) {
            // Start-up measurement only.
            QTimer::singleShot(0, [] { QCoreApplication::quit(); });
            return;
        }
        std::printf("minute 0 cpu_s %.3f rss_kib %ld heap_bytes %ld ticks %ld\n", CpuSeconds(),
                    ResidentKiB(), HeapInUseBytes(), ticks_());
        std::fflush(stdout);
        clock_.start();
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setSingleShot(true);
        connect(&timer_, &QTimer::timeout, this, [this] { Report(); });
        timer_.start(60000);
    }

private:
    void Report() {
        ++minute_;
        std::printf("minute %d cpu_s %.3f rss_kib %ld heap_bytes %ld ticks %ld\n", minute_,
                    CpuSeconds(), ResidentKiB(), HeapInUseBytes(), ticks_());
        std::fflush(stdout);
        if (minute_ >= minutes_) {
            QCoreApplication::quit();
            return;
        }
        // Keep to the minute marks rather than drifting by each report's own delay.
        const qint64 next = static_cast<qint64>(minute_ + 1) * 60000 - clock_.elapsed();
        timer_.start(static_cast<int>(std::max<qint64>(next, 0)));
    }

    int minutes_;
    std::function<long()> ticks_;
    int minute_ = 0;
    QElapsedTimer clock_;
    QTimer timer_;
};

inline int MinutesArgument(int argc, char** argv, int Default) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strcmp(argv[i], "--minutes") == 0) return std::atoi(argv[i + 1]);
    return Default;
}

} // namespace probe
