// browse_tree: prints a server's address space as an indented tree, to a given depth.
//   browse_tree http://127.0.0.1:8085/opc/xmlda 2
#include <iostream>
#include <string>
#include <vector>

#include "ExampleServer.h"

namespace {

// Lists the browser's current level, then each branch below it; the browser moves down and back.
void PrintLevel(velqor::TVelqorBrowser& browser, int depth, int maxDepth) {
    browser.BrowseAll(false);
    // Copies: moving the browser replaces its list.
    std::vector<velqor::TVelqorBrowseItem> level;
    for (const auto& entry : browser.BrowseItems()) level.push_back(*entry);
    for (const velqor::TVelqorBrowseItem& entry : level) {
        std::cout << std::string(size_t(depth) * 2, ' ') << entry.Name
                  << (entry.IsItem ? "  [" + entry.CombinedID() + "]" : "") << "\n";
        if (entry.IsBranch && depth + 1 < maxDepth && browser.MoveDown(&entry)) {
            PrintLevel(browser, depth + 1, maxDepth);
            browser.MoveUp();
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::cerr << "usage: browse_tree SERVER [DEPTH]\n";
        return 2;
    }
    const int maxDepth = argc == 3 ? std::stoi(argv[2]) : 3;
    return example::WithServer(argv[1],
                               [&](velqor::TVelqorServer& server, velqor::PlainEventLoop&) {
                                   velqor::TVelqorBrowser& browser = server.Browser();
                                   browser.MoveToRoot();
                                   PrintLevel(browser, 0, maxDepth);
                                   return 0;
                               });
}
