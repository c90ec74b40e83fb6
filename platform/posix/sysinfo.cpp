// The machine clock. In real mode it is the host's local time (shifted by
// the machine's clock offset). In accelerated mode ("clock=fast") every
// Sleep(n) sleeps n/100 ms of real time (n * clock_scale / 1000 when the
// machine sets clock_scale; 0 makes pauses free, for measuring what a
// program costs besides its pauses) and advances the clock of the whole
// machine by n ms, so that retry loops that pause for seconds finish in a
// fraction of that while every process still sees a clock that never runs
// backwards.
#include "sysinfo.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "machine.h"

namespace w32 {

namespace {

struct ClockSettings {
    bool fast = false;
    long long offset_ms = 0;
    long long scale = 10;  // real ms per 1000 ms of accelerated sleep
    std::atomic<long long>* advance = nullptr;  // shared by all processes
};

const ClockSettings& clock_settings() {
    static const ClockSettings settings = [] {
        ClockSettings s;
        s.fast = setting("clock") == "fast";
        s.offset_ms = atoll(setting("clock_offset_ms", "0").c_str());
        s.scale = atoll(setting("clock_scale", "10").c_str());
        if (s.fast) {
            int fd = open((machine_root() + "/clock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
            if (fd >= 0) {
                if (ftruncate(fd, 4096) == 0) {
                    void* p = mmap(nullptr, 4096, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
                    if (p != MAP_FAILED) s.advance = static_cast<std::atomic<long long>*>(p);
                }
                close(fd);
            }
        }
        return s;
    }();
    return settings;
}


}  // namespace

long long real_ms(int id) {
    struct timespec ts;
    clock_gettime(id, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

long long advance_ms() {
    const ClockSettings& s = clock_settings();
    return s.advance ? s.advance->load() : 0;
}

std::string format_machine_time(long long ms) {
    time_t secs = (time_t)(ms / 1000);
    struct tm tm;
    gmtime_r(&secs, &tm);
    char buf[40];
    snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d:%02d.%03d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
             tm.tm_hour, tm.tm_min, tm.tm_sec, (int)(ms % 1000));
    return buf;
}

bool machine_clock_fast() { return clock_settings().fast; }

long long host_local_ms() {
    long long now = real_ms(CLOCK_REALTIME);
    time_t secs = (time_t)(now / 1000);
    struct tm tm;
    localtime_r(&secs, &tm);
    return now + (long long)tm.tm_gmtoff * 1000;
}

long long machine_local_ms() { return host_local_ms() + clock_settings().offset_ms + advance_ms(); }

void machine_sleep(DWORD ms) {
    const ClockSettings& s = clock_settings();
    // In microseconds, so that short accelerated pauses (a 50 ms poll is
    // 0.5 ms) still yield the processor instead of spinning.
    long long real_us = s.fast ? (long long)ms * s.scale : (long long)ms * 1000;
    if (real_us > 0) {
        struct timespec ts = {(time_t)(real_us / 1000000), (long)(real_us % 1000000) * 1000};
        while (nanosleep(&ts, &ts) != 0) {
        }
    }
    if (s.fast && s.advance) s.advance->fetch_add(ms);
}

}  // namespace w32

void GetLocalTime(LPSYSTEMTIME st) {
    long long ms = w32::machine_local_ms();
    time_t secs = (time_t)(ms / 1000);
    struct tm tm;
    gmtime_r(&secs, &tm);
    st->wYear = (WORD)(tm.tm_year + 1900);
    st->wMonth = (WORD)(tm.tm_mon + 1);
    st->wDayOfWeek = (WORD)tm.tm_wday;
    st->wDay = (WORD)tm.tm_mday;
    st->wHour = (WORD)tm.tm_hour;
    st->wMinute = (WORD)tm.tm_min;
    st->wSecond = (WORD)tm.tm_sec;
    st->wMilliseconds = (WORD)(ms % 1000);
}

void Sleep(DWORD dwMilliseconds) { w32::machine_sleep(dwMilliseconds); }

DWORD GetTickCount(void) { return (DWORD)(w32::real_ms(CLOCK_MONOTONIC) + w32::advance_ms()); }

DWORD GetCurrentProcessId(void) { return (DWORD)getpid(); }
