#include <algorithm>

#include "contract/VelqorItemId.h"
#include "contract/VelqorTexts.h"
#include "model/Velqor.h"

namespace velqor {

namespace {
// The elements from the lowest index up: nested arrays in "<...>", others followed by ";".
std::string ArrayText(const Variant& v) {
    std::string text;
    if (v.Type() == (VT_ARRAY | VT_UI1)) {  // a byte buffer, read as it is held
        for (unsigned char b : v.AsBytes()) (text += std::to_string(b)) += ';';
        return text;
    }
    for (const Variant& e : v.ArrayData().Elements) {
        if (e.IsArray()) {
            text += "<" + ArrayText(e) + ">";
        } else {
            text += e.ToText() + ";";
        }
    }
    return text;
}

// The items of list whose ID and access path can be sent; each other one gets the invalid
// item ID result with the reason, and is left out (so that it alone fails).
TVelqorItemList Sendable(const TVelqorItemList& list) {
    TVelqorItemList out;
    for (int i = 0; i < list.Count(); ++i) {
        TVelqorItemData* item = list.Items(i);
        std::string why = ItemIdProblem(item->FItemID);
        if (!why.empty()) {
            why = "the item ID cannot be sent: " + why;
        } else if (std::string path = ItemIdProblem(item->FAccessPath); !path.empty()) {
            why = "the access path cannot be sent: " + path;
        }
        if (why.empty())
            out.Add(item);
        else
            item->ApplyUpdate(ItemUpdate::OperationResult(OPC_E_INVALIDITEMID, why));
    }
    return out;
}
}  // namespace

// ---- TVelqorItem ---------------------------------------------------------------------------

TVelqorItem::TVelqorItem(TVelqorItems& owner) : owner_(owner) {
    const TVelqorDefaultItem& d = owner.Owner()->DefaultItem();
    FIsActive = d.IsActive;
    FAccessPath = d.AccessPath;
    FRequestedDatatype = d.RequestDataType;
}

TVelqorItem::~TVelqorItem() = default;

TVelqorGroup* TVelqorItem::Group() const { return owner_.Owner(); }

std::string TVelqorItem::DisplayName() const { return IsBlank(FItemID) ? "TVelqorItem" : FItemID; }

void TVelqorItem::RunOperation(Op op, bool active) {
    TVelqorGroup& group = *Group();
    IVelqorGroup* transport = group.TransportGroup().Get();
    if (!transport) {
        FServerHandle = -1;
        return;
    }
    TVelqorServer& server = group.Server();
    if (server.BatchMode() || !server.Active()) return;
    const bool designing = server.Designing();
    const bool overCOM = server.Protocol() == coCOM;
    TVelqorItemList list(this);
    switch (op) {
        case Op::Remove:
            if (FServerHandle == -1 || (designing && overCOM)) return;
            transport->RemoveItems(server.ServerGone(), list);
            break;
        case Op::Add:
            if (designing) return;
            if (TVelqorItemList sendable = Sendable(list); !sendable.Empty())
                transport->AddItems(sendable, true);
            break;
        case Op::SetActive:
            if (designing && overCOM) return;
            transport->SetActiveState(list, active);
            break;
        case Op::Validate:
            if (TVelqorItemList sendable = Sendable(list); !sendable.Empty())
                transport->AddItems(sendable, false);
            break;
        case Op::SetDatatype:
            if (designing) return;
            list.CheckAllAdded();
            transport->SetDatatypes(list);
            break;
    }
    list.Report(MsgText(Msg::OPCCommand), RaiseItemErrors());
}

void TVelqorItem::SetItemID(const std::string& id) {
    if (FServerHandle != -1) throw EOPCItemException(MsgText(Msg::NotPossibleConnected));
    FItemID = id;
    if (Group()->Server().Designing()) RunOperation(Op::Validate);
}

void TVelqorItem::SetAccessPath(const std::string& path) {
    if (FServerHandle != -1) throw EOPCItemException(MsgText(Msg::NotPossibleConnected));
    FAccessPath = path;
    if (Group()->Server().Designing()) RunOperation(Op::Validate);
}

void TVelqorItem::SetIsActive(bool on) {
    if (on == FIsActive) return;
    FIsActive = on;
    RunOperation(Op::SetActive, on);
}

void TVelqorItem::SetRequestDatatype(int32_t type) {
    if (FRequestedDatatype == type && FRequestDatatype == type) return;
    FRequestedDatatype = type;
    FRequestDatatype = MaskedDatatype(type);
    if (!Group()->Server().Designing()) RunOperation(Op::SetDatatype);
}

int32_t TVelqorItem::EUType() {
    if (FEUType == -1) {
        TVelqorGroup* group = Group();
        if (!group) throw EOPCItemException(MsgText(Msg::ErrorGetEUType));
        if (group->TransportGroup() && owner_.Count() > 0) {
            TVelqorItemList all = owner_.All();
            group->TransportGroup()->GetItemAttributes(all);
        }
    }
    return FEUType;
}

Variant TVelqorItem::EUInfo() {
    EUType();
    return KnownEUInfo();
}

std::string TVelqorItem::ValueText() const { return ValueTextOf(Value()); }

std::string ValueTextOf(const Variant& v) {
    if (v.IsEmpty()) return "";
    try {
        return v.IsArray() ? ArrayText(v) : v.ToText();
    } catch (const std::exception&) {
        return "";
    }
}

std::string TVelqorItem::ErrorText() const {
    if (Error() == 0) return "";
    if (!ErrorDetail().empty()) return ErrorDetail();
    // Without a connection (a late message after deactivation) the result table words it.
    const TVelqorServer& server = Group()->Server();
    if (!server.Connected()) return TVelqorItemData::ErrorText();
    return server.ResultText(Error());
}

// ---- TVelqorItems --------------------------------------------------------------------------

TVelqorItems::~TVelqorItems() {
    while (!items_.empty()) items_.pop_back();
}

int TVelqorItems::IndexOf(const TVelqorItem* item) const {
    for (size_t i = 0; i < items_.size(); ++i)
        if (items_[i].get() == item) return int(i);
    return -1;
}

TVelqorItemList TVelqorItems::All() const {
    TVelqorItemList list;
    for (const auto& i : items_) list.Add(i.get());
    return list;
}

TVelqorItem* TVelqorItems::AddItem(const std::string& itemID) {
    items_.push_back(owner_.Server().ItemClass()(*this));
    TVelqorItem* item = items_.back().get();
    item->SetItemID(itemID);
    item->RunOperation(TVelqorItem::Op::Add);
    return item;
}

void TVelqorItems::AddAll() {
    IVelqorGroup* transport = owner_.TransportGroup().Get();
    if (!transport) return;
    TVelqorItemList list;
    for (const auto& i : items_)
        if (i->FServerHandle == -1) list.Add(i.get());
    if (list.Empty()) return;
    if (TVelqorItemList sendable = Sendable(list); !sendable.Empty())
        transport->AddItems(sendable, !owner_.Server().Designing());
    list.Report(MsgText(Msg::CannotAddItems), RaiseItemErrors());
}

void TVelqorItems::RemoveAllFromServer() {
    IVelqorGroup* transport = owner_.TransportGroup().Get();
    TVelqorServer& server = owner_.Server();
    if (!transport || (server.Designing() && server.Protocol() == coCOM)) return;
    TVelqorItemList list;
    for (const auto& i : items_)
        if (i->FServerHandle != -1) list.Add(i.get());
    if (list.Empty()) return;
    transport->RemoveItems(server.ServerGone(), list);
}

void TVelqorItems::RemoveAll() {
    RemoveAllFromServer();
    while (!items_.empty()) items_.pop_back();
}

void TVelqorItems::Delete(int index) {
    TVelqorItem* item = Items(index);
    std::exception_ptr error;
    try {
        item->RunOperation(TVelqorItem::Op::Remove);
    } catch (...) {
        error = std::current_exception();
    }
    // The item goes whatever the server said.
    items_.erase(items_.begin() + index);
    if (error) std::rethrow_exception(error);
}

void TVelqorItems::RemoveItem(TVelqorItem* item) {
    int i = IndexOf(item);
    if (i < 0) throw EOPCItemException(MsgText(Msg::ItemNotInList));
    Delete(i);
}

}  // namespace velqor
