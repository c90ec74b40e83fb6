// Time and the machine clock (POSIX build).
#pragma once
#include "base.h"

void GetLocalTime(LPSYSTEMTIME lpSystemTime);
void Sleep(DWORD dwMilliseconds);
DWORD GetTickCount(void);
DWORD GetCurrentProcessId(void);
