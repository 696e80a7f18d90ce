/*
 * The simulated Windows' <windows.h>: kernel32, user32 and advapi32 (registry) of the Linux
 * build. User-mode modules of this project compile against it unchanged from their Windows form.
 */
#pragma once

#include "windef.h"
#include "winerror.h"
#include "winbase.h"
#include "winnt_security.h"
#include "winreg.h"
#include "winuser.h"
