// Global memory blocks: fixed blocks from the C heap. Movable blocks
// (GMEM_MOVEABLE) are refused; the kit does not use them.
#include "memory.h"

#include <cstdlib>

#include "machine.h"

HGLOBAL GlobalAlloc(UINT uFlags, SIZE_T dwBytes) {
    if (uFlags & ~(UINT)GMEM_ZEROINIT) {
        w32::fail(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    // Windows hands out a block even for 0 bytes.
    void* block = (uFlags & GMEM_ZEROINIT) ? calloc(1, dwBytes ? dwBytes : 1) : malloc(dwBytes ? dwBytes : 1);
    if (!block) w32::fail(ERROR_NOT_ENOUGH_MEMORY);
    return block;
}

HGLOBAL GlobalFree(HGLOBAL hMem) {
    free(hMem);
    return NULL;
}
