#pragma once
#include <stdint.h>
#ifdef __cplusplus
extern "C" {
#endif
#if defined(_WIN32)
#define VARNEL_API __cdecl
#else
#define VARNEL_API
#endif
uint32_t VARNEL_API Varnel_GetDllVersion(void);
#ifdef __cplusplus
}
#endif
