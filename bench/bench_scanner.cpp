// Times FileScanner::scan on a generated library of 100,000 files against `find -type f`.
#include "engine/filescanner.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

constexpr int kFolders = 100;
constexpr int kSubfolders = 10;
constexpr int kFilesPerFolder = 100;
constexpr int kRuns = 3;

struct Library
{
    int files = 0;
    int visibleJpegs = 0;
};

bool writeSmallFile(const QByteArray &path)
{
    const int fd = open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    static const char bytes[] = "0123456789abcdef";
    const bool ok = write(fd, bytes, 16) == 16;
    return close(fd) == 0 && ok;
}

// Nested folders of .jpg/.JPEG/.jxl/.png; one file in 500 is hidden, and one hidden folder
// per top folder holds photos the scanner must not see.
bool generate(const QString &root, Library *library)
{
    static const char *const extensions[] = {"jpg", "JPEG", "jxl", "png"};
    for (int top = 0; top < kFolders; ++top) {
        for (int sub = 0; sub < kSubfolders; ++sub) {
            const bool hiddenFolder = sub == kSubfolders - 1 && top % 10 == 0;
            const QString folder = QStringLiteral("%1/event %2/%3%4")
                                       .arg(root)
                                       .arg(top)
                                       .arg(hiddenFolder ? QStringLiteral(".cache") : QStringLiteral("roll"))
                                       .arg(sub);
            if (!QDir().mkpath(folder))
                return false;
            const QByteArray base = QFile::encodeName(folder);
            for (int i = 0; i < kFilesPerFolder; ++i) {
                const int index = library->files++;
                const bool hidden = hiddenFolder || index % 500 == 0;
                const char *extension = extensions[index % 4];
                const QByteArray name = (index % 500 == 0 ? "/.IMG_" : "/IMG_") + QByteArray::number(index) + '.' + extension;
                if (!writeSmallFile(base + name))
                    return false;
                if (!hidden && index % 4 < 2)
                    ++library->visibleJpegs;
            }
        }
    }
    return true;
}

qint64 bestOf(const std::function<void()> &run)
{
    qint64 best = std::numeric_limits<qint64>::max();
    for (int i = 0; i < kRuns; ++i) {
        QElapsedTimer timer;
        timer.start();
        run();
        best = std::min(best, timer.nsecsElapsed());
    }
    return best;
}

QByteArray runFind(const QStringList &arguments, bool discardOutput)
{
    QProcess find;
    if (discardOutput)
        find.setStandardOutputFile(QProcess::nullDevice());
    find.start(QStringLiteral("find"), arguments);
    if (!find.waitForFinished(-1) || find.exitCode() != 0) {
        std::fprintf(stderr, "find failed\n");
        std::exit(1);
    }
    return find.readAllStandardOutput();
}

// Roughly the same walk with Qt's iterator (no package rule), to show what the POSIX walk buys.
ScanResult scanWithDirIterator(const QString &root)
{
    ScanResult result;
    QDirIterator it(root, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        if (!info.isFile())
            continue;
        const QString suffix = info.suffix();
        if (FileScanner::jpegExtensions().contains(suffix)) {
            result.jpegFiles.append(QUrl::fromLocalFile(info.filePath()));
            result.totalJPEGBytes += info.size();
        } else if (FileScanner::jxlExtensions().contains(suffix)) {
            result.jxlFiles.append(QUrl::fromLocalFile(info.filePath()));
            result.totalJXLBytes += info.size();
        }
    }
    return result;
}

double milliseconds(qint64 nanoseconds)
{
    return double(nanoseconds) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir(QStringLiteral("/tmp/pikora-bench-scanner-XXXXXX"));
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot make a temporary folder\n");
        return 1;
    }
    Library library;
    QElapsedTimer timer;
    timer.start();
    if (!generate(dir.path(), &library)) {
        std::fprintf(stderr, "cannot generate the test library\n");
        return 1;
    }
    std::printf("bench_scanner: %d files generated in %.0f ms\n", library.files, milliseconds(timer.nsecsElapsed()));

    ScanResult result;
    const QList<QUrl> urls{QUrl::fromLocalFile(dir.path())};
    const qint64 scanTime = bestOf([&] { result = FileScanner::scan(urls); });
    const qint64 findTime = bestOf([&] { runFind({dir.path(), QStringLiteral("-type"), QStringLiteral("f")}, true); });
    // Like for like: find reading every file's size, as the scanner must for its totals.
    const qint64 findSizeTime = bestOf([&] {
        runFind({dir.path(), QStringLiteral("-type"), QStringLiteral("f"), QStringLiteral("-printf"), QStringLiteral("%s\\n")},
                true);
    });
    ScanResult iterated;
    const qint64 iteratorTime = bestOf([&] { iterated = scanWithDirIterator(dir.path()); });

    const QByteArray listed = runFind({dir.path(), QStringLiteral("-name"), QStringLiteral(".*"), QStringLiteral("-prune"),
                                       QStringLiteral("-o"), QStringLiteral("-type"), QStringLiteral("f"),
                                       QStringLiteral("("), QStringLiteral("-name"), QStringLiteral("*.jpg"),
                                       QStringLiteral("-o"), QStringLiteral("-name"), QStringLiteral("*.jpeg"),
                                       QStringLiteral("-o"), QStringLiteral("-name"), QStringLiteral("*.JPG"),
                                       QStringLiteral("-o"), QStringLiteral("-name"), QStringLiteral("*.JPEG"),
                                       QStringLiteral(")"), QStringLiteral("-print")},
                                      false);
    const qsizetype findJpegs = listed.count('\n');

    std::printf("  FileScanner::scan          %8.1f ms  (%lld JPEG, %lld JXL, best of %d)\n", milliseconds(scanTime),
                static_cast<long long>(result.jpegFiles.size()), static_cast<long long>(result.jxlFiles.size()), kRuns);
    std::printf("  find -type f               %8.1f ms  (best of %d)\n", milliseconds(findTime), kRuns);
    std::printf("  find -type f -printf %%s   %8.1f ms  (best of %d; reads every size)\n", milliseconds(findSizeTime), kRuns);
    std::printf("  QDirIterator walk          %8.1f ms  (%lld JPEG, best of %d; for comparison)\n", milliseconds(iteratorTime),
                static_cast<long long>(iterated.jpegFiles.size()), kRuns);
    std::printf("  scan / find               %8.2f\n", double(scanTime) / double(findTime));
    std::printf("  scan / find -printf       %8.2f\n", double(scanTime) / double(findSizeTime));
    std::printf("  JPEGs: scanner %lld, find -name %lld, generated %d\n", static_cast<long long>(result.jpegFiles.size()),
                static_cast<long long>(findJpegs), library.visibleJpegs);
    if (result.jpegFiles.size() != findJpegs || findJpegs != library.visibleJpegs) {
        std::fprintf(stderr, "bench_scanner: JPEG counts differ\n");
        return 1;
    }
    return 0;
}
