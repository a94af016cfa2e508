// The C library calls a V4L2 program makes, taken over for the simulated camera's nodes
// (/dev/videoN) and descriptors; everything else goes on to the C library. Loaded with
// LD_PRELOAD, or linked into a test program ahead of the C library.
#include "camera.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <poll.h>
#include <sys/select.h>
#include <string>
#include <unistd.h>
#include <vector>

#define UVC_SIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

template <typename F>
F real(const char* name)
{
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

// The C library's own functions, looked up once.
#define REAL(name, type) static const auto real_##name = real<type>(#name)

mode_t modeOf(int flags, va_list args)
{
    return (flags & (O_CREAT | O_TMPFILE)) ? mode_t(va_arg(args, int)) : 0;
}

// The listing of /dev: the camera's nodes follow the real entries (real videoN entries are
// left out, so the simulated camera is the machine's only one).
struct Listing {
    std::vector<std::string> extra;
    size_t next = 0;
    dirent entry{};
};
std::mutex listingsMutex;
std::map<DIR*, Listing> listings;

bool isDevFolder(const char* path)
{
    return path && (std::strcmp(path, "/dev") == 0 || std::strcmp(path, "/dev/") == 0);
}

dirent* nextEntry(DIR* dir, dirent* (*realReaddir)(DIR*))
{
    std::unique_lock lock(listingsMutex);
    auto it = listings.find(dir);
    if (it == listings.end()) {
        lock.unlock();
        return realReaddir(dir);
    }
    for (dirent* e; (e = realReaddir(dir));) {
        const std::string path = "/dev/" + std::string(e->d_name);
        if (!uvcsim::isCameraPath(path.c_str()))
            return e;
    }
    Listing& l = it->second;
    if (l.next >= l.extra.size())
        return nullptr;
    l.entry = {};
    l.entry.d_type = DT_CHR;
    std::strncpy(l.entry.d_name, l.extra[l.next++].c_str(), sizeof l.entry.d_name - 1);
    return &l.entry;
}

int openCamera(const char* path, int flags)
{
    return uvcsim::cameraOpen(path, flags);
}

}  // namespace

UVC_SIM_EXPORT int open(const char* path, int flags, ...)
{
    if (uvcsim::isCameraPath(path))
        return openCamera(path, flags);
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeOf(flags, args);
    va_end(args);
    REAL(open, int (*)(const char*, int, ...));
    return real_open(path, flags, mode);
}

UVC_SIM_EXPORT int open64(const char* path, int flags, ...)
{
    if (uvcsim::isCameraPath(path))
        return openCamera(path, flags);
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeOf(flags, args);
    va_end(args);
    REAL(open64, int (*)(const char*, int, ...));
    return real_open64(path, flags, mode);
}

UVC_SIM_EXPORT int __open_2(const char* path, int flags)
{
    if (uvcsim::isCameraPath(path))
        return openCamera(path, flags);
    REAL(__open_2, int (*)(const char*, int));
    return real___open_2(path, flags);
}

UVC_SIM_EXPORT int __open64_2(const char* path, int flags)
{
    if (uvcsim::isCameraPath(path))
        return openCamera(path, flags);
    REAL(__open64_2, int (*)(const char*, int));
    return real___open64_2(path, flags);
}

UVC_SIM_EXPORT int openat(int dirfd, const char* path, int flags, ...)
{
    if (uvcsim::isCameraPath(path))
        return openCamera(path, flags);
    va_list args;
    va_start(args, flags);
    const mode_t mode = modeOf(flags, args);
    va_end(args);
    REAL(openat, int (*)(int, const char*, int, ...));
    return real_openat(dirfd, path, flags, mode);
}

UVC_SIM_EXPORT int close(int fd)
{
    REAL(close, int (*)(int));
    if (uvcsim::isCameraFd(fd))
        uvcsim::cameraClose(fd);
    return real_close(fd);
}

