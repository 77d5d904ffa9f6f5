#include "model/Velqor.h"
#include "model/VelqorIntfGen.h"

namespace velqor {

TVelqorBrowser::TVelqorBrowser(TVelqorServer* server) { SetOPCServer(server); }

TVelqorBrowser::~TVelqorBrowser() {
    if (server_) server_->boundBrowsers_.erase(this);
}

void TVelqorBrowser::SetOPCServer(TVelqorServer* server) {
    if (server_ != server) {
        if (server_) server_->boundBrowsers_.erase(this);
        if (server) server->boundBrowsers_.insert(this);
    }
    server_ = server;
    Reset();
}

void TVelqorBrowser::Reset() {
    items_.Clear();
    browser_.Reset();
}

com::ComPtr<IVelqorBrowser> TVelqorBrowser::GetBrowser() {
    if (!server_) throw EOPCBrowserException(MsgText(Msg::FirstDefineServer));
    if (browser_) return browser_;
    items_.Clear();
    if (!server_->Active()) throw EOPCBrowserException(MsgText(Msg::ServerNotActive));
    com::ComPtr<IVelqorBrowser> b = CreateVelqorBrowser(server_->DAConnection());
    b->SetBrowseList(&items_);
    browser_ = b;
    return browser_;
}

bool TVelqorBrowser::Browse(int32_t browseType, bool flat) {
    com::ComPtr<IVelqorBrowser> b = GetBrowser();
    int32_t rights =
        ((AccessRights & opcReadable) ? 1 : 0) + ((AccessRights & opcWritable) ? 2 : 0);
    b->SetFilter(browseType, rights, Datatype, Filter);
    if (auto vendor = b.TryAs<IVelqorBrowserVendorFilter>())
        vendor->SetVendorFilter(VendorFilter);
    else if (!VendorFilter.empty())
        throw EOPCBrowserException("This server's address space has no vendor filter");
    return b->Browse(flat);
}

bool TVelqorBrowser::MoveDown(const TVelqorBrowseItem* item) {
    com::ComPtr<IVelqorBrowser> b = GetBrowser();
    return item ? b->MoveDown(*item) : false;
}

bool TVelqorBrowser::MoveTo(const TVelqorBrowseItem& item) { return GetBrowser()->MoveTo(item); }
bool TVelqorBrowser::MoveToRoot() { return GetBrowser()->MoveToRoot(); }
bool TVelqorBrowser::MoveUp() { return GetBrowser()->MoveUp(); }
TVelqorBrowseItem* TVelqorBrowser::Position() { return GetBrowser()->Position(); }
int32_t TVelqorBrowser::Organization() { return GetBrowser()->Organization(); }

}  // namespace velqor
