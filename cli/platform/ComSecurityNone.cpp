// The toolkit's own COM runtime has no DCOM security: the levels are checked on the command
// line and have nothing to set.
#include "ComSecurity.h"

namespace tagscope::cli {

ProcessCom::ProcessCom(const ComSecurity&, std::ostream&) {}
ProcessCom::~ProcessCom() = default;

}  // namespace tagscope::cli
