#include "filescanner.h"

#include <QDir>
#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <array>
#include <string_view>
#include <vector>

namespace {

using namespace std::string_view_literals;

// Matching is exact: "Jpg" or "Jxl" are not photos we convert.
constexpr std::array kJpegExtensions{"jpg"sv, "jpeg"sv, "JPG"sv, "JPEG"sv};
constexpr std::array kJxlExtensions{"jxl"sv, "JXL"sv};

// Folders that file managers present as single documents; their insides are not the
// user's loose photos (a photo library keeps its own copies and would be corrupted).
constexpr std::array kPackageExtensions{".app"sv, ".bundle"sv, ".photoslibrary"sv, ".aplibrary"sv,
                                        ".framework"sv};

enum class Kind { other, jpeg, jxl, folder };

QStringList toStringList(const auto &extensions)
{
    QStringList list;
    for (const std::string_view extension : extensions)
        list.append(QString::fromLatin1(extension.data(), qsizetype(extension.size())));
    return list;
}

Kind kindOfName(std::string_view name)
{
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return Kind::other;
    const std::string_view extension = name.substr(dot + 1);
    for (const std::string_view candidate : kJpegExtensions) {
        if (extension == candidate)
            return Kind::jpeg;
    }
    for (const std::string_view candidate : kJxlExtensions) {
        if (extension == candidate)
            return Kind::jxl;
    }
    return Kind::other;
}

bool endsWithIgnoringCase(std::string_view text, std::string_view suffix)
{
    if (text.size() <= suffix.size())
        return false;
    text.remove_prefix(text.size() - suffix.size());
    for (size_t i = 0; i < suffix.size(); ++i) {
        const char c = text[i] >= 'A' && text[i] <= 'Z' ? char(text[i] - 'A' + 'a') : text[i];
        if (c != suffix[i])
            return false;
    }
    return true;
}

bool isPackageName(std::string_view name)
{
    for (const std::string_view extension : kPackageExtensions) {
        if (endsWithIgnoringCase(name, extension))
            return true;
    }
    return false;
}

std::string_view lastComponent(const QByteArray &path)
{
    const std::string_view view(path.constData(), size_t(path.size()));
    const auto slash = view.rfind('/');
    return slash == std::string_view::npos ? view : view.substr(slash + 1);
}

void append(ScanResult &result, Kind kind, const QUrl &url, qint64 size)
{
    if (kind == Kind::jpeg) {
        result.jpegFiles.append(url);
        result.totalJPEGBytes += size;
    } else if (kind == Kind::jxl) {
        result.jxlFiles.append(url);
        result.totalJXLBytes += size;
    }
}

struct Entry
{
    QByteArray name;
    Kind kind;
    qint64 size;
};

// Reads one folder: the photos it holds (with sizes) and the subfolders to descend into,
// in the order the file system lists them. Everything else is dropped here, so files of
// other types cost no stat call. The folder is closed before its subfolders are opened,
// which keeps one descriptor in use however deep the tree is.
bool readFolder(const QByteArray &path, std::vector<Entry> &entries)
{
    DIR *dir = opendir(path.constData());
    if (!dir)
        return false;
    const int fd = dirfd(dir);
    while (const dirent *item = readdir(dir)) {
        const char *name = item->d_name;
        // Hidden items, and "." and "..".
        if (name[0] == '.')
            continue;
        const std::string_view view(name);
        unsigned char type = item->d_type;
        if (type == DT_UNKNOWN) {
            struct stat info;
            if (fstatat(fd, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISREG(info.st_mode) ? DT_REG : S_ISLNK(info.st_mode) ? DT_LNK : DT_UNKNOWN;
        }
        if (type == DT_DIR) {
            if (!isPackageName(view))
                entries.push_back({QByteArray(name), Kind::folder, 0});
            continue;
        }
        if (type != DT_REG && type != DT_LNK)
            continue;
        const Kind kind = kindOfName(view);
        if (kind == Kind::other)
            continue;
        // Follows a link: a link to a photo counts as the photo, a link to a folder is never
        // descended (it may loop) and a dangling link is nothing.
        struct stat info;
        qint64 size = 0;
        if (fstatat(fd, name, &info, 0) == 0) {
            if (!S_ISREG(info.st_mode))
                continue;
            size = info.st_size;
        } else if (type == DT_LNK) {
            continue;
        }
        entries.push_back({QByteArray(name), kind, size});
    }
    closedir(dir);
    return true;
}

// Depth-first, each folder's items in listing order, descending into a subfolder where it is met.
void walk(const QByteArray &root, ScanResult &result)
{
    struct Level
    {
        QByteArray path;
        std::vector<Entry> entries;
        size_t next = 0;
        // The folder's path as text with a trailing slash, made once for all its photos.
        QString prefix;
    };
    const auto withSlash = [](const QByteArray &path) { return path.endsWith('/') ? path : path + '/'; };
    std::vector<Level> stack;
    Level top{withSlash(root), {}, 0, {}};
    // An unreadable folder is skipped without a word, as are unreadable subfolders below.
    if (!readFolder(root, top.entries))
        return;
    stack.push_back(std::move(top));
    while (!stack.empty()) {
        Level &level = stack.back();
        if (level.next == level.entries.size()) {
            stack.pop_back();
            continue;
        }
        const Entry &entry = level.entries[level.next++];
        if (entry.kind == Kind::folder) {
            Level child{level.path + entry.name + '/', {}, 0, {}};
            if (readFolder(child.path, child.entries) && !child.entries.empty())
                stack.push_back(std::move(child));
            continue;
        }
        if (level.prefix.isEmpty())
            level.prefix = QFile::decodeName(level.path);
        append(result, entry.kind, QUrl::fromLocalFile(level.prefix + QFile::decodeName(entry.name)), entry.size);
    }
}

} // namespace

qint64 ScanResult::estimatedSavedBytes() const
{
    return static_cast<qint64>(static_cast<double>(totalJPEGBytes) * 0.25);
}

namespace FileScanner {

const QStringList &jpegExtensions()
{
    static const QStringList list = toStringList(kJpegExtensions);
    return list;
}

const QStringList &jxlExtensions()
{
    static const QStringList list = toStringList(kJxlExtensions);
    return list;
}

ScanResult scan(const QList<QUrl> &urls)
{
    ScanResult result;
    result.folderURL = urls.isEmpty() ? QUrl::fromLocalFile(QStringLiteral("/")) : urls.first();
    for (const QUrl &url : urls) {
        const QString local = url.toLocalFile();
        if (local.isEmpty())
            continue;
        const QByteArray path = QFile::encodeName(QDir::cleanPath(local));
        // Follows a link named directly: the user pointed at what it points to.
        struct stat info;
        if (stat(path.constData(), &info) != 0)
            continue;
        if (S_ISDIR(info.st_mode)) {
            if (!isPackageName(lastComponent(path)))
                walk(path, result);
            continue;
        }
        // Pipes and devices are never photos, and reading one could block the conversion.
        if (!S_ISREG(info.st_mode))
            continue;
        // A hidden file named directly is accepted: the user chose it.
        append(result, kindOfName(lastComponent(path)), url, info.st_size);
    }
    return result;
}

} // namespace FileScanner
