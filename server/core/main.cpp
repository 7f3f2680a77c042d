// portwarden: the LAN battle server.
#include "server/core/server_process.h"

int main(int argc, char** argv) {
    const int status = serverStartup(argc > 0 ? argv[0] : nullptr);
    if (status >= 0)
        return status;
    while (serverPass()) {
    }
    return serverShutdown();
}
