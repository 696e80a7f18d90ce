/* Common controls of the simulated Windows: the property sheet pages are all that is needed. */
#pragma once

#include "windef.h"
#include "prsht.h"

WINCOMMCTRLAPI void WINAPI InitCommonControls(void);
