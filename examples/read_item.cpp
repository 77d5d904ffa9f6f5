// read_item: reads one item from an OPC server and prints its value, quality and timestamp.
//   read_item http://127.0.0.1:8085/opc/xmlda Dynamic/Double
#include <exception>
#include <iostream>

#include "com/runtime/ComPlatform.h"
#include "contract/VelqorDateTime.h"
#include "model/Velqor.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: read_item SERVER ITEM\n";
        return 2;
    }
    // The component model belongs to the thread that runs its event loop; COM servers need
    // that thread in a single-threaded apartment.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    velqor::PlainEventLoop loop;
    velqor::EventLoop::SetDefault(&loop);
    int rc = 0;
    try {
        velqor::TVelqorServer server(&loop);
        server.SetServerName(argv[1]);  // an XML-DA address, or a COM server's ProgID
        server.SetActive(true);         // connects; raises on failure

        // An inactive group: the read goes to the device, no subscription is made.
        server.OPCGroupDefault().IsActive = false;
        server.OPCGroupDefault().Subscribe = false;
        velqor::TVelqorGroup* group = server.OPCGroups().AddGroup("read");
        velqor::TVelqorItem* item = group->OPCItems().AddItem(argv[2]);
        group->ReadSync(false);

        if (item->Error() < 0) {
            std::cerr << item->ItemID() << ": " << item->ErrorText() << "\n";
            rc = 1;
        } else {
            std::cout << item->ItemID() << " = " << item->ValueText() << "  quality 0x" << std::hex
                      << item->Quality() << std::dec << "  at "
                      << velqor::FormatDateTimeText(item->TimeStamp()) << "\n";
        }
        server.SetActive(false);
    } catch (const std::exception& e) {
        std::cerr << "error: " << e.what() << "\n";
        rc = 1;
    }
    velqor::EventLoop::SetDefault(nullptr);
    CoUninitialize();
    return rc;
}
