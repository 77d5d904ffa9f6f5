// Builds with the XML-DA transport: an interrupt aborts the HTTP exchanges.
#include "InterruptPlatform.h"
#include "http/VelqorSOAPPoster.h"

namespace tagscope::cli {

bool AbortExchanges() {
    velqor::InterruptAllPosts();
    return true;
}

}  // namespace tagscope::cli
