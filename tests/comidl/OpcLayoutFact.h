/* One computed fact about the OPC declarations: a key such as "IOPCServer.AddGroup" (method
 * slot), "IOPCServer.methods", "IOPCServer.iid1" / ".iid2" (the identifier in two halves),
 * "OPCITEMDEF.size" or "OPCITEMDEF.szItemID" (field offset), and its value. C and C++ alike. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

struct VelqorOpcLayoutFact {
    const char* key;
    unsigned long long value;
};

/* The facts of the header generated from the interface definitions; count 0 where no such
 * header could be generated. */
const struct VelqorOpcLayoutFact* velqor_widl_facts(void);
extern const unsigned velqor_widl_fact_count;

#ifdef __cplusplus
}
#endif
