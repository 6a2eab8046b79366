/* Compiled as C99: the public header must be plain C, and the shared library must link. */
#include "torvexin.h"

#include <stdio.h>
#include <string.h>

/* Every result code of the header, each with the name it is written under. */
static const struct {
    TVX_Result code;
    const char* name;
} kResults[] = {{TVX_OK, "TVX_OK"},
                {TVX_ERR_NOT_READY, "TVX_ERR_NOT_READY"},
                {TVX_ERR_DISC_NOT_WRITABLE, "TVX_ERR_DISC_NOT_WRITABLE"},
                {TVX_ERR_NO_SPACE, "TVX_ERR_NO_SPACE"},
                {TVX_ERR_NO_DRIVE, "TVX_ERR_NO_DRIVE"},
                {TVX_ERR_SOURCE, "TVX_ERR_SOURCE"},
                {TVX_ERR_DISC_KIND, "TVX_ERR_DISC_KIND"},
                {TVX_ERR_COMMAND, "TVX_ERR_COMMAND"},
                {TVX_ERR_INVALID_ARG, "TVX_ERR_INVALID_ARG"},
                {TVX_ERR_CANCELLED, "TVX_ERR_CANCELLED"},
                {TVX_ERR_MODE, "TVX_ERR_MODE"},
                {TVX_ERR_VERIFY, "TVX_ERR_VERIFY"},
                /* the unused values and anything else */
                {(TVX_Result)0xE0000009u, "TVX_UNKNOWN_RESULT"},
                {(TVX_Result)0xE000000Cu, "TVX_UNKNOWN_RESULT"},
                {(TVX_Result)0xE000000Eu, "TVX_UNKNOWN_RESULT"},
                {1, "TVX_UNKNOWN_RESULT"}};

int main(void) {
    uint32_t low = 0;
    uint32_t high = TVX_GetVersion(&low);
    TVX_DriveInfo info;
    size_t i;
    if (high != 0x00010003u || low != 0x51u) {
        fprintf(stderr, "unexpected version %08x %08x\n", (unsigned)high, (unsigned)low);
        return 1;
    }
    if (TVX_GetDriveInfo(0, NULL) != TVX_ERR_INVALID_ARG) return 1;
    if (TVX_GetDriveInfo(-1, &info) != TVX_ERR_NO_DRIVE) return 1;
    if (sizeof(TVX_DriveInfo) != 44 || sizeof(TVX_DiscInfo) != 36) return 1;
    /* Kinds nobody can write (read-only discs) are dropped; the DVD default comes back. */
    if (TVX_SetWritableMedia(MediaCdRom | MediaDvdRom | MediaBdRom) != 0) return 1;
    if (TVX_SetWritableMedia(0x0FE0u) != 0x0FE0u) return 1;
    for (i = 0; i < sizeof kResults / sizeof kResults[0]; ++i) {
        if (strcmp(TVX_ResultName(kResults[i].code), kResults[i].name) != 0) {
            fprintf(stderr, "result 0x%08X is named %s, not %s\n", (unsigned)kResults[i].code,
                    TVX_ResultName(kResults[i].code), kResults[i].name);
            return 1;
        }
    }
    printf("version %u.%u.%u.%u\n", (unsigned)(high >> 16), (unsigned)(high & 0xFFFF),
           (unsigned)(low >> 16), (unsigned)(low & 0xFFFF));
    return 0;
}
