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

// Whether the fault is asked for; value receives what follows its "=", if anything.
bool has(const char *name, std::string *value = nullptr)
{
    const char *faults = std::getenv("PIKORA_FAULTS");
    const std::string all = std::string(",") + (faults ? faults : "") + ",";
    const std::string key = std::string(",") + name;
    if (all.find(key + ",") != std::string::npos)
        return true;
    const std::size_t at = all.find(key + "=");
    if (at == std::string::npos)
        return false;
    const std::size_t begin = at + key.size() + 1;
    if (value)
        *value = all.substr(begin, all.find(',', begin) - begin);
    return true;
}

// The value of a fault that takes one; empty when it is not asked for.
std::string valueOf(const char *name)
{
    std::string value;
    has(name, &value);
    return value;
}

bool denied(const char *path)
{
    const std::string marker = valueOf("deny");
    return !marker.empty() && path && std::strstr(path, marker.c_str());
}

// The errno that creating path is to fail with, or 0.
int createError(const char *path, int flags)
{
    const std::string value = valueOf("create-errno");
    const std::size_t at = value.find('@');
    if (!(flags & O_CREAT) || at == std::string::npos || !path)
        return 0;
    return std::strstr(path, value.c_str() + at + 1) ? std::atoi(value.substr(0, at).c_str()) : 0;
}

template<typename F>
F next(const char *name)
{
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

// Writes text to a new or existing file with the real open(), which ours would trace or fail.
void writeTo(const std::string &file, const std::string &text, int flags)
{
    static const auto realOpen = next<int (*)(const char *, int, ...)>("open");
    const int fd = realOpen(file.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, flags & O_EXCL ? 0644 : 0600);
    if (fd < 0)
        return;
    const ssize_t written = ::write(fd, text.data(), text.size());
    (void)written;
    ::close(fd);
}

void trace(const char *what, const char *path, const char *to = nullptr)
{
    const std::string file = valueOf("trace");
    if (!file.empty())
        writeTo(file, std::string(what) + ' ' + (path ? path : "?") + (to ? std::string(" ") + to : "") + '\n', O_APPEND);
}

int traceDescriptor(int result, int fd)
{
    char link[64];
    char path[4096];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t length = ::readlink(link, path, sizeof path - 1);
    path[length < 0 ? 0 : length] = '\0';
    if (result == 0)
        trace("fsync", path);
    return result;
}

int failWith(int error)
{
    errno = error;
    return -1;
}

void delayRename()
{
    if (const int ms = std::atoi(valueOf("rename-delay").c_str()))
        ::usleep(useconds_t(ms) * 1000);
}

// A rename that went through is traced; after one away from a path naming the refill marker
// (once for each marker), a new file stands there.
int renamed(int result, const char *from, const char *to)
{
    const std::string marker = valueOf("refill");
    static std::string done;
    if (result == 0)
        trace("rename", from, to);
    if (result == 0 && !marker.empty() && marker != done && from && std::strstr(from, marker.c_str())) {
        done = marker;
        writeTo(from, "newer", O_EXCL);
    }
    return result;
}

template<typename Call>
int unlinking(const char *path, Call call)
{
    if (denied(path))
        return failWith(EPERM);
    const int result = call();
    if (result == 0)
        trace("unlink", path);
    return result;
}

} // namespace

// The mode argument of a call that may create a file (it is there only then).
#define PIKORA_CREATE_MODE(flags)                                                                 \
    mode_t mode = 0;                                                                              \
    if ((flags) & (O_CREAT | O_TMPFILE)) {                                                        \
        va_list arguments;                                                                        \
        va_start(arguments, flags);                                                               \
        mode = mode_t(va_arg(arguments, int));                                                    \
        va_end(arguments);                                                                        \
    }                                                                                             \
    if (const int error = createError(path, flags))                                               \
        return failWith(error);

