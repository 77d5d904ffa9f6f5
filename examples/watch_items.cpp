// watch_items: subscribes to a few items and prints every change until N changes have come.
//   watch_items http://127.0.0.1:8085/opc/xmlda 10 Dynamic/Double Dynamic/Int
#include <chrono>
#include <iostream>
#include <string>

#include "ExampleServer.h"
#include "contract/VelqorDateTime.h"

int main(int argc, char** argv) {
    if (argc < 4) {
        std::cerr << "usage: watch_items SERVER COUNT ITEM...\n";
        return 2;
    }
    const int wanted = std::stoi(argv[2]);
    return example::WithServer(argv[1], [&](velqor::TVelqorServer& server,
                                            velqor::PlainEventLoop& loop) {
        // Changes arrive on this thread, from the event loop, after the items hold them.
        int seen = 0;
        server.OnDatachange = [&](velqor::TVelqorServer*, const velqor::TVelqorItemList& items) {
            for (velqor::TVelqorItemData* item : items) {
                std::cout << velqor::FormatDateTimeText(item->TimeStamp()) << "  " << item->ItemID()
                          << " = " << velqor::ValueTextOf(item->Value()) << "\n";
                ++seen;
            }
        };

        // An active group with a 500 ms update rate; the items go to the server in one call.
        server.OPCGroupDefault().UpdateRate = 500;
        server.SetBatchMode(true);
        velqor::TVelqorGroup* group = server.OPCGroups().AddGroup("watch");
        for (int i = 3; i < argc; ++i) group->OPCItems().AddItem(argv[i]);
        server.SetBatchMode(false);
        group->OPCItems().AddAll();

        int rc = 0;
        if (!loop.RunUntil([&] { return seen >= wanted; }, std::chrono::seconds(30))) {
            std::cerr << "error: only " << seen << " changes in 30 s\n";
            rc = 1;
        }
        server.OnDatachange = nullptr;
        return rc;
    });
}
