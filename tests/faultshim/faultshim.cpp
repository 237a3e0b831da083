// Preloaded into test processes to make the file system misbehave on request. PIKORA_FAULTS
// holds comma-separated faults, read on every call:
//   no-renameat2      renameat2() fails with EINVAL (no RENAME_NOREPLACE: FUSE, SMB, FAT)
//   no-link           link()/linkat() fail with EPERM (no hard links)
//   no-xattr          extended attributes fail with ENOTSUP
//   rename-delay=MS   rename()/renameat() wait MS milliseconds first (widens races)
//   deny=TEXT         unlink, rename, renameat2, link of a path containing TEXT fail with EPERM
//   create-errno=N@TEXT  open(), openat() and mkdir() creating a file or folder whose path contains
//                     TEXT fail with errno N
//   trace=FILE        fsync, fdatasync, unlink and renames are written to FILE, one per line:
//                     "fsync PATH", "unlink PATH", "rename FROM TO"
//   refill=TEXT       after the first rename away from a path containing TEXT (once per TEXT), a new
//                     file appears at that path (another program saving a photo under the same name)

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace {

std::string faultValue(const char *name, bool *present)
{
    *present = false;
    const char *faults = std::getenv("PIKORA_FAULTS");
    if (!faults)
        return {};
    const std::string all = std::string(",") + faults + ",";
    const std::string key = std::string(",") + name;
    std::size_t at = all.find(key + ",");
    if (at != std::string::npos) {
        *present = true;
        return {};
    }
    at = all.find(key + "=");
    if (at == std::string::npos)
        return {};
    *present = true;
    const std::size_t begin = at + key.size() + 1;
    return all.substr(begin, all.find(',', begin) - begin);
}

bool has(const char *name)
{
    bool present = false;
    faultValue(name, &present);
    return present;
}

bool denied(const char *path)
{
    bool present = false;
    const std::string marker = faultValue("deny", &present);
    return present && !marker.empty() && path && std::strstr(path, marker.c_str());
}

void delayRename()
{
    bool present = false;
    const std::string ms = faultValue("rename-delay", &present);
    if (present)
        ::usleep(useconds_t(std::atoi(ms.c_str())) * 1000);
}

// The errno that creating path is to fail with, or 0.
int createError(const char *path, int flags)
{
    bool present = false;
    const std::string value = faultValue("create-errno", &present);
    const std::size_t at = value.find('@');
    if (!present || !(flags & O_CREAT) || at == std::string::npos || !path)
        return 0;
    return std::strstr(path, value.c_str() + at + 1) ? std::atoi(value.substr(0, at).c_str()) : 0;
}

template<typename F>
F next(const char *name);

void trace(const char *what, const char *path, const char *to = nullptr)
{
    bool present = false;
    const std::string file = faultValue("trace", &present);
    if (!present || file.empty())
        return;
    std::string line = std::string(what) + ' ' + (path ? path : "?");
    if (to)
        line += std::string(" ") + to;
    line += '\n';
    static const auto realOpen = next<int (*)(const char *, int, ...)>("open");
    const int fd = realOpen(file.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    const ssize_t written = ::write(fd, line.data(), line.size());
    (void)written;
    ::close(fd);
}

void traceDescriptor(const char *what, int fd)
{
    char link[64];
    char path[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = ::readlink(link, path, sizeof path - 1);
    path[length < 0 ? 0 : length] = '\0';
    trace(what, path);
}

// After a rename away from a path naming the marker, once: a new file stands there.
void refill(const char *from)
{
    bool present = false;
    const std::string marker = faultValue("refill", &present);
    static std::string done; // once for each marker
    if (!present || marker.empty() || marker == done || !from || !std::strstr(from, marker.c_str()))
        return;
    done = marker;
    static const auto realOpen = next<int (*)(const char *, int, ...)>("open");
    const int fd = realOpen(from, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
        const ssize_t written = ::write(fd, "newer", 5);
        (void)written;
        ::close(fd);
    }
}

int failWith(int error)
{
    errno = error;
    return -1;
}

template<typename F>
F next(const char *name)
{
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {

int pikora_fault_shim_loaded = 1;

int renameat2(int olddirfd, const char *oldpath, int newdirfd, const char *newpath, unsigned int flags)
{
    if (has("no-renameat2"))
        return failWith(EINVAL);
    if (denied(oldpath))
        return failWith(EPERM);
    static const auto real = next<int (*)(int, const char *, int, const char *, unsigned int)>("renameat2");
    const int result = real(olddirfd, oldpath, newdirfd, newpath, flags);
    if (result == 0) {
        trace("rename", oldpath, newpath);
        refill(oldpath);
    }
    return result;
}

int rename(const char *oldpath, const char *newpath)
{
    if (denied(oldpath))
        return failWith(EPERM);
    delayRename();
    static const auto real = next<int (*)(const char *, const char *)>("rename");
    const int result = real(oldpath, newpath);
    if (result == 0) {
        trace("rename", oldpath, newpath);
        refill(oldpath);
    }
    return result;
}

int renameat(int olddirfd, const char *oldpath, int newdirfd, const char *newpath)
{
    if (denied(oldpath))
        return failWith(EPERM);
    delayRename();
    static const auto real = next<int (*)(int, const char *, int, const char *)>("renameat");
    const int result = real(olddirfd, oldpath, newdirfd, newpath);
    if (result == 0) {
        trace("rename", oldpath, newpath);
        refill(oldpath);
    }
    return result;
}

int open(const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? mode_t(va_arg(arguments, int)) : 0;
    va_end(arguments);
    if (const int error = createError(path, flags))
        return failWith(error);
    static const auto real = next<int (*)(const char *, int, ...)>("open");
    return real(path, flags, mode);
}

int open64(const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? mode_t(va_arg(arguments, int)) : 0;
    va_end(arguments);
    if (const int error = createError(path, flags))
        return failWith(error);
    static const auto real = next<int (*)(const char *, int, ...)>("open64");
    return real(path, flags, mode);
}

int openat(int dirfd, const char *path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? mode_t(va_arg(arguments, int)) : 0;
    va_end(arguments);
    if (const int error = createError(path, flags))
        return failWith(error);
    static const auto real = next<int (*)(int, const char *, int, ...)>("openat");
    return real(dirfd, path, flags, mode);
}

int link(const char *oldpath, const char *newpath)
{
    if (has("no-link") || denied(oldpath))
        return failWith(EPERM);
    static const auto real = next<int (*)(const char *, const char *)>("link");
    return real(oldpath, newpath);
}

int linkat(int olddirfd, const char *oldpath, int newdirfd, const char *newpath, int flags)
{
    if (has("no-link") || denied(oldpath))
        return failWith(EPERM);
    static const auto real = next<int (*)(int, const char *, int, const char *, int)>("linkat");
    return real(olddirfd, oldpath, newdirfd, newpath, flags);
}

int unlink(const char *path)
{
    if (denied(path))
        return failWith(EPERM);
    static const auto real = next<int (*)(const char *)>("unlink");
    const int result = real(path);
    if (result == 0)
        trace("unlink", path);
    return result;
}

int unlinkat(int dirfd, const char *path, int flags)
{
    if (denied(path))
        return failWith(EPERM);
    static const auto real = next<int (*)(int, const char *, int)>("unlinkat");
    const int result = real(dirfd, path, flags);
    if (result == 0)
        trace("unlink", path);
    return result;
}

int mkdir(const char *path, mode_t mode)
{
    if (const int error = createError(path, O_CREAT))
        return failWith(error);
    static const auto real = next<int (*)(const char *, mode_t)>("mkdir");
    return real(path, mode);
}

int fsync(int fd)
{
    static const auto real = next<int (*)(int)>("fsync");
    const int result = real(fd);
    if (result == 0)
        traceDescriptor("fsync", fd);
    return result;
}

int fdatasync(int fd)
{
    static const auto real = next<int (*)(int)>("fdatasync");
    const int result = real(fd);
    if (result == 0)
        traceDescriptor("fsync", fd);
    return result;
}

int fsetxattr(int fd, const char *name, const void *value, size_t size, int flags)
{
    if (has("no-xattr"))
        return failWith(ENOTSUP);
    static const auto real = next<int (*)(int, const char *, const void *, size_t, int)>("fsetxattr");
    return real(fd, name, value, size, flags);
}

int setxattr(const char *path, const char *name, const void *value, size_t size, int flags)
{
    if (has("no-xattr"))
        return failWith(ENOTSUP);
    static const auto real = next<int (*)(const char *, const char *, const void *, size_t, int)>("setxattr");
    return real(path, name, value, size, flags);
}

ssize_t getxattr(const char *path, const char *name, void *value, size_t size)
{
    if (has("no-xattr"))
        return failWith(ENOTSUP);
    static const auto real = next<ssize_t (*)(const char *, const char *, void *, size_t)>("getxattr");
    return real(path, name, value, size);
}

} // extern "C"
