// Prints the toolkit's version, then connects to the server named on the command line and prints
// its state: enough to need every installed library and header on the way.
#include <exception>
#include <iostream>

#include "contract/VelqorVersion.h"
#include "model/Velqor.h"

int main(int argc, char** argv) {
    std::cout << velqor::kVelqorVersion << "\n";
    static_assert(VELQOR_VERSION_MAJOR >= 0 && VELQOR_VERSION_MINOR >= 0);
    if (argc < 2) return 0;
    velqor::PlainEventLoop loop;
    try {
        velqor::TVelqorServer server(&loop);
        server.SetServerName(argv[1]);
        server.SetActive(true);
        velqor::tServerStateRecord status;
        server.GetStatus(status);
        std::cout << velqor::ServerStateText(status.ServerState) << "\n";
        server.SetActive(false);
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
