// The one header every program of the kit includes for the Win32 API.
// On Windows it is the system's own API; elsewhere it is our own
// declarations of the subset the kit uses, implemented in platform/posix on
// top of an emulated machine (see README).
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include "posix/base.h"
#include "posix/files.h"
#include "posix/fileio.h"
#include "posix/memory.h"
#include "posix/registry.h"
#include "posix/process.h"
#include "posix/profile.h"
#include "posix/sysinfo.h"
#include "posix/ui.h"
#include "posix/volumes.h"
#include "posix/security.h"
#endif
