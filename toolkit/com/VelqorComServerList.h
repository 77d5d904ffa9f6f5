// The COM transport's server list: which OPC servers a computer has, found by their component
// categories. The OPC server enumerator (IOPCServerList2, else IOPCServerList) is asked first;
// it also answers for remote computers. Without it, this computer's component categories manager
// and the classes-root registry answer, one category at a time.
//
// Flags value 2 asks for one enumeration per requested server type, each report carrying that
// type's bit; otherwise the types are enumerated together and each report carries 0. Categories
// are enumerated in the order DA 1.0, DA 2.0, DA 3.0, Batch 1.0, Batch 2.0, DX, HDA, AE.
//
// An enumeration that breaks off part-way, or goes past kMaxServers, ends there: the reports made
// so far stand, the other categories are still asked, and Gaps says what was cut short, so a
// shortened list never passes for the whole one.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "com/VelqorCom.h"

namespace velqor {

class TVelqorCOMServerBrowser : public com::ComObject<IVelqorServerBrowser>,
                                public TVelqorCOMComponent {
  public:
    // IVelqorServerBrowser. An empty type set does nothing. A remote computer without a
    // reachable enumerator raises the platform's COM error; one whose enumerator has neither
    // list interface raises EOPCServerListException.
    void GetServerList(tVelqorServerSet serverTypes, const std::string& computerName, int32_t flags,
                       const TServerReport& onServer) override;
    std::vector<std::string> Gaps() override { return gaps_; }

    // Classes one enumeration hands out before it is cut short.
    static constexpr ULONG kMaxServers = 10000;

  private:
    template <class List>
    void EnumerateList(List* list, std::vector<CATID> categories, uint32_t serverType);
    void EnumerateCategoriesManager(const CATID& category, uint32_t serverType);
    void Report(const std::string& description, const std::string& progID, const CLSID& clsid,
                uint32_t serverType);

    TServerReport onServer_;
    std::vector<std::string> gaps_;
};

// The component category of one server type bit (0x01 DA 1.0 ... 0x80 HDA).
CATID ServerTypeCategory(uint32_t bit);
// The bits of a server type set in enumeration order (AE last).
std::vector<uint32_t> ServerTypeBits(tVelqorServerSet types);

}  // namespace velqor
