// Imports a generated library of 100,000 JPEG names (BENCH_FILES sets another count) through the
// import service, then the same folder again into the full list, timing each import and the
// longest stretch the event loop was blocked (a 10 ms timer that cannot tick while the merge
// runs). Then times a job update per row.
#include "app/appstate.h"
#include "app/importservice.h"
#include "app/tasklist.h"
#include "app/tasktablemodel.h"
#include "app/workspace.h"
#include "benchsetting.h"
#include "stallmeter.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kSubfolders = 10;
constexpr int kFilesPerFolder = 100;
constexpr int kDefaultFiles = 100000;
constexpr int kTickMs = 10;

// Thrown to leave the benchmark with its temporary folder removed.
struct Failure
{
    const char *message;
};

[[noreturn]] void fail(const char *message)
{
    throw Failure{message};
}

bool writeSmallFile(const QByteArray &path)
{
    const int fd = open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    static const char bytes[] = "\xff\xd8\xff\xe0 not a photo";
    const bool ok = write(fd, bytes, sizeof bytes - 1) == qsizetype(sizeof bytes - 1);
    return close(fd) == 0 && ok;
}

// Folders of 100 photos, ten to a year: library/2000/day 1/IMG_0.jpg ...
bool generate(const QString &root, int files)
{
    QByteArray base;
    for (int index = 0; index < files; ++index) {
        if (index % kFilesPerFolder == 0) {
            const int folderIndex = index / kFilesPerFolder;
            const QString folder = QStringLiteral("%1/%2/day %3")
                                       .arg(root)
                                       .arg(2000 + folderIndex / kSubfolders)
                                       .arg(folderIndex % kSubfolders + 1);
            if (!QDir().mkpath(folder))
                return false;
            base = QFile::encodeName(folder);
        }
        if (!writeSmallFile(base + "/IMG_" + QByteArray::number(index) + ".jpg"))
            return false;
    }
    return true;
}

double milliseconds(qint64 nanoseconds)
{
    return double(nanoseconds) / 1e6;
}

struct ImportTimes
{
    int added = -1;
    qint64 total = 0; // importURLs to importFinished
    qint64 merge = 0; // the merge on the event loop's thread
    double longestStallMs = 0;
};

ImportTimes timeImport(ImportService &imports, const QString &root, QObject *context)
{
    ImportTimes times;
    QEventLoop loop;
    QElapsedTimer mergeClock;
    const QMetaObject::Connection scanned =
        QObject::connect(&imports, &ImportService::currentScanResultChanged, context, [&] { mergeClock.start(); });
    const QMetaObject::Connection finished = QObject::connect(&imports, &ImportService::importFinished, context, [&](int added) {
        times.merge = mergeClock.nsecsElapsed();
        times.added = added;
        loop.quit();
    });
    StallMeter stalls(context, kTickMs);
    stalls.start();
    QElapsedTimer clock;
    clock.start();
    imports.importURLs({QUrl::fromLocalFile(root)});
    if (times.added < 0) // not already delivered inside the call
        loop.exec();
    times.total = clock.nsecsElapsed();
    times.longestStallMs = stalls.stop();
    QObject::disconnect(scanned);
    QObject::disconnect(finished);
    return times;
}

void printImport(const char *label, const ImportTimes &times)
{
    std::printf("  %-34s %8.1f ms  (%d added; merge %.1f ms; longest event-loop stall %.1f ms)\n", label,
                milliseconds(times.total), times.added, milliseconds(times.merge), times.longestStallMs);
}

// One update per row, as finished jobs report them.
qint64 timeUpdates(TaskList *list, TaskStatus status)
{
    QList<TaskItem> updates = list->items();
    for (TaskItem &task : updates) {
        task.status = status;
        task.compressedSize = task.originalSize * 4 / 5;
        task.destinationURL = task.sourceURL;
    }
    QElapsedTimer clock;
    clock.start();
    for (const TaskItem &task : std::as_const(updates)) {
        if (!list->replace(task))
            fail("a job update found no row");
    }
    return clock.nsecsElapsed();
}

} // namespace

int run(int argc, char **argv)
{
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/pikora-bench-import-XXXXXX"));
    if (!dir.isValid())
        fail("cannot make a temporary folder");
    // The state reads and writes settings and counters: keep them out of the user's folders.
    const QByteArray home = QFile::encodeName(dir.path() + QStringLiteral("/home"));
    QDir().mkpath(QFile::decodeName(home));
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", home + "/.config");
    qputenv("XDG_DATA_HOME", home + "/.local/share");
    qputenv("XDG_CACHE_HOME", home + "/.cache");
    qputenv("XDG_STATE_HOME", home + "/.local/state");

    QCoreApplication app(argc, argv);
    QObject context;
    const int files = benchSetting("BENCH_FILES", kDefaultFiles);
    const QString library = dir.path() + QStringLiteral("/library");
    QElapsedTimer clock;
    clock.start();
    if (!generate(library, files))
        fail("cannot generate the test library");
    std::printf("bench_import: %d files generated in %.0f ms\n", files, milliseconds(clock.nsecsElapsed()));

    AppState state(BatchFeedback::Devices{});
    TaskList *list = state.workspace()->tasks(ConversionMode::jpegToJXL);

    const ImportTimes first = timeImport(*state.imports(), library, &context);
    printImport("import into an empty list", first);
    if (first.added != files || list->size() != files)
        fail("the first import did not add every file");

    const ImportTimes again = timeImport(*state.imports(), library, &context);
    printImport("same folder again, all listed", again);
    if (again.added != 0 || list->size() != files)
        fail("the second import added duplicates");

    const qint64 updates = timeUpdates(list, TaskStatus::completed);
    std::printf("  TaskList::replace, once per job   %8.1f ms  (%.2f us each)\n", milliseconds(updates),
                milliseconds(updates) * 1000.0 / files);
    TaskTableModel model;
    model.setList(list);
    const qint64 modelUpdates = timeUpdates(list, TaskStatus::failed);
    std::printf("  ... with a table model attached   %8.1f ms  (%.2f us each)\n", milliseconds(modelUpdates),
                milliseconds(modelUpdates) * 1000.0 / files);
    return 0;
}

int main(int argc, char **argv)
{
    try {
        return run(argc, argv);
    } catch (const Failure &failure) {
        std::fprintf(stderr, "bench_import: %s\n", failure.message);
        return 1;
    }
}
