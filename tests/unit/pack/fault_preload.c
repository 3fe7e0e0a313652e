/* Preloaded into glimmer-pack by its tests to fail what a disk or a race
 * could fail: while GLIMMER_FAIL_OPEN names a path, opening any file whose
 * path begins with it and that already exists fails with EIO. The tool's
 * own writes go through open/write and are not touched. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int Refused(const char* path) {
    const char* prefix = getenv("GLIMMER_FAIL_OPEN");
    if (!prefix || !path || strncmp(path, prefix, strlen(prefix)) != 0 || access(path, F_OK) != 0) return 0;
    errno = EIO;
    return 1;
}

FILE* fopen(const char* path, const char* mode) {
    FILE* (*next)(const char*, const char*) = (FILE * (*)(const char*, const char*)) dlsym(RTLD_NEXT, "fopen");
    return Refused(path) ? NULL : next(path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
    FILE* (*next)(const char*, const char*) = (FILE * (*)(const char*, const char*)) dlsym(RTLD_NEXT, "fopen64");
    return Refused(path) ? NULL : next(path, mode);
}

/* While GLIMMER_FAIL_RENAME is set, every rename fails with EIO. */
int rename(const char* from, const char* to) {
    int (*next)(const char*, const char*) = (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
    if (getenv("GLIMMER_FAIL_RENAME")) {
        errno = EIO;
        return -1;
    }
    return next(from, to);
}
