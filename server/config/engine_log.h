// The HTML error log "log.html" written by the data-file layer and the settings loader.
#pragma once

#include <cstdio>

class EngineLog {
public:
    // The process-wide log, made on the first call; making it does not touch the disk.
    static EngineLog& instance();

    // One red error entry; a null message is written as "(null)".
    void error(const char* message);
    // One write: raw texts end with CR LF, the others are preceded by a time stamp.
    void write(const char* text, bool raw);

    // Closes the file; the next write creates (truncates) it again. For orderly shutdown and
    // for tests that move between folders.
    void close();

    EngineLog(const EngineLog&) = delete;
    EngineLog& operator=(const EngineLog&) = delete;

private:
    explicit EngineLog(const char* fileName);
    ~EngineLog() = delete;  // lives until the process ends

    char* fileName_;
    FILE* file_ = nullptr;
};
