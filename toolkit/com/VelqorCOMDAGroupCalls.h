// What the COM group's item calls share: the memory a server hands back, freed when the call
// is done, and the per-item result rules. Internal to the COM group's files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "com/OpcDaIntf.h"
#include "contract/VelqorError.h"
#include "contract/VelqorItemData.h"
#include "contract/VelqorItemResults.h"

namespace velqor::comgroup {

// An array the server allocated for the caller; freed with CoTaskMemFree at the end of the
// scope (after any per-element release the caller does).
template <class T>
class TaskArray {
  public:
    TaskArray() = default;
    ~TaskArray() { CoTaskMemFree(p_); }
    TaskArray(const TaskArray&) = delete;
    TaskArray& operator=(const TaskArray&) = delete;
    T** Put() { return &p_; }
    T* Get() const { return p_; }
    T& operator[](size_t i) const { return p_[i]; }
    explicit operator bool() const { return p_ != nullptr; }

  private:
    T* p_ = nullptr;
};

// VARIANTs the client sends; cleared at the end of the scope.
class OleValues {
  public:
    explicit OleValues(size_t n) : v_(n) {
        for (VARIANT& v : v_) VariantInit(&v);
    }
    ~OleValues() {
        for (VARIANT& v : v_) VariantClear(&v);
    }
    OleValues(const OleValues&) = delete;
    OleValues& operator=(const OleValues&) = delete;
    VARIANT* Data() { return v_.data(); }
    VARIANT& operator[](size_t i) { return v_[i]; }

  private:
    std::vector<VARIANT> v_;
};

// The server handles of the items, in list order.
std::vector<OPCHANDLE> ServerHandles(const TVelqorItemList& items);
// Raises "Item %s not exists on OPC server" (EOPCGroupException) for the first item that is
// not on the server.
void RequireAdded(const TVelqorItemList& items);

// The per-item outcome of a call: a success clears the item's error; a failure stores it
// (and, for reads and writes, makes the quality bad). Returns the number of failures.
int ApplyItemErrors(const TVelqorItemList& items, const HRESULT* errors, bool badQualityOnFailure);

}  // namespace velqor::comgroup
