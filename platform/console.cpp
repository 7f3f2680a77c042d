#include "platform/console.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <poll.h>
#include <unistd.h>

namespace platform {

namespace {

// Bytes read from standard input and not yet handed out. Only read(2) touches fd 0, so what
// poll() reports and what this buffer holds never disagree.
struct ConsoleState {
    char buffer[4096];
    size_t begin = 0;
    size_t end = 0;
    bool closed = false;
};
ConsoleState console;

enum class Wait { Readable, Closed };

// Waits until fd 0 can be read (needed only when it was left non-blocking).
Wait waitReadable() {
    pollfd entry{0, POLLIN, 0};
    for (;;) {
        int n = poll(&entry, 1, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (entry.revents & POLLNVAL))
            return Wait::Closed;
        return Wait::Readable;
    }
}

// Refills the buffer; false at end of input or on a read error.
bool refill() {
    for (;;) {
        ssize_t n = read(0, console.buffer, sizeof console.buffer);
        if (n > 0) {
            console.begin = 0;
            console.end = static_cast<size_t>(n);
            return true;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && waitReadable() == Wait::Readable)
            continue;
        return false;
    }
}

// Takes one line, waiting for its end: the first 2047 characters are kept, the rest of the line
// is dropped, the newline (and a carriage return before it) removed. End of input ends the last
// line; with nothing read it marks the console closed.
ConsoleInput takeLine(char* line) {
    if (console.closed)
        return ConsoleInput::Closed;
    size_t kept = 0;
    bool any = false;
    bool lastKeptReturn = false;  // the last byte read was kept and was '\r'
    for (;;) {
        while (console.begin < console.end) {
            char c = console.buffer[console.begin++];
            any = true;
            if (c == '\n') {
                if (lastKeptReturn)
                    --kept;
                line[kept] = '\0';
                return ConsoleInput::Line;
            }
            lastKeptReturn = kept < consoleLineCapacity - 1 && c == '\r';
            if (kept < consoleLineCapacity - 1)
                line[kept++] = c;
        }
        if (!refill()) {
            console.closed = true;
            console.begin = console.end = 0;
            if (!any)
                return ConsoleInput::Closed;
            line[kept] = '\0';
            return ConsoleInput::Line;
        }
    }
}

}  // namespace

ConsoleInput pollConsoleLine(char* line) {
    if (console.closed)
        return ConsoleInput::Closed;
    if (console.begin == console.end) {
        pollfd entry{0, POLLIN, 0};
        int n;
        do
            n = poll(&entry, 1, 0);
        while (n < 0 && errno == EINTR);
        if (n < 0 || (entry.revents & POLLNVAL)) {
            console.closed = true;
            return ConsoleInput::Closed;
        }
        if (n == 0)
            return ConsoleInput::NoLine;
    }
    return takeLine(line);
}

ConsoleInput readConsoleLine(char* line) { return takeLine(line); }

void consolePrint(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::fflush(stdout);
}

}  // namespace platform
