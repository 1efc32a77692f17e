/* The data folder made full for the monkey: loaded with LD_PRELOAD into corvex, write() into a
 * file below $MONKEY_FULL_FOLDER fails with ENOSPC while the file $MONKEY_FULL_FLAG exists.
 * Other files (the user's own) are written as ever. Built by monkey.py with cc. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int full_for(int fd)
{
    const char* flag = getenv("MONKEY_FULL_FLAG");
    const char* folder = getenv("MONKEY_FULL_FOLDER");
    if (!flag || !folder || access(flag, F_OK) != 0)
        return 0;
    char link[64];
    char target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t length = readlink(link, target, sizeof target - 1);
    if (length <= 0)
        return 0;
    target[length] = '\0';
    return strncmp(target, folder, strlen(folder)) == 0;
}

ssize_t write(int fd, const void* data, size_t size)
{
    static ssize_t (*real)(int, const void*, size_t);
    if (!real)
        real = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
    if (size > 0 && full_for(fd)) {
        errno = ENOSPC;
        return -1;
    }
    return real(fd, data, size);
}
