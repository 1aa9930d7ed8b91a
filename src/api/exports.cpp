#include "varnel.h"
extern "C" uint32_t VARNEL_API Varnel_GetDllVersion(void) { return 0x00C90502u; }
