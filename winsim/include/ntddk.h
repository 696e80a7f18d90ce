/* The simulated kernel's <ntddk.h>: everything of <wdm.h>; nothing more is needed yet. */
#pragma once
#include "wdm.h"
