#include "account_service/local_account_service.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// Runs the local account service on 127.0.0.1 for using the program on one machine:
//   fotivela-account-service [--port N]
//   FOTIVELA_ACCOUNT_URL=http://127.0.0.1:N FOTIVELA_PUBLIC_WEB_URL=http://127.0.0.1:N fotivela
// It holds one account, ana@example.com with the password "contraseña1" and 1000 credits.
int main(int argc, char** argv)
{
    int port = 8787;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
            port = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--port N]\n", argv[0]);
            return 2;
        }
    }
    fotivela::tools::LocalAccountService service;
    std::printf("Orvelant local account service on http://127.0.0.1:%d\n", port);
    std::fflush(stdout);
    return service.listen(port) ? 0 : 1;
}