extern "C" {

int pikora_fault_shim_loaded = 1;

int renameat2(int olddirfd, const char *oldpath, int newdirfd, const char *newpath, unsigned int flags)
{
    static const auto real = next<int (*)(int, const char *, int, const char *, unsigned int)>("renameat2");
    if (has("no-renameat2"))
        return failWith(EINVAL);
    return denied(oldpath) ? failWith(EPERM) : renamed(real(olddirfd, oldpath, newdirfd, newpath, flags), oldpath, newpath);
}

int rename(const char *oldpath, const char *newpath)
{
    static const auto real = next<int (*)(const char *, const char *)>("rename");
    if (denied(oldpath))
        return failWith(EPERM);
    delayRename();
    return renamed(real(oldpath, newpath), oldpath, newpath);
}

int renameat(int olddirfd, const char *oldpath, int newdirfd, const char *newpath)
{
    static const auto real = next<int (*)(int, const char *, int, const char *)>("renameat");
    if (denied(oldpath))
        return failWith(EPERM);
    delayRename();
    return renamed(real(olddirfd, oldpath, newdirfd, newpath), oldpath, newpath);
}

int open(const char *path, int flags, ...)
{
    PIKORA_CREATE_MODE(flags)
    static const auto real = next<int (*)(const char *, int, ...)>("open");
    return real(path, flags, mode);
}

int open64(const char *path, int flags, ...)
{
    PIKORA_CREATE_MODE(flags)
    static const auto real = next<int (*)(const char *, int, ...)>("open64");
    return real(path, flags, mode);
}

int openat(int dirfd, const char *path, int flags, ...)
{
    PIKORA_CREATE_MODE(flags)
    static const auto real = next<int (*)(int, const char *, int, ...)>("openat");
    return real(dirfd, path, flags, mode);
}

int link(const char *oldpath, const char *newpath)
{
    static const auto real = next<int (*)(const char *, const char *)>("link");
    return has("no-link") || denied(oldpath) ? failWith(EPERM) : real(oldpath, newpath);
}

int linkat(int olddirfd, const char *oldpath, int newdirfd, const char *newpath, int flags)
{
    static const auto real = next<int (*)(int, const char *, int, const char *, int)>("linkat");
    return has("no-link") || denied(oldpath) ? failWith(EPERM) : real(olddirfd, oldpath, newdirfd, newpath, flags);
}

int unlink(const char *path)
{
    static const auto real = next<int (*)(const char *)>("unlink");
    return unlinking(path, [&] { return real(path); });
}

int unlinkat(int dirfd, const char *path, int flags)
{
    static const auto real = next<int (*)(int, const char *, int)>("unlinkat");
    return unlinking(path, [&] { return real(dirfd, path, flags); });
}

int mkdir(const char *path, mode_t mode)
{
    static const auto real = next<int (*)(const char *, mode_t)>("mkdir");
    const int error = createError(path, O_CREAT);
    return error ? failWith(error) : real(path, mode);
}

int fsync(int fd)
{
    static const auto real = next<int (*)(int)>("fsync");
    return traceDescriptor(real(fd), fd);
}

int fdatasync(int fd)
{
    static const auto real = next<int (*)(int)>("fdatasync");
    return traceDescriptor(real(fd), fd);
}

int fsetxattr(int fd, const char *name, const void *value, size_t size, int flags)
{
    static const auto real = next<int (*)(int, const char *, const void *, size_t, int)>("fsetxattr");
    return has("no-xattr") ? failWith(ENOTSUP) : real(fd, name, value, size, flags);
}

int setxattr(const char *path, const char *name, const void *value, size_t size, int flags)
{
    static const auto real = next<int (*)(const char *, const char *, const void *, size_t, int)>("setxattr");
    return has("no-xattr") ? failWith(ENOTSUP) : real(path, name, value, size, flags);
}

ssize_t getxattr(const char *path, const char *name, void *value, size_t size)
{
    static const auto real = next<ssize_t (*)(const char *, const char *, void *, size_t)>("getxattr");
    return has("no-xattr") ? failWith(ENOTSUP) : real(path, name, value, size);
}

} // extern "C"
