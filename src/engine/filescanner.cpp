#include "filescanner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <limits>
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

void addProblem(ScanResult &result, ScanProblem::Kind kind, const QByteArray &path, int error = 0, bool jxl = false,
                qint64 size = TaskItem::kUnknownSize)
{
    ScanProblem problem;
    problem.kind = kind;
    problem.path = FileScanner::displayPath(path);
    problem.error = error;
    problem.jxl = jxl;
    problem.size = size;
    result.problems.append(problem);
}

void append(ScanResult &result, Kind kind, const QUrl &url, qint64 size, const QString &root)
{
    if (kind == Kind::jpeg) {
        result.jpegFiles.append(url);
        result.jpegSizes.append(size);
        result.jpegRoots.append(root);
        result.totalJPEGBytes += std::max<qint64>(size, 0);
    } else if (kind == Kind::jxl) {
        result.jxlFiles.append(url);
        result.jxlSizes.append(size);
        result.jxlRoots.append(root);
        result.totalJXLBytes += std::max<qint64>(size, 0);
    }
}

struct Entry
{
    QByteArray name;
    Kind kind;
    qint64 size;
    bool link = false; // a symbolic link to a photo
};

// The path with every symbolic link resolved; empty when that is the path itself, or when it
// cannot be had or told apart as text (then the file is known by its own path alone).
QString resolvedPath(const QByteArray &path)
{
    char *real = ::realpath(path.constData(), nullptr);
    if (!real)
        return {};
    const QByteArray bytes(real);
    std::free(real);
    if (bytes == path || !FileScanner::isRepresentable(bytes))
        return {};
    return QFile::decodeName(bytes);
}

// Reads one folder: the photos it holds (with sizes) and the subfolders to descend into,
// in the order the file system lists them. Everything else is dropped here, so files of
// other types cost no stat call. The folder is closed before its subfolders are opened,
// which keeps one descriptor in use however deep the tree is.
// Returns 0, or the errno of a folder that could not be listed (entries then hold what was read).
int readFolder(const QByteArray &path, std::vector<Entry> &entries)
{
    DIR *dir = opendir(path.constData());
    if (!dir)
        return errno;
    const int fd = dirfd(dir);
    for (;;) {
        errno = 0;
        const dirent *item = readdir(dir);
        if (!item)
            break;
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
        // A folder that may be listed but not entered lists names it cannot tell the size of.
        qint64 size = TaskItem::kUnknownSize;
        if (fstatat(fd, name, &info, 0) == 0) {
            if (!S_ISREG(info.st_mode))
                continue;
            size = info.st_size;
        } else if (type == DT_LNK) {
            continue;
        }
        entries.push_back({QByteArray(name), kind, size, type == DT_LNK});
    }
    const int error = errno;
    closedir(dir);
    return error;
}

} // namespace

QString ScanProblem::message() const
{
    switch (kind) {
    case Kind::missing:
        return QCoreApplication::translate("FileScanner", "找不到指定文件: %1").arg(path);
    case Kind::inaccessible:
        return QCoreApplication::translate("FileScanner", "无法访问: %1 (%2)").arg(path, qt_error_string(error));
    case Kind::unreadableFolder:
        return QCoreApplication::translate("FileScanner", "无法读取文件夹: %1 (%2)").arg(path, qt_error_string(error));
    case Kind::undecodableName:
        return QCoreApplication::translate("FileScanner", "文件名不是有效的 UTF-8 编码，无法处理: %1").arg(path);
    }
    return path;
}

QString ScanProblem::reason() const
{
    if (kind == Kind::undecodableName)
        return QCoreApplication::translate("FileScanner", "文件名不是有效的 UTF-8 编码，无法处理");
    return message();
}

QUrl ScanProblem::placeholderURL() const
{
    QUrl url;
    url.setScheme(QStringLiteral("x-unnamed-file"));
    url.setPath(path);
    return url;
}

qint64 ScanResult::estimatedSavedBytes() const
{
    return static_cast<qint64>(static_cast<double>(totalJPEGBytes) * 0.25);
}

