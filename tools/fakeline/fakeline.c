// A serial adapter with modem lines, for trying the light barriers without one.
// Preloaded into Quellorix (LD_PRELOAD), it answers for one device node
// (FAKELINE_DEVICE, e.g. /dev/ttyUSB0) as if an adapter were plugged in there;
// the lines come from a file (FAKELINE_FILE) that tools/fakeline/line.sh writes:
// "<TIOCM bits> <cts count> <dsr count> <dcd count> <ring count>". Every other
// file and call goes to the system. Nothing here is used by the program or its tests.
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#define MAX_FDS 64
static int fakeFds[MAX_FDS];
static int fakeFdCount;

static const char* Device(void)
{
    const char* device = getenv("FAKELINE_DEVICE");
    return device && *device ? device : NULL;
}

static int IsDevice(const char* path)
{
    const char* device = Device();
    return device && path && strcmp(path, device) == 0;
}

static int IsFake(int fd)
{
    for (int i = 0; i < fakeFdCount; ++i)
        if (fakeFds[i] == fd)
            return 1;
    return 0;
}

struct Lines
{
    int bits;
    int cts, dsr, dcd, rng;
};

static struct Lines ReadLines(void)
{
    struct Lines lines = {0, 0, 0, 0, 0};
    const char* path = getenv("FAKELINE_FILE");
    FILE* (*realFopen)(const char*, const char*) = dlsym(RTLD_NEXT, "fopen");
    FILE* file = path ? realFopen(path, "r") : NULL;
    if (file) {
        if (fscanf(file, "%d %d %d %d %d", &lines.bits, &lines.cts, &lines.dsr, &lines.dcd, &lines.rng) != 5)
            memset(&lines, 0, sizeof lines);
        fclose(file);
    }
    return lines;
}

static int OpenFake(int flags)
{
    int (*realOpen)(const char*, int, ...) = dlsym(RTLD_NEXT, "open");
    const int fd = realOpen("/dev/null", (flags & O_CLOEXEC) | O_RDWR);
    if (fd >= 0 && fakeFdCount < MAX_FDS)
        fakeFds[fakeFdCount++] = fd;
    return fd;
}

static int OpenPath(const char* realName, const char* path, int flags, mode_t mode)
{
    if (IsDevice(path))
        return OpenFake(flags);
    int (*realOpen)(const char*, int, ...) = dlsym(RTLD_NEXT, realName);
    return realOpen(path, flags, mode);
}

// The mode is there only when a file may be made.
#define FAKELINE_MODE(flags, mode)                                                                   \
    if ((flags) & (O_CREAT | O_TMPFILE)) {                                                          \
        va_list args;                                                                                \
        va_start(args, flags);                                                                       \
        mode = va_arg(args, mode_t);                                                                 \
        va_end(args);                                                                                \
    }

int open(const char* path, int flags, ...)
{
    mode_t mode = 0;
    FAKELINE_MODE(flags, mode)
    return OpenPath("open", path, flags, mode);
}

int open64(const char* path, int flags, ...)
{
    mode_t mode = 0;
    FAKELINE_MODE(flags, mode)
    return OpenPath("open64", path, flags, mode);
}

int close(int fd)
{
    for (int i = 0; i < fakeFdCount; ++i)
        if (fakeFds[i] == fd)
            fakeFds[i] = fakeFds[--fakeFdCount];
    int (*realClose)(int) = dlsym(RTLD_NEXT, "close");
    return realClose(fd);
}

int stat(const char* path, struct stat* buf)
{
    if (IsDevice(path)) {
        memset(buf, 0, sizeof *buf);
        buf->st_mode = S_IFCHR | 0666;
        buf->st_rdev = makedev(188, 0);
        return 0;
    }
    int (*realStat)(const char*, struct stat*) = dlsym(RTLD_NEXT, "stat");
    return realStat(path, buf);
}

int access(const char* path, int mode)
{
    if (IsDevice(path))
        return 0;
    int (*realAccess)(const char*, int) = dlsym(RTLD_NEXT, "access");
    return realAccess(path, mode);
}

int tcgetattr(int fd, struct termios* tio)
{
    if (IsFake(fd)) {
        memset(tio, 0, sizeof *tio);
        return 0;
    }
    int (*real)(int, struct termios*) = dlsym(RTLD_NEXT, "tcgetattr");
    return real(fd, tio);
}

int tcsetattr(int fd, int actions, const struct termios* tio)
{
    if (IsFake(fd))
        return 0;
    int (*real)(int, int, const struct termios*) = dlsym(RTLD_NEXT, "tcsetattr");
    return real(fd, actions, tio);
}

int tcflush(int fd, int queue)
{
    if (IsFake(fd))
        return 0;
    int (*real)(int, int) = dlsym(RTLD_NEXT, "tcflush");
    return real(fd, queue);
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    if (!IsFake(fd)) {
        int (*real)(int, unsigned long, ...) = dlsym(RTLD_NEXT, "ioctl");
        return real(fd, request, argument);
    }
    switch (request) {
    case TIOCMGET:
        *(int*)argument = ReadLines().bits | TIOCM_DTR | TIOCM_RTS;
        return 0;
    case TIOCGICOUNT: {
        const struct Lines lines = ReadLines();
        struct serial_icounter_struct* counters = argument;
        memset(counters, 0, sizeof *counters);
        counters->cts = lines.cts;
        counters->dsr = lines.dsr;
        counters->dcd = lines.dcd;
        counters->rng = lines.rng;
        return 0;
    }
    case TIOCMIWAIT: {
        // Like the driver: wait until a counter of a line in the mask moves; a signal ends it.
        const int mask = (int)(long)argument;
        const struct Lines start = ReadLines();
        for (;;) {
            const struct timespec step = {0, 500000};
            if (nanosleep(&step, NULL) != 0) {
                errno = EINTR;
                return -1;
            }
            const struct Lines now = ReadLines();
            if (((mask & TIOCM_CTS) && now.cts != start.cts) || ((mask & TIOCM_DSR) && now.dsr != start.dsr) ||
                ((mask & TIOCM_CD) && now.dcd != start.dcd) || ((mask & TIOCM_RNG) && now.rng != start.rng))
                return 0;
        }
    }
    case TIOCGSERIAL: {
        struct serial_struct* info = argument;
        memset(info, 0, sizeof *info);
        info->type = PORT_16550A;
        return 0;
    }
    case FIONREAD:
        *(int*)argument = 0;
        return 0;
    default:
        return 0; // TIOCEXCL, TIOCMBIS, TIOCMBIC, TIOCSSERIAL: taken
    }
}
