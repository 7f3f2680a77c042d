// The operator console: one command per line, polled once per pass of the main loop.
#pragma once

enum class ConsoleOutcome {
    GoOn,      // no line, or a line that is no command: the pass goes on to the network
    PassEnds,  // a command ran
    Quit,      // "quit" or "exit": the loop ends
};

ConsoleOutcome pollConsole();
// Runs one line as typed (without its newline).
ConsoleOutcome runConsoleLine(const char* line);
