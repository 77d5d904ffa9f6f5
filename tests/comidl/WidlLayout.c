/* The facts of the header that widl generates from the interface definitions, compiled as C
 * against the platform's headers that Wine ships (the generated header needs them). */
#include <stddef.h>
// clang-format off
#include <windows.h>
#include <ole2.h>
#include <oaidl.h>
#include <ocidl.h>
#include <comcat.h>
// clang-format on

/* The OPC identifiers as file-local constants, so that they cannot clash with the toolkit's
 * own definitions of the same names when the test links both. */
#undef DEFINE_GUID
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8) \
    static const GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}

#include "OpcLayoutFact.h"
#include "opc_common.h"
#include "opc_da.h"

#define VELQOR_IID_HALF1(g) \
    (((unsigned long long)(g).Data1 << 32) | ((unsigned long long)(g).Data2 << 16) | (g).Data3)
#define VELQOR_IID_HALF2(g)                                                                \
    (((unsigned long long)(g).Data4[0] << 56) | ((unsigned long long)(g).Data4[1] << 48) | \
     ((unsigned long long)(g).Data4[2] << 40) | ((unsigned long long)(g).Data4[3] << 32) | \
     ((unsigned long long)(g).Data4[4] << 24) | ((unsigned long long)(g).Data4[5] << 16) | \
     ((unsigned long long)(g).Data4[6] << 8) | (unsigned long long)(g).Data4[7])

#define VELQOR_OPC_INTERFACE(I, Base) \
    {#I ".iid1", 0}, {#I ".iid2", 0}, {#I ".methods", sizeof(struct I##Vtbl) / sizeof(void*)},
#define VELQOR_OPC_METHOD(I, m) {#I "." #m, offsetof(struct I##Vtbl, m) / sizeof(void*)},
#define VELQOR_OPC_STRUCT(S) {#S ".size", sizeof(S)},
#define VELQOR_OPC_FIELD(S, f) {#S "." #f, offsetof(S, f)},

/* Identifiers are not constant expressions in C; they are filled in by the table below. */
static struct VelqorOpcLayoutFact facts[] = {
#include "OpcLayoutList.h"
};
#undef VELQOR_OPC_INTERFACE
#undef VELQOR_OPC_METHOD
#undef VELQOR_OPC_STRUCT
#undef VELQOR_OPC_FIELD

static const GUID* const iids[] = {
#define VELQOR_OPC_INTERFACE(I, Base) &IID_##I,
#define VELQOR_OPC_METHOD(I, m)
#define VELQOR_OPC_STRUCT(S)
#define VELQOR_OPC_FIELD(S, f)
#include "OpcLayoutList.h"
};

static int fill(void) {
    unsigned i, n = 0;
    for (i = 0; i < sizeof(facts) / sizeof(facts[0]); ++i) {
        size_t len = 0;
        while (facts[i].key[len]) ++len;
        if (len > 5 && facts[i].key[len - 5] == '.' && facts[i].key[len - 4] == 'i' &&
            facts[i].key[len - 3] == 'i' && facts[i].key[len - 2] == 'd') {
            const GUID* g = iids[n];
            facts[i].value =
                facts[i].key[len - 1] == '1' ? VELQOR_IID_HALF1(*g) : VELQOR_IID_HALF2(*g);
            if (facts[i].key[len - 1] == '2') ++n;
        }
    }
    return 1;
}

const struct VelqorOpcLayoutFact* velqor_widl_facts(void) {
    static int done = 0;
    if (!done) done = fill();
    return facts;
}
const unsigned velqor_widl_fact_count = sizeof(facts) / sizeof(facts[0]);
