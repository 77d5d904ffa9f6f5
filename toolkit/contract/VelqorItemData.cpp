#include "VelqorItemData.h"

#include <atomic>
#include <mutex>
#include <unordered_map>

namespace velqor {

namespace {
std::mutex g_handlesMu;
std::unordered_map<uint32_t, TVelqorItemData*>& Handles() {
    static std::unordered_map<uint32_t, TVelqorItemData*> map;
    return map;
}
uint32_t g_nextHandle = 1;
std::atomic<bool> g_raiseItemErrors{false};

uint32_t Register(TVelqorItemData* item) {
    std::lock_guard lock(g_handlesMu);
    auto& map = Handles();
    for (;;) {
        uint32_t h = g_nextHandle++;
        if (g_nextHandle == 0) g_nextHandle = 1;  // 0 is never a handle
        if (h != 0 && map.emplace(h, item).second) return h;
    }
}
}  // namespace

TVelqorItemData::TVelqorItemData() : clientHandle_(Register(this)) {}

TVelqorItemData::~TVelqorItemData() {
    std::lock_guard lock(g_handlesMu);
    Handles().erase(clientHandle_);
}

const std::string& TVelqorItemData::ErrorDetail() const {
    static const std::string none;
    return errorDetail_ ? *errorDetail_ : none;
}

void TVelqorItemData::SetErrorDetail(const std::string& detail) {
    if (detail.empty())
        errorDetail_.reset();
    else if (errorDetail_)
        *errorDetail_ = detail;
    else
        errorDetail_ = std::make_unique<std::string>(detail);
}

const Variant& TVelqorItemData::WriteValue() const {
    static const Variant empty = Variant();
    return writeValue_ ? *writeValue_ : empty;
}

void TVelqorItemData::SetWriteValue(const Variant& v) {
    if (writeValue_)
        *writeValue_ = v;
    else
        writeValue_ = std::make_unique<Variant>(v);
}

const Variant& TVelqorItemData::KnownEUInfo() const {
    static const Variant null = Variant::Null();
    return euInfo_ ? *euInfo_ : null;
}

void TVelqorItemData::SetEUInfo(const Variant& v) {
    if (euInfo_)
        *euInfo_ = v;
    else
        euInfo_ = std::make_unique<Variant>(v);
}

TVelqorItemData* FindItemByClientHandle(uint32_t handle) {
    std::lock_guard lock(g_handlesMu);
    auto& map = Handles();
    auto it = map.find(handle);
    return it == map.end() ? nullptr : it->second;
}

std::string TVelqorItemData::ErrorText() const {
    if (error_ == 0) return "";
    if (errorDetail_) return *errorDetail_;
    std::string t = ResultMessage(error_);
    return t.empty() ? MsgFormat(Msg::UnknownError, error_) : t;
}

std::string TVelqorItemList::ReportText(const std::string& caption) const {
    std::string text = caption + "\r\n";
    int count = 0;
    for (TVelqorItemData* item : items_) {
        if (item->Error() == 0) continue;
        if (++count <= 26) text += item->FItemID + "- " + item->ErrorText() + "\r\n";
    }
    return count == 0 ? std::string() : text;
}

void TVelqorItemList::Report(const std::string& caption, bool raiseIt) const {
    std::string text = ReportText(caption);
    if (text.empty()) return;
    if (raiseIt) throw EOPCItemException(text);
    ApplicationHooks::ShowMessage(text);
}

void TVelqorItemList::CheckAllAdded() const {
    for (TVelqorItemData* item : items_)
        if (item->FServerHandle == -1)
            throw EOPCServerException(MsgFormat(Msg::ItemNotExists, item->FItemID));
}

bool RaiseItemErrors() { return g_raiseItemErrors.load(); }
void SetRaiseItemErrors(bool on) { g_raiseItemErrors.store(on); }

}  // namespace velqor
