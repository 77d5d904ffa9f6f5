// read_item: reads one item from an OPC server and prints its value, quality and timestamp.
//   read_item http://127.0.0.1:8085/opc/xmlda Dynamic/Double
#include <iostream>

#include "ExampleServer.h"
#include "contract/VelqorDateTime.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: read_item SERVER ITEM\n";
        return 2;
    }
    return example::WithServer(
        argv[1], [&](velqor::TVelqorServer& server, velqor::PlainEventLoop&) {
            // An inactive group: the read goes to the device, no subscription is made.
            server.OPCGroupDefault().IsActive = false;
            server.OPCGroupDefault().Subscribe = false;
            velqor::TVelqorGroup* group = server.OPCGroups().AddGroup("read");
            velqor::TVelqorItem* item = group->OPCItems().AddItem(argv[2]);
            group->ReadSync(false);

            if (item->Error() < 0) {
                std::cerr << item->ItemID() << ": " << item->ErrorText() << "\n";
                return 1;
            }
            std::cout << item->ItemID() << " = " << item->ValueText() << "  quality 0x" << std::hex
                      << item->Quality() << std::dec << "  at "
                      << velqor::FormatDateTimeText(item->TimeStamp()) << "\n";
            return 0;
        });
}
