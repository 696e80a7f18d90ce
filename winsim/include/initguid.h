/* Include before the headers whose DEFINE_GUID lines should define their GUIDs here. */
#pragma once
#define INITGUID
#include "winsim_basetypes.h"
#undef DEFINE_GUID
#define DEFINE_GUID(name, l, w1, w2, b1, b2, b3, b4, b5, b6, b7, b8)                               \
    extern "C" const GUID name = {l, w1, w2, {b1, b2, b3, b4, b5, b6, b7, b8}}
