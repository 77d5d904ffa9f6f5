#include "contract/VelqorCredentials.h"

#include <mutex>

namespace velqor {

namespace {

std::mutex& ProviderMutex() {
    static std::mutex mu;
    return mu;
}
TCredentialsProvider& ProviderSlot() {
    static TCredentialsProvider provider;
    return provider;
}

}  // namespace

void SetCredentialsProvider(TCredentialsProvider provider) {
    std::lock_guard lock(ProviderMutex());
    ProviderSlot() = std::move(provider);
}

TCredentialsProvider GetCredentialsProvider() {
    std::lock_guard lock(ProviderMutex());
    return ProviderSlot();
}

}  // namespace velqor
