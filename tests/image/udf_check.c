/* Lists a UDF image through libudfread, an independent reader: one line per entry,
 * "D <path>" for a directory and "F <path> <size> <fnv1a-64 of the bytes>" for a file.
 * Exit status 0 when the whole tree could be read. */
#include <udfread/udfread.h>

#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int walk(UDFDIR* dir, const char* path) {
    struct udfread_dirent entry;
    int ok = 1;
    while (udfread_readdir(dir, &entry)) {
        if (!strcmp(entry.d_name, ".") || !strcmp(entry.d_name, "..")) continue;
        char child[4096];
        snprintf(child, sizeof child, "%s/%s", path, entry.d_name);
        if (entry.d_type == UDF_DT_DIR) {
            printf("D %s\n", child);
            UDFDIR* sub = udfread_opendir_at(dir, entry.d_name);
            if (!sub) {
                fprintf(stderr, "cannot open directory %s\n", child);
                ok = 0;
                continue;
            }
            ok = walk(sub, child) && ok;
            udfread_closedir(sub);
            continue;
        }
        UDFFILE* file = udfread_file_openat(dir, entry.d_name);
        if (!file) {
            fprintf(stderr, "cannot open file %s\n", child);
            ok = 0;
            continue;
        }
        int64_t size = udfread_file_size(file);
        uint64_t hash = 1469598103934665603ULL;
        static unsigned char buf[1 << 20];
        int64_t total = 0;
        ssize_t got;
        while ((got = udfread_file_read(file, buf, sizeof buf)) > 0) {
            for (ssize_t i = 0; i < got; ++i) {
                hash ^= buf[i];
                hash *= 1099511628211ULL;
            }
            total += got;
        }
        if (got < 0 || total != size) {
            fprintf(stderr, "read error in %s (%" PRId64 " of %" PRId64 ")\n", child, total, size);
            ok = 0;
        }
        printf("F %s %" PRId64 " %016" PRIx64 "\n", child, size, hash);
        udfread_file_close(file);
    }
    return ok;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: udf_check IMAGE\n");
        return 2;
    }
    udfread* udf = udfread_init();
    if (!udf || udfread_open(udf, argv[1]) < 0) {
        fprintf(stderr, "not a UDF volume: %s\n", argv[1]);
        return 1;
    }
    printf("V %s\n", udfread_get_volume_id(udf));
    UDFDIR* root = udfread_opendir(udf, "/");
    if (!root) {
        fprintf(stderr, "cannot open the root directory\n");
        udfread_close(udf);
        return 1;
    }
    int ok = walk(root, "");
    udfread_closedir(root);
    udfread_close(udf);
    return ok ? 0 : 1;
}
