#include "model/VelqorServerList.h"

#include "model/VelqorIntfGen.h"

namespace velqor {

TVelqorServerBrowser::~TVelqorServerBrowser() { Clear(); }

com::ComPtr<IVelqorServerBrowser> TVelqorServerBrowser::CreateServerBrowserObject() {
    return CreateVelqorServerBrowser(Transport());
}

void TVelqorServerBrowser::GetServers(bool perType) {
    com::ComPtr<IVelqorServerBrowser> browser = CreateServerBrowserObject();
    Clear();
    gaps_.clear();
    browser->GetServerList(
        Servertype, ComputerName, perType ? 2 : 0,
        [this](const std::string& description, const std::string& progID, const std::string& clsid,
               uint32_t serverType) { OnServer(description, progID, clsid, serverType); });
    gaps_ = browser->Gaps();
}

void TVelqorServerBrowser::OnServer(const std::string& description, const std::string& progID,
                                    const std::string& clsid, uint32_t serverType) {
    TVelqorServerItem* entry = FindServer(clsid);
    if (!entry) {
        items_.push_back(std::make_unique<TVelqorServerItem>());
        entry = items_.back().get();
        entry->ComputerName = ComputerName;
        entry->Description = description;
        entry->ProgID = progID;
        entry->CLSID = clsid;
    }
    entry->ServerTypes = tVelqorServerSet(entry->ServerTypes | serverType);
}

TVelqorServerItem* TVelqorServerBrowser::FindServer(const std::string& clsid) const {
    for (const auto& i : items_)
        if (i->CLSID == clsid) return i.get();
    return nullptr;
}

void TVelqorServerBrowser::ListProgIDs(std::vector<std::string>& strings) const {
    strings.clear();
    for (const auto& i : items_) strings.push_back(i->ProgID);
}

void TVelqorServerBrowser::Clear() {
    while (!items_.empty()) items_.pop_back();
}

void ListLocalServers(std::vector<std::string>& strings, TVelqorServerBrowser& browser) {
    browser.ComputerName.clear();
    browser.Servertype = kDefaultServerSet;
    browser.GetServers(false);
    strings.clear();
    browser.ListProgIDs(strings);
}

void ListLocalServers(std::vector<std::string>& strings) {
    TVelqorServerBrowser browser;
    ListLocalServers(strings, browser);
}

}  // namespace velqor
