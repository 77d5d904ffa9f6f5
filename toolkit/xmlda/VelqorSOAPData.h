// The call settings of one XML-DA connection or poll thread (filled from the Params keys of
// contract/VelqorParams.h).
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "contract/EventLoop.h"
#include "contract/VelqorParams.h"
#include "http/VelqorSOAPPoster.h"

namespace velqor {

// What one call needs besides the poster: where and how to post, the method namespace and the
// window told of a failed post. Copyable, so a snapshot for a poll thread copies it whole.
struct TVelqorCallSettings : THTTPPostSettings {
    std::string Namespace;              // namespace URI of the method elements
    velqor::NotifyWindow NotifyWindow;  // told of a failed post; none when empty
};

// The call settings with the persistent poster (owned), or none.
struct TVelqorSOAPData : TVelqorCallSettings {
    std::unique_ptr<THTTPPost> Poster;
};

}  // namespace velqor
