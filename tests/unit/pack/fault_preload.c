/* Preloaded into glimmer-pack by its tests to fail what a disk could fail
 * and to play an attacker who can write in the tool's folders. Each fault
 * acts only while its variable is set:
 *
 *   GLIMMER_FAIL_OPEN=PREFIX   opening an existing file whose path begins
 *                              with PREFIX fails with EIO;
 *   GLIMMER_FAIL_CLOSE=PREFIX  closing a file open for writing whose path
 *                              begins with PREFIX fails with ENOSPC (the
 *                              file is closed all the same), as a full disk
 *                              shows at the last moment on some systems;
 *   GLIMMER_FAIL_RENAME=1      every rename fails with EIO;
 *   GLIMMER_FAIL_RENAME_AFTER=N  the renames after the first N fail;
 *   GLIMMER_PLANT_LINK=VICTIM  right after a file is created new (O_EXCL)
 *                              in a folder, its name is replaced by a
 *                              symbolic link to VICTIM;
 *   GLIMMER_STOP_AT_WRITE=PREFIX  the first write to a file whose path
 *                              begins with PREFIX stops the process
 *                              (SIGSTOP) first, so that a test can signal
 *                              it at that very moment. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#define NEXT(type, name) ((type)dlsym(RTLD_NEXT, name))

static int Refused(const char* path) {
    const char* prefix = getenv("GLIMMER_FAIL_OPEN");
    if (!prefix || !path || strncmp(path, prefix, strlen(prefix)) != 0 || access(path, F_OK) != 0) return 0;
    errno = EIO;
    return 1;
}

FILE* fopen(const char* path, const char* mode) {
    return Refused(path) ? NULL : NEXT(FILE * (*)(const char*, const char*), "fopen")(path, mode);
}

FILE* fopen64(const char* path, const char* mode) {
    return Refused(path) ? NULL : NEXT(FILE * (*)(const char*, const char*), "fopen64")(path, mode);
}

static mode_t ModeOf(int flags, va_list args) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? (mode_t)va_arg(args, int) : 0;
}

/* The path of an open file descriptor, "" when it cannot be told. */
static void PathOf(int fd, char* path, size_t size) {
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, size - 1);
    path[n > 0 ? n : 0] = '\0';
}

static void PlantLink(int folder, const char* name) {
    const char* victim = getenv("GLIMMER_PLANT_LINK");
    if (!victim) return;
    unlinkat(folder, name, 0);
    symlinkat(victim, folder, name);
}

static int OpenAt(const char* which, int folder, const char* path, int flags, mode_t mode) {
    if (!(flags & O_CREAT) && Refused(path)) return -1;
    int fd = NEXT(int (*)(int, const char*, int, ...), which)(folder, path, flags, mode);
    if (fd >= 0 && (flags & O_CREAT) && (flags & O_EXCL)) {
        PlantLink(folder, path);
        /* An interrupt the moment a new file exists, before the tool can
           have noted it anywhere. */
        const char* signal = getenv("GLIMMER_INTERRUPT_AT_CREATE");
        if (signal) raise(atoi(signal));
    }
    return fd;
}

int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = ModeOf(flags, args);
    va_end(args);
    return OpenAt("openat", AT_FDCWD, path, flags, mode);
}

int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = ModeOf(flags, args);
    va_end(args);
    return OpenAt("openat64", AT_FDCWD, path, flags, mode);
}

int openat(int folder, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = ModeOf(flags, args);
    va_end(args);
    return OpenAt("openat", folder, path, flags, mode);
}

int openat64(int folder, const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    mode_t mode = ModeOf(flags, args);
    va_end(args);
    return OpenAt("openat64", folder, path, flags, mode);
}

/* Whether closing `fd` is to fail as a full disk would. */
static int FullAtClose(int fd) {
    const char* prefix = getenv("GLIMMER_FAIL_CLOSE");
    if (!prefix || fd < 0 || (fcntl(fd, F_GETFL) & O_ACCMODE) == O_RDONLY) return 0;
    char path[PATH_MAX];
    PathOf(fd, path, sizeof path);
    return strncmp(path, prefix, strlen(prefix)) == 0;
}

int close(int fd) {
    int full = FullAtClose(fd);
    int result = NEXT(int (*)(int), "close")(fd);
    if (full && result == 0) {
        errno = ENOSPC;
        return -1;
    }
    return result;
}

int fclose(FILE* stream) {
    int full = stream ? FullAtClose(fileno(stream)) : 0;
    int result = NEXT(int (*)(FILE*), "fclose")(stream);
    if (full && result == 0) {
        errno = ENOSPC;
        return EOF;
    }
    return result;
}

static int RenameFails(void) {
    static int renames = 0;
    const char* after = getenv("GLIMMER_FAIL_RENAME_AFTER");
    if (getenv("GLIMMER_FAIL_RENAME") || (after && renames++ >= atoi(after))) {
        errno = EIO;
        return 1;
    }
    return 0;
}

int rename(const char* from, const char* to) {
    return RenameFails() ? -1 : NEXT(int (*)(const char*, const char*), "rename")(from, to);
}

int renameat(int fromFolder, const char* from, int toFolder, const char* to) {
    return RenameFails() ? -1 : NEXT(int (*)(int, const char*, int, const char*), "renameat")(fromFolder, from, toFolder, to);
}

int renameat2(int fromFolder, const char* from, int toFolder, const char* to, unsigned flags) {
    return RenameFails() ? -1
                         : NEXT(int (*)(int, const char*, int, const char*, unsigned), "renameat2")(fromFolder, from,
                                                                                                     toFolder, to, flags);
}

ssize_t write(int fd, const void* data, size_t size) {
    static int stopped = 0;
    const char* prefix = getenv("GLIMMER_STOP_AT_WRITE");
    if (prefix && !stopped && fd > 2) {
        char path[PATH_MAX];
        PathOf(fd, path, sizeof path);
        if (strncmp(path, prefix, strlen(prefix)) == 0) {
            stopped = 1;
            raise(SIGSTOP);
        }
    }
    return NEXT(ssize_t(*)(int, const void*, size_t), "write")(fd, data, size);
}
