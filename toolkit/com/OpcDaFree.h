// Freeing what the DA 3.0 browse and property calls hand over in task memory, for the client
// that read an answer and for a server that gives up on one part-way.
#pragma once

#include "com/OpcDaIntf.h"

namespace velqor {

// Frees the properties' texts, values and array, and empties the list.
inline void FreeItemProperties(OPCITEMPROPERTIES& list) {
    for (DWORD i = 0; list.pItemProperties && i < list.dwNumProperties; ++i) {
        OPCITEMPROPERTY& p = list.pItemProperties[i];
        CoTaskMemFree(p.szItemID);
        CoTaskMemFree(p.szDescription);
        VariantClear(&p.vValue);
    }
    CoTaskMemFree(list.pItemProperties);
    list = {};
}

// Frees the element's name, item ID and properties, and empties it.
inline void FreeBrowseElement(OPCBROWSEELEMENT& element) {
    CoTaskMemFree(element.szName);
    CoTaskMemFree(element.szItemID);
    FreeItemProperties(element.ItemProperties);
    element = {};
}

}  // namespace velqor
