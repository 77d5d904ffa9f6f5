// The request writer that sends text straight out: the request's envelope written as it is
// walked, with no document in between, to the very bytes TVelqorSOAPWriter's document saves
// as. A request for ten thousand items then costs its text and nothing more.
//
//   TVelqorSOAPTextWriter w;
//   w.NilForEmptyVariants = false;
//   std::string body = w.Write(ns, "Subscribe", request);   // POST it with w.SOAPAction
#pragma once

#include <string>
#include <string_view>

#include "soap/VelqorSOAPWriteRules.h"

namespace velqor {

class TVelqorSOAPTextWriter : public TSOAPWriteRules {
  public:
    // The XML declaration, envelope, body and method element (in nsUri, as its default
    // namespace) holding the record's fields. Sets SOAPAction to nsUri + methodName.
    std::string Write(std::string_view nsUri, std::string_view methodName,
                      const TRemotable& record);

    std::string SOAPAction;
};

}  // namespace velqor
