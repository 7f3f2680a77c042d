// Starting other programs the way the shell's "open" and default actions do.
#pragma once

#include <string>

namespace platform {

// Starts the executable at `path` detached (own session, not waited for, no zombie left),
// in the current working directory. True when the program was started.
bool startDetached(const std::string& path);
// Opens `path` with its default action: an executable file is started as above, any other
// file is handed to xdg-open when present. A failure is not reported.
void openWithDefaultAction(const std::string& path);

}  // namespace platform
