/* Stands in for the generated header's facts where widl is not installed: no facts. */
#include <stddef.h>

#include "OpcLayoutFact.h"

const struct VelqorOpcLayoutFact* velqor_widl_facts(void) { return NULL; }
const unsigned velqor_widl_fact_count = 0;
