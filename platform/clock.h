// Tick count, sleep and calendar time. Tests replace the tick source through the clock hook.
#pragma once

#include <cstdint>
#include <ctime>

namespace platform {

// Unsigned 32-bit milliseconds, wrapping; CLOCK_MONOTONIC unless a hook is installed.
uint32_t tickCount();

// Process-wide test hook: while set, tickCount() returns hook(). Pass nullptr to restore.
using TickSource = uint32_t (*)();
void setTickSource(TickSource source);

void sleepMs(uint32_t ms);

// Calendar time now (CLOCK_REALTIME) broken down in UTC or local time.
struct CalendarTime {
    int year, month, day, hour, minute, second, millisecond;  // month 1..12
};
CalendarTime utcNow();
CalendarTime localNow();
// Test hook for the calendar: while set, utcNow() and localNow() return hook() unchanged.
using CalendarSource = CalendarTime (*)();
void setCalendarSource(CalendarSource source);

}  // namespace platform