QString ScanResult::realPath(const QString &path, const QString &root) const
{
    if (const auto link = linkTargets.constFind(path); link != linkTargets.cend())
        return *link;
    if (const auto folder = realFolders.constFind(root); folder != realFolders.cend() && path.startsWith(root))
        return *folder + path.mid(root.size());
    return path;
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

void forEachPhoto(const ScanResult &result, ConversionMode direction, const PhotoVisitor &visit)
{
    const bool jpegs = direction == ConversionMode::jpegToJXL;
    const QList<QUrl> &files = jpegs ? result.jpegFiles : result.jxlFiles;
    const QStringList &roots = jpegs ? result.jpegRoots : result.jxlRoots;
    const auto pathAt = [&files](qsizetype i) { return QDir::cleanPath(files.at(i).toLocalFile()); };
    // The files that links name and that are also listed under a path of their own. Only a scan
    // that met links pays for the two extra passes.
    QSet<QString> listedItself;
    if (!result.linkTargets.isEmpty()) {
        QSet<QString> named;
        for (qsizetype i = 0; i < files.size(); ++i) {
            if (const auto link = result.linkTargets.constFind(pathAt(i)); link != result.linkTargets.cend())
                named.insert(*link);
        }
        for (qsizetype i = 0; i < files.size() && !named.isEmpty(); ++i) {
            const QString path = pathAt(i);
            if (result.linkTargets.contains(path))
                continue;
            const QString real = result.realPath(path, roots.at(i));
            if (named.remove(real))
                listedItself.insert(real);
        }
    }
    for (qsizetype i = 0; i < files.size(); ++i) {
        const QString path = pathAt(i);
        const QString real = result.realPath(path, roots.at(i));
        if (!listedItself.isEmpty() && listedItself.contains(real) && result.linkTargets.contains(path))
            continue;
        visit(i, path, real);
    }
}

ImportProblems importProblems(const ScanResult &result, ConversionMode direction)
{
    ImportProblems problems;
    for (const ScanProblem &problem : result.problems) {
        if (problem.kind != ScanProblem::Kind::undecodableName) {
            problems.messages.append(problem.message());
            continue;
        }
        if (problem.jxl != (direction == ConversionMode::jxlToJPEG))
            continue;
        TaskItem task;
        task.sourceURL = problem.placeholderURL();
        task.mode = direction;
        task.status = TaskStatus::failed;
        task.originalSize = problem.size;
        task.errorMessage = problem.reason();
        problems.failedTasks.append(task);
    }
    return problems;
}

bool isRepresentable(const QByteArray &nativeName)
{
    return QFile::encodeName(QFile::decodeName(nativeName)) == nativeName;
}

QString displayPath(const QByteArray &nativePath)
{
    if (isRepresentable(nativePath))
        return QFile::decodeName(nativePath);
    // Decode the longest valid runs; every byte that starts no valid character is escaped.
    QString text;
    qsizetype start = 0;
    qsizetype i = 0;
    const auto flush = [&](qsizetype end) {
        if (end > start)
            text += QString::fromUtf8(nativePath.constData() + start, end - start);
    };
    while (i < nativePath.size()) {
        const quint8 lead = quint8(nativePath[i]);
        const int length = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3
                                                                        : (lead & 0xF8) == 0xF0 ? 4 : 0;
        bool valid = length > 0 && i + length <= nativePath.size();
        if (valid && length > 1)
            valid = isRepresentable(nativePath.mid(i, length));
        if (valid) {
            i += length;
            continue;
        }
        flush(i);
        text += QStringLiteral("\\x") + QString::number(lead, 16).toUpper().rightJustified(2, QLatin1Char('0'));
        start = ++i;
    }
    flush(i);
    return text;
}

ScanResult scan(const QList<QUrl> &urls)
{
    return ScanStream(urls).next(std::numeric_limits<qsizetype>::max());
}

} // namespace FileScanner

// A folder being read: its items, and how far the walk has come through them.
struct ScanStream::Level
{
    QByteArray path; // with a trailing slash
    std::vector<Entry> entries;
    size_t next = 0;
    // The folder's path as text, made once for all its photos.
    QString prefix;
    bool representable = true;
};

ScanStream::ScanStream(const QList<QUrl> &urls)
    : m_urls(urls)
{
}

ScanStream::~ScanStream() = default;

bool ScanStream::atEnd() const
{
    return m_stack.empty() && m_nextUrl >= m_urls.size();
}

