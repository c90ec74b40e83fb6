// Global memory blocks (POSIX build). Only fixed blocks: the handle is the
// block's address.
#pragma once
#include "base.h"

typedef HANDLE HGLOBAL;

#define GMEM_FIXED 0x0000u
#define GMEM_ZEROINIT 0x0040u
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)

HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes);
// Returns NULL on success, the block on failure.
HGLOBAL GlobalFree(HGLOBAL hMem);
