// The XML-DA transport's address-space browser: the shared browser (browse/VelqorBrowseCore.h)
// over the OPC XML-DA Browse operation.
//
// Every request asks for the dataType and accessRights properties so that the data-type and
// access-rights filters can be applied on the client; a level a service splits over several
// replies is asked for again with its continuation point. The vendor filter goes with every
// request.
//
// Threads: owning thread only, like the connection it was made for.
#pragma once

#include <string>

#include "browse/VelqorBrowseCore.h"
#include "xmlda/OpcXmlDa.h"
#include "xmlda/VelqorXMLDA.h"

namespace velqor {

class TVelqorXMLDABrowser : public com::ComObject<TVelqorBrowserCore, IVelqorBrowserVendorFilter>,
                            public TVelqorXMLDAComponent {
  public:
    // Starts at the root with nothing listed yet; the list comes with SetBrowseList.
    explicit TVelqorXMLDABrowser(com::ComPtr<IVelqorDAConnection> connection);

    // IVelqorBrowserVendorFilter
    void SetVendorFilter(const std::string& filter) override;

  protected:
    TBrowsePage ListPage(const TBrowseQuery& query) override;

  private:
    std::string vendorFilter_;
};

// What an element's properties say for the filters. The dataType and accessRights properties
// are found by name; when no property carries a name the service is taken to have answered in
// request order (dataType, accessRights). A failed or empty property says nothing.
TBrowseElementFacts BrowseFactsOf(const xmlda::Properties& properties);

}  // namespace velqor
