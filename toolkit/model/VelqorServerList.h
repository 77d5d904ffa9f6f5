// The list of OPC servers installed on a computer, one entry per server with every type under
// which it was reported.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "model/VelqorComn.h"

namespace velqor {

class TVelqorServerItem {
  public:
    std::string ComputerName;
    std::string Description;  // the server's readable name
    std::string ProgID;
    std::string CLSID;  // registry form; the key of the entry
    tVelqorServerSet ServerTypes = 0;
};

class TVelqorServerBrowser : public TVelqorComponent {
  public:
    TVelqorServerBrowser() = default;
    ~TVelqorServerBrowser() override;

    std::string ComputerName;  // empty: this computer
    tVelqorServerSet Servertype = kDefaultServerSet;
    tVelqorConnectionType Transport() const { return coCOM; }

    // Lists the servers again. With perType each requested type is asked separately and the
    // entries learn their types; otherwise their type sets stay empty.
    void GetServers(bool perType);
    // What the last GetServers left out; empty when its listing is complete.
    const std::vector<std::string>& Gaps() const { return gaps_; }
    int Count() const { return int(items_.size()); }
    TVelqorServerItem* Items(int index) const { return items_.at(size_t(index)).get(); }
    TVelqorServerItem* FindServer(const std::string& clsid) const;
    void ListProgIDs(std::vector<std::string>& strings) const;
    void Clear();

  protected:
    // The transport's server browser (the server-list factory).
    virtual com::ComPtr<IVelqorServerBrowser> CreateServerBrowserObject();

  private:
    void OnServer(const std::string& description, const std::string& progID,
                  const std::string& clsid, uint32_t serverType);
    std::vector<std::unique_ptr<TVelqorServerItem>> items_;
    std::vector<std::string> gaps_;
};

// Fills strings with the program identifiers of the data-access servers on this computer.
void ListLocalServers(std::vector<std::string>& strings);
// The same through a given server list (which is configured for the local computer first).
void ListLocalServers(std::vector<std::string>& strings, TVelqorServerBrowser& browser);

}  // namespace velqor
