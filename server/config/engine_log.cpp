#include "server/config/engine_log.h"

#include <cstring>

#include "platform/clock.h"

EngineLog& EngineLog::instance() {
    static EngineLog* log = new EngineLog("log.html");
    return *log;
}

EngineLog::EngineLog(const char* fileName) : fileName_(strdup(fileName)) {}

void EngineLog::close() {
    if (file_) {
        fclose(file_);
        file_ = nullptr;
    }
}

void EngineLog::write(const char* text, bool raw) {
    const platform::CalendarTime now = platform::utcNow();
    const char minute[3] = {static_cast<char>('0' + now.minute / 10 % 10),
                            static_cast<char>('0' + now.minute % 10), '\0'};
    if (!file_ && fileName_) {
        file_ = fopen(fileName_, "wb");
        if (file_) {
            fprintf(file_, "%s %d.%d.%d [%d:%s]%s %s", "<font size='+2'><u>", now.day, now.month,
                    now.year, now.hour, minute, "</u></font></br></br>", "\r\n");
        }
    }
    if (!file_) return;
    if (raw) {
        fprintf(file_, "%s\r\n", text);
    } else {
        fprintf(file_, "[%d:%s:%02d:%03d] ", now.hour, minute, now.second, now.millisecond);
        fprintf(file_, "%s", text);
    }
    fflush(file_);
}

void EngineLog::error(const char* message) {
    if (!message) message = "(null)";
    write("<font color='#dd0000'><strong>", false);
    write("ERROR: ", false);
    write(message, true);
    write("</font></strong></br>", false);
}
