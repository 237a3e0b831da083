#pragma once

#include "model/taskitem.h"

#include <QHash>
#include <QList>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <vector>

// Something given to a scan, or met on the way, that could not be looked at.
struct ScanProblem
{
    enum class Kind {
        missing,          // nothing exists at a given path
        inaccessible,     // a given path cannot be looked at (a folder on the way is closed)
        unreadableFolder, // a folder that cannot be listed; what it holds is not in the result
        undecodableName,  // a photo whose name is not valid UTF-8: no text path can name it safely
    };

    Kind kind = Kind::missing;
    // For display only: bytes that are not UTF-8 appear as \xNN. Never open a file by it.
    QString path;
    int error = 0;      // errno of missing, inaccessible, unreadableFolder
    bool jxl = false;   // undecodableName: a JPEG XL name, else a JPEG name
    qint64 size = TaskItem::kUnknownSize; // undecodableName: the photo's size when it could be read

    // The text shown for it, in the user's language, the path included.
    QString message() const;
    // Why it cannot be taken, without the path (a job's row or line names the file already).
    QString reason() const;
    // For undecodableName: a stand-in source that shows the photo's name and path but is not a
    // file URL, so nothing can open it or take it for the file whose name it displays.
    QUrl placeholderURL() const;

    bool operator==(const ScanProblem &other) const = default;
};

// The JPEG and JPEG XL files found in one import, with their byte totals.
struct ScanResult
{
    QUrl folderURL;
    QList<QUrl> jpegFiles;
    QList<QUrl> jxlFiles;
    // Byte sizes in the order of jpegFiles and jxlFiles, as the walk read them;
    // TaskItem::kUnknownSize where the file system would not say.
    QList<qint64> jpegSizes;
    QList<qint64> jxlSizes;
    // The import root of each file, in the order of jpegFiles and jxlFiles: the folder named in
    // the scan that it was found under, or a file's own folder when the file was named itself.
    QStringList jpegRoots;
    QStringList jxlRoots;
    // Of the sizes that are known.
    qint64 totalJPEGBytes = 0;
    qint64 totalJXLBytes = 0;
    QList<ScanProblem> problems;
    // Where a symbolic link was on the way, by path as listed: each photo that is a link itself,
    // with the real path of the file it names, and each folder an import root names through a
    // link (a folder named, or the folder of a file named), with its real path. Empty for a
    // tree without links, so an ordinary import carries nothing more.
    QHash<QString, QString> linkTargets;
    QHash<QString, QString> realFolders;

    // Lossless recompression saves about a quarter of the JPEG bytes; truncated toward zero.
    qint64 estimatedSavedBytes() const;
    // The file a listed photo is, as its path with every symbolic link on the way resolved: two
    // ways to one file give one text. `path` is its standardized path, `root` its import root.
    QString realPath(const QString &path, const QString &root) const;
};

// Expands dropped files and folders into the photos they hold. Stateless and thread-safe:
// callers run scan() through QtConcurrent, never on the GUI thread.
namespace FileScanner {

const QStringList &jpegExtensions();
const QStringList &jxlExtensions();

// Folders are walked to any depth, skipping hidden items, packages and symbolic links to
// folders. Files keep the given order (inside a folder, the walk order); nothing is
// de-duplicated here (forEachPhoto tells which listed paths are one file). A file whose size cannot be read is listed with an unknown size. Missing paths,
// folders that cannot be read and photos whose names are not UTF-8 go to `problems`, never
// to the file lists.
ScanResult scan(const QList<QUrl> &urls);

// Hands over the photos of one direction in scan order, each with its standardized path and its
// real path, for the caller to make one job per real path. A photo that is a symbolic link is
// passed over when the file it names is in the same result under a path that is not a link: a
// job on the photo itself can dispose of it as asked, one on a link cannot. Hard links are each
// the photo itself, and are handed over one by one.
using PhotoVisitor = std::function<void(qsizetype index, const QString &path, const QString &realPath)>;
void forEachPhoto(const ScanResult &result, ConversionMode direction, const PhotoVisitor &visit);

// How an import of one direction reports a scan's problems.
struct ImportProblems
{
    // One failed job per photo of that direction whose name is not UTF-8; none can ever run.
    QList<TaskItem> failedTasks;
    // Missing paths, paths that cannot be looked at and folders that cannot be read.
    QStringList messages;
};
// Photos of the other direction whose names are not UTF-8 are left out, as the other
// direction's files are.
ImportProblems importProblems(const ScanResult &result, ConversionMode direction);

// Whether a file name survives the trip through QString unchanged.
bool isRepresentable(const QByteArray &nativeName);
// A native path as text, bytes that are not UTF-8 written as \xNN.
QString displayPath(const QByteArray &nativePath);

} // namespace FileScanner

// Walks files and folders a part at a time, in the order scan() lists them, so a caller can
// start on the first photos while the rest are unread and never holds the whole list. One
// thread at a time; nothing is de-duplicated.
class ScanStream final
{
    Q_DISABLE_COPY_MOVE(ScanStream)

public:
    explicit ScanStream(const QList<QUrl> &urls);
    ~ScanStream();

    // The next photos, at most limit of them (JPEG and JPEG XL together), with the problems
    // met on the way to them.
    ScanResult next(qsizetype limit);
    bool atEnd() const;

private:
    struct Level;
    void noteRealFolder(ScanResult &result, const QString &folder);

    QList<QUrl> m_urls;
    qsizetype m_nextUrl = 0;
    QString m_rootText;
    std::vector<Level> m_stack;
    // The last folder whose real path was asked for: files named one by one mostly share one.
    QString m_checkedFolder;
    QString m_checkedFolderReal;
};
