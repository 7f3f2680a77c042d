// Console line input without blocking the caller when nothing is typed.
#pragma once

#include <cstddef>

namespace platform {

enum class ConsoleInput { NoLine, Line, Closed };

constexpr size_t consoleLineCapacity = 2048;  // 2047 characters and the terminator

// Polls standard input without waiting. When input is waiting, reads one whole line (at most
// 2047 characters kept, the rest of a longer line discarded, newline removed) into `line`
// (consoleLineCapacity bytes) and returns Line. End of input: Closed now and on every later
// call, without touching the input again.
ConsoleInput pollConsoleLine(char* line);
// Reads one line, waiting for it (the second line of a two-line command). Closed at end of input.
ConsoleInput readConsoleLine(char* line);

// Prints and flushes at once, so a pipe sees each line.
void consolePrint(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace platform