UVC_SIM_EXPORT int ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    if (uvcsim::isCameraFd(fd))
        return uvcsim::cameraIoctl(fd, request, arg);
    REAL(ioctl, int (*)(int, unsigned long, ...));
    return real_ioctl(fd, request, arg);
}

// One camera descriptor among others: the camera waits for its frame, the rest are asked
// without waiting; in the end every descriptor's events are filled in as poll does.
UVC_SIM_EXPORT int poll(pollfd* fds, nfds_t n, int timeout)
{
    REAL(poll, int (*)(pollfd*, nfds_t, int));
    const auto realPoll = real_poll;
    nfds_t camera = n;
    for (nfds_t i = 0; i < n; ++i)
        if (uvcsim::isCameraFd(fds[i].fd))
            camera = i;
    if (camera == n)
        return realPoll(fds, n, timeout);
    int ready = 0;
    if (n > 1) {
        const pollfd keep = fds[camera];
        fds[camera].fd = -1;  // poll skips negative descriptors
        ready = realPoll(fds, n, 0);
        fds[camera] = keep;
        if (ready < 0)
            return ready;
    }
    fds[camera].revents = uvcsim::cameraPoll(fds[camera].fd, fds[camera].events, ready > 0 ? 0 : timeout);
    return ready + (fds[camera].revents ? 1 : 0);
}

UVC_SIM_EXPORT DIR* opendir(const char* path)
{
    REAL(opendir, DIR* (*)(const char*));
    DIR* dir = real_opendir(path);
    if (dir && isDevFolder(path)) {
        std::lock_guard lock(listingsMutex);
        listings[dir] = {uvcsim::nodeNames()};
    }
    return dir;
}

UVC_SIM_EXPORT dirent* readdir(DIR* dir)
{
    REAL(readdir, dirent* (*)(DIR*));
    return nextEntry(dir, real_readdir);
}

// dirent64 is dirent on 64-bit Linux.
UVC_SIM_EXPORT dirent64* readdir64(DIR* dir)
{
    static_assert(sizeof(dirent64) == sizeof(dirent));
    REAL(readdir64, dirent* (*)(DIR*));
    return reinterpret_cast<dirent64*>(nextEntry(dir, real_readdir64));
}

UVC_SIM_EXPORT int closedir(DIR* dir)
{
    {
        std::lock_guard lock(listingsMutex);
        listings.erase(dir);
    }
    REAL(closedir, int (*)(DIR*));
    return real_closedir(dir);
}

// The camera offers no read() capture (no V4L2_CAP_READWRITE): uvcvideo answers EINVAL.
UVC_SIM_EXPORT ssize_t read(int fd, void* buffer, size_t size)
{
    REAL(read, ssize_t (*)(int, void*, size_t));
    if (uvcsim::isCameraFd(fd)) {
        errno = EINVAL;
        return -1;
    }
    return real_read(fd, buffer, size);
}

// select over a camera descriptor waits as poll does; the other descriptors are asked without
// waiting when the camera is among them.
UVC_SIM_EXPORT int select(int n, fd_set* readable, fd_set* writable, fd_set* failed, timeval* timeout)
{
    REAL(select, int (*)(int, fd_set*, fd_set*, fd_set*, timeval*));
    int camera = -1;
    for (int fd = 0; readable && fd < n && fd < FD_SETSIZE; ++fd)
        if (FD_ISSET(fd, readable) && uvcsim::isCameraFd(fd))
            camera = fd;
    if (camera < 0)
        return real_select(n, readable, writable, failed, timeout);
    FD_CLR(camera, readable);
    timeval now{};
    const int others = real_select(n, readable, writable, failed, &now);
    if (others < 0)
        return others;
    const int waitMs = others > 0 ? 0 : timeout ? int(timeout->tv_sec * 1000 + timeout->tv_usec / 1000) : -1;
    if (uvcsim::cameraPoll(camera, POLLIN, waitMs) & POLLIN) {
        FD_SET(camera, readable);
        return others + 1;
    }
    return others;
}
