// Preloaded into test processes to make the file system misbehave on request. PIKORA_FAULTS
// holds comma-separated faults, read on every call:
//   no-renameat2      renameat2() fails with EINVAL (no RENAME_NOREPLACE: FUSE, SMB, FAT)
//   no-link           link()/linkat() fail with EPERM (no hard links)
//   no-xattr          extended attributes fail with ENOTSUP
//   rename-delay=MS   rename()/renameat() wait MS milliseconds first (widens races)
//   deny=TEXT         unlink, rename, renameat2, link of a path containing TEXT fail with EPERM
//   create-errno=N@TEXT  open() and openat() creating a file whose path contains TEXT fail with errno N

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <string>
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
    return real(olddirfd, oldpath, newdirfd, newpath, flags);
}

int rename(const char *oldpath, const char *newpath)
{
    if (denied(oldpath))
        return failWith(EPERM);
    delayRename();
    static const auto real = next<int (*)(const char *, const char *)>("rename");
    return real(oldpath, newpath);
}

int renameat(int olddirfd, const char *oldpath, int newdirfd, const char *newpath)
{
    if (denied(oldpath))
        return failWith(EPERM);
    delayRename();
    static const auto real = next<int (*)(int, const char *, int, const char *)>("renameat");
    return real(olddirfd, oldpath, newdirfd, newpath);
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
    return real(path);
}

int unlinkat(int dirfd, const char *path, int flags)
{
    if (denied(path))
        return failWith(EPERM);
    static const auto real = next<int (*)(int, const char *, int)>("unlinkat");
    return real(dirfd, path, flags);
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