// Depth-first, each folder's items in listing order, descending into a subfolder where it is met.
ScanResult ScanStream::next(qsizetype limit)
{
    ScanResult result;
    result.folderURL = m_urls.isEmpty() ? QUrl::fromLocalFile(QStringLiteral("/")) : m_urls.first();
    const auto found = [&result] { return result.jpegFiles.size() + result.jxlFiles.size(); };
    const auto withSlash = [](const QByteArray &path) { return path.endsWith('/') ? path : path + '/'; };
    while (found() < limit && !atEnd()) {
        if (m_stack.empty()) {
            const QUrl &url = m_urls.at(m_nextUrl++);
            const QString local = url.toLocalFile();
            if (local.isEmpty())
                continue;
            const QByteArray path = QFile::encodeName(QDir::cleanPath(local));
            // Follows a link named directly: the user pointed at what it points to.
            struct stat info;
            int error = lstat(path.constData(), &info) == 0 ? 0 : errno;
            const bool link = error == 0 && S_ISLNK(info.st_mode);
            if (link)
                error = stat(path.constData(), &info) == 0 ? 0 : errno;
            if (error != 0) {
                addProblem(result, error == ENOENT || error == ENOTDIR ? ScanProblem::Kind::missing
                                                                       : ScanProblem::Kind::inaccessible,
                           path, error);
                continue;
            }
            if (S_ISDIR(info.st_mode)) {
                if (isPackageName(lastComponent(path)))
                    continue;
                // One shared text for every photo below this root.
                m_rootText = QFile::decodeName(path);
                noteRealFolder(result, m_rootText);
                Level top{withSlash(path), {}, 0, {}, true};
                if (const int error = readFolder(path, top.entries))
                    addProblem(result, ScanProblem::Kind::unreadableFolder, path, error);
                m_stack.push_back(std::move(top));
                continue;
            }
            // Pipes and devices are never photos, and reading one could block the conversion.
            if (!S_ISREG(info.st_mode))
                continue;
            const Kind kind = kindOfName(lastComponent(path));
            if (kind == Kind::other)
                continue;
            // A hidden file named directly is accepted: the user chose it.
            const QString own = QFile::decodeName(path);
            const QString folder = QFileInfo(own).absolutePath();
            if (link) {
                if (const QString real = resolvedPath(path); !real.isEmpty())
                    result.linkTargets.insert(own, real);
            } else {
                noteRealFolder(result, folder);
            }
            append(result, kind, url, info.st_size, folder);
            continue;
        }
        Level &level = m_stack.back();
        if (level.next == level.entries.size()) {
            m_stack.pop_back();
            continue;
        }
        const Entry &entry = level.entries[level.next++];
        if (entry.kind == Kind::folder) {
            Level child{level.path + entry.name + '/', {}, 0, {}, true};
            if (const int error = readFolder(child.path, child.entries))
                addProblem(result, ScanProblem::Kind::unreadableFolder, level.path + entry.name, error);
            if (!child.entries.empty())
                m_stack.push_back(std::move(child)); // may move the level referred to above
            continue;
        }
        if (level.prefix.isEmpty()) {
            level.prefix = QFile::decodeName(level.path);
            level.representable = QFile::encodeName(level.prefix) == level.path;
        }
        // Such a name decodes to replacement characters, which could name another file.
        if (!level.representable || !FileScanner::isRepresentable(entry.name)) {
            addProblem(result, ScanProblem::Kind::undecodableName, level.path + entry.name, 0,
                       entry.kind == Kind::jxl, entry.size);
            continue;
        }
        const QString own = level.prefix + QFile::decodeName(entry.name);
        // Only links cost a look-up: below a root the walk never enters a linked folder.
        if (entry.link) {
            if (const QString real = resolvedPath(level.path + entry.name); !real.isEmpty())
                result.linkTargets.insert(own, real);
        }
        append(result, entry.kind, QUrl::fromLocalFile(own), entry.size, m_rootText);
    }
    return result;
}

void ScanStream::noteRealFolder(ScanResult &result, const QString &folder)
{
    if (folder != m_checkedFolder) {
        m_checkedFolder = folder;
        m_checkedFolderReal = resolvedPath(QFile::encodeName(folder));
    }
    if (!m_checkedFolderReal.isEmpty())
        result.realFolders.insert(folder, m_checkedFolderReal);
}
