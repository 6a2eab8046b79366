/* Compiled as C99: the public header must be plain C, and the shared library must link. */
#include "torvexin.h"

#include <stdio.h>

int main(void) {
    uint32_t low = 0;
    uint32_t high = TVX_GetVersion(&low);
    TVX_DriveInfo info;
    if (high != 0x00010003u || low != 0x51u) {
        fprintf(stderr, "unexpected version %08x %08x\n", (unsigned)high, (unsigned)low);
        return 1;
    }
    if (TVX_GetDriveInfo(0, NULL) != TVX_ERR_INVALID_ARG) return 1;
    if (TVX_GetDriveInfo(-1, &info) != TVX_ERR_NO_DRIVE) return 1;
    if (sizeof(TVX_DriveInfo) != 44 || sizeof(TVX_DiscInfo) != 36) return 1;
    printf("version %u.%u.%u.%u\n", (unsigned)(high >> 16), (unsigned)(high & 0xFFFF),
           (unsigned)(low >> 16), (unsigned)(low & 0xFFFF));
    return 0;
}
