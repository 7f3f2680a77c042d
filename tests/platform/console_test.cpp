#include "platform/console.h"

#include "platform/clock.h"
#include "tests/platform/fixtures.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <vector>

using namespace platform;
using namespace platform_test;

namespace {

struct Result {
    ConsoleInput kind;
    std::string line;
    bool operator==(const Result&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Result& r) {
    const char* kinds[] = {"NoLine", "Line", "Closed"};
    return out << kinds[static_cast<int>(r.kind)] << "(" << r.line.size() << ":" << r.line.substr(0, 20) << ")";
}

bool writeAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t n = write(fd, p, size);
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool readAll(int fd, void* data, size_t size) {
    char* p = static_cast<char*>(data);
    while (size > 0) {
        ssize_t n = read(fd, p, size);
        if (n <= 0)
            return false;
        p += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Runs the console in a child whose standard input is a pipe. The child polls once before any
// input exists, then `input` is written (and the pipe closed when `closeInput`), then the child
// makes one call per letter of `calls`: 'p' polls until something other than NoLine comes (at
// most 5 s), 'r' reads a line. Returns what every call gave.
std::vector<Result> consoleSession(const std::string& input, bool closeInput, const std::string& calls) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0)
        return {};
    pid_t pid = fork();
    if (pid == 0) {
        dup2(in[0], 0);
        close(in[0]);
        close(in[1]);
        close(out[0]);
        std::vector<char> line(consoleLineCapacity);  // exact size, so an overrun is caught
        auto report = [&](ConsoleInput kind) {
            uint32_t size = kind == ConsoleInput::Line ? static_cast<uint32_t>(strnlen(line.data(), line.size())) : 0;
            char k = static_cast<char>(kind);
            if (!writeAll(out[1], &k, 1) || !writeAll(out[1], &size, sizeof size) || !writeAll(out[1], line.data(), size))
                _exit(1);
        };
        report(pollConsoleLine(line.data()));
        for (char call : calls) {
            ConsoleInput kind = ConsoleInput::NoLine;
            if (call == 'r')
                kind = readConsoleLine(line.data());
            else
                for (int i = 0; i < 5000 && kind == ConsoleInput::NoLine; ++i) {
                    kind = pollConsoleLine(line.data());
                    if (kind == ConsoleInput::NoLine)
                        sleepMs(1);
                }
            report(kind);
        }
        _exit(0);
    }
    ChildGuard child(pid);
    close(in[0]);
    close(out[1]);
    std::vector<Result> results;
    auto take = [&] {
        char k;
        uint32_t size;
        if (!readAll(out[0], &k, 1) || !readAll(out[0], &size, sizeof size))
            return false;
        std::string line(size, '\0');
        if (!readAll(out[0], line.data(), size))
            return false;
        results.push_back({static_cast<ConsoleInput>(k), line});
        return true;
    };
    if (take() && writeAll(in[1], input.data(), input.size())) {
        if (closeInput)
            close(in[1]);
        while (take()) {
        }
    }
    if (!closeInput)
        close(in[1]);
    close(out[0]);
    return results;
}

Result line(const std::string& text) { return {ConsoleInput::Line, text}; }
const Result noLine{ConsoleInput::NoLine, ""};
const Result closed{ConsoleInput::Closed, ""};

}  // namespace

TEST(Console, LinesAreReadWholeAndCut) {
    const std::string longLine(5000, 'x');
    struct Case {
        std::string input;
        bool closeInput;
        std::string calls;
        std::vector<Result> expected;
    };
    const Case cases[] = {
        // Lines already buffered are handed out although the pipe has nothing new.
        {"status\r\nmirror on\nquit\n", false, "ppp", {noLine, line("status"), line("mirror on"), line("quit")}},
        {longLine + "\nnext\n", true, "ppp", {noLine, line(longLine.substr(0, 2047)), line("next"), closed}},
        {std::string(2047, 'y') + "\n\n", true, "pp", {noLine, line(std::string(2047, 'y')), line("")}},
        {"ban\n192.168.0.*\n", true, "pr", {noLine, line("ban"), line("192.168.0.*")}},
        // End of input: a last line without newline, then Closed on every call.
        {"last", true, "pppr", {noLine, line("last"), closed, closed, closed}},
        {"", true, "ppr", {noLine, closed, closed, closed}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(consoleSession(c.input, c.closeInput, c.calls), c.expected) << c.input.substr(0, 30);
}
