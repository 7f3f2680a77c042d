#include "platform/clock.h"

#include <atomic>
#include <cerrno>
#include <time.h>

namespace platform {

namespace {
std::atomic<TickSource> tickSource{nullptr};
std::atomic<CalendarSource> calendarSource{nullptr};

CalendarTime brokenDown(bool utc) {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm parts{};
    if (utc)
        gmtime_r(&ts.tv_sec, &parts);
    else
        localtime_r(&ts.tv_sec, &parts);
    return CalendarTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                        parts.tm_min,         parts.tm_sec,     static_cast<int>(ts.tv_nsec / 1000000)};
}
}  // namespace

uint32_t tickCount() {
    if (TickSource source = tickSource.load(std::memory_order_acquire))
        return source();
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void setTickSource(TickSource source) { tickSource.store(source, std::memory_order_release); }

void sleepMs(uint32_t ms) {
    timespec request{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    timespec remaining{};
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR)
        request = remaining;
}

CalendarTime utcNow() {
    if (CalendarSource source = calendarSource.load(std::memory_order_acquire))
        return source();
    return brokenDown(true);
}

CalendarTime localNow() {
    if (CalendarSource source = calendarSource.load(std::memory_order_acquire))
        return source();
    return brokenDown(false);
}

void setCalendarSource(CalendarSource source) { calendarSource.store(source, std::memory_order_release); }

}  // namespace platform
