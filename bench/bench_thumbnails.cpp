// Thumbnails for the job table (offscreen platform unless one is set): the first screen of 20
// rows of 12-megapixel JPEGs carrying an embedded Exif thumbnail as cameras write them, the same
// without one (each decoded), then with the desktop's shared thumbnail cache filled, and scrolling a 10,000-row list page by page while thumbnails are decoded. Prints how long
// each took and the longest stretch the event loop was blocked (scrolling must never wait on a
// decode). BENCH_KEEP keeps the temporary folder.
#include "app/appstate.h"
#include "app/tasklist.h"
#include "app/workspace.h"
#include "exifjpeg.h"
#include "stallmeter.h"
#include "ui/taskrowdelegate.h"
#include "ui/tasktableview.h"
#include "ui/thumbnailcache.h"
#include "ui/thumbnailer.h"
#include "ui/windowstate.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtConcurrent>

#include <cstdio>
#include <ctime>
#include <unistd.h>

namespace {

constexpr int kPhotos = 20;
constexpr int kScrollRows = 10000;

// CPU time of the calling thread: what the GUI thread itself spent, whatever else loads the machine.
double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// A 12-megapixel photo-like JPEG (a gradient with a pattern and noise, about 4-6 MB) written twice:
// as it is, and with a 160x120 Exif thumbnail as a camera embeds it.
bool writePhoto(const QString &plainPath, const QString &exifPath, int seed)
{
    QImage image(4000, 3000, QImage::Format_RGB32);
    QRandomGenerator random{quint32(seed)};
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int noise = int(random.bounded(24));
            line[x] = qRgb((x / 16 + seed * 40 + noise) & 0xff, (y / 12 + noise) & 0xff, ((x + y) / 32 + seed * 9) & 0xff);
        }
    }
    const QByteArray plain = ExifJpeg::jpeg(image, 90);
    const QByteArray thumbnail = ExifJpeg::jpeg(image.scaled(160, 120, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), 85);
    QFile plainFile(plainPath);
    QFile exifFile(exifPath);
    return !plain.isEmpty() && plainFile.open(QIODevice::WriteOnly) && plainFile.write(plain) == plain.size()
        && exifFile.open(QIODevice::WriteOnly)
        && exifFile.write(ExifJpeg::withExif(plain, {false, 1, thumbnail, {}, {}, {}})) > plain.size();
}

TaskItem taskFor(const QString &path)
{
    TaskItem task;
    task.sourceURL = QUrl::fromLocalFile(path);
    task.originalSize = 5'000'000;
    return task;
}

struct ScreenTimes
{
    double milliseconds = 0;
    double longestStall = 0;
    int made = 0;
};

// Shows the rows and waits until every row on screen has its thumbnail.
ScreenTimes firstScreen(TaskTableView &view, ThumbnailCache &cache, int wanted, QObject *context)
{
    StallMeter meter(context);
    int ready = 0;
    const auto counting = QObject::connect(&cache, &ThumbnailCache::thumbnailReady, context, [&] { ++ready; });
    QElapsedTimer clock;
    meter.start();
    clock.start();
    view.viewport()->repaint();
    while (ready < wanted && clock.elapsed() < 30000)
        settle(1);
    QObject::disconnect(counting);
    ScreenTimes times;
    times.milliseconds = double(clock.nsecsElapsed()) / 1e6;
    times.longestStall = meter.stop();
    times.made = ready;
    return times;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/pikora-bench-thumbnails-XXXXXX"));
    dir.setAutoRemove(qEnvironmentVariableIsEmpty("BENCH_KEEP"));
    const QString home = dir.path() + QStringLiteral("/home");
    QDir().mkpath(home);
    qputenv("HOME", QFile::encodeName(home));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/.config")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home + QStringLiteral("/.cache")));
    QApplication app(argc, argv);
    QObject context;

    const QString photos = dir.path() + QStringLiteral("/photos");
    const QString exifPhotos = dir.path() + QStringLiteral("/exif");
    QDir().mkpath(photos);
    QDir().mkpath(exifPhotos);
    QStringList paths;
    QStringList exifPaths;
    for (int i = 0; i < kPhotos; ++i) {
        paths.append(QStringLiteral("%1/IMG_%2.jpg").arg(photos).arg(i, 4, 10, QLatin1Char('0')));
        exifPaths.append(QStringLiteral("%1/IMG_%2.jpg").arg(exifPhotos).arg(i, 4, 10, QLatin1Char('0')));
    }
    QElapsedTimer clock;
    clock.start();
    const QList<bool> written = QtConcurrent::blockingMapped(paths, [&](const QString &path) {
        const int index = int(paths.indexOf(path));
        return writePhoto(path, exifPaths.at(index), index);
    });
    if (written.contains(false)) {
        std::fprintf(stderr, "bench_thumbnails: cannot write the photos\n");
        return 1;
    }
    std::printf("bench_thumbnails: %d JPEGs of 4000x3000 (%.1f MB), with and without an Exif thumbnail, written in %.1f s;"
                " %d threads\n",
                kPhotos, double(QFileInfo(paths.first()).size()) * kPhotos / 1e6, double(clock.elapsed()) / 1000.0,
                QThread::idealThreadCount());

    {
        // One decode's own cost, apart from the machine's load: a 1/8-scale JPEG decode.
        double best = 1e9;
        for (int round = 0; round < 3; ++round) {
            const double before = threadCpuMs();
            const QImage image = Thumbnailer::decode(paths.at(round), Thumbnailer::kNormalSize);
            best = std::min(best, threadCpuMs() - before);
            if (image.isNull())
                return 1;
        }
        std::printf("  one 12 MP JPEG to a 128 px picture          %7.1f ms CPU (best of 3)\n", best);
    }
    {
        // All a thumbnail costs when the photo embeds one: the shared cache looked up, the head read.
        double best = 1e9;
        for (int round = 0; round < 3; ++round) {
            const double before = threadCpuMs();
            const Thumbnailer::Result result = Thumbnailer::make(exifPaths.at(round), TaskRowDelegate::kThumbnailSize);
            best = std::min(best, threadCpuMs() - before);
            if (!result.fromExif)
                return 1;
        }
        std::printf("  one thumbnail from the embedded Exif one     %7.1f ms CPU (best of 3)\n", best);
    }

    AppState state(BatchFeedback::Devices{});
    WindowState windowState;
    TaskList *list = state.workspace()->tasks(ConversionMode::jpegToJXL);
    const auto show = [&](const QStringList &files) {
        state.workspace()->clearCurrentTasks();
        QList<TaskItem> tasks;
        for (const QString &path : files)
            tasks.append(taskFor(path));
        list->append(tasks);
    };

    // Without a cache of its own: each measured decode has the cores to itself.
    TaskTableView view(state.workspace(), state.imports(), state.tools(), nullptr, &windowState);
    view.resize(900, 22 * 34 + 30);
    view.show();
    settle(50);

    const auto measure = [&](const QStringList &files, const char *what) {
        show(files);
        settle(50);
        ThumbnailCache cache; // a new process each time: only the desktop's shared cache is kept
        view.setThumbnailCache(&cache);
        const ScreenTimes times = firstScreen(view, cache, kPhotos, &context);
        std::printf("  first screen, %-30s %7.1f ms  (%d thumbnails, longest stall %.1f ms)\n", what,
                    times.milliseconds, times.made, times.longestStall);
        view.setThumbnailCache(nullptr);
    };
    measure(exifPaths, "Exif thumbnails, no cache");
    measure(paths, "no Exif, no cache (decoded)");
    measure(paths, "from the shared cache");

    // 10,000 rows, each a file of its own (links to the photos, so each needs its own thumbnail).
    const auto scroll = [&](const QStringList &targets, const QString &folder, const char *what) {
        QStringList linked;
        QDir().mkpath(folder);
        for (int i = 0; i < kScrollRows; ++i) {
            const QString link = QStringLiteral("%1/L%2.jpg").arg(folder).arg(i, 5, 10, QLatin1Char('0'));
            if (::symlink(QFile::encodeName(targets.at(i % kPhotos)).constData(), QFile::encodeName(link).constData()) != 0)
                return false;
            linked.append(link);
        }
        show(linked);
        view.verticalScrollBar()->setValue(0);
        ThumbnailCache scrolling;
        view.setThumbnailCache(&scrolling);
        int made = 0;
        QObject::connect(&scrolling, &ThumbnailCache::thumbnailReady, &context, [&] { ++made; });
        settle(50);
        StallMeter meter(&context);
        QScrollBar *bar = view.verticalScrollBar();
        int pages = 0;
        double longestScroll = 0;
        double longestScrollCpu = 0;
        meter.start();
        QElapsedTimer clock;
        clock.start();
        while (bar->value() < bar->maximum()) {
            QElapsedTimer step;
            step.start();
            const double cpu = threadCpuMs();
            bar->setValue(bar->value() + bar->pageStep());
            view.viewport()->repaint();
            longestScroll = std::max(longestScroll, double(step.nsecsElapsed()) / 1e6);
            longestScrollCpu = std::max(longestScrollCpu, threadCpuMs() - cpu);
            ++pages;
            settle(16);
        }
        const double scrollTime = double(clock.elapsed());
        const double stall = meter.stop();
        while (scrolling.runningCount() > 0)
            settle(5);
        std::printf("  scroll %d rows %-14s %d pages every 16 ms %7.1f ms  (longest page %.1f ms wall, %.1f ms GUI CPU;"
                    " longest stall %.1f ms; %d thumbnails made on the way)\n",
                    kScrollRows, what, pages, scrollTime, longestScroll, longestScrollCpu, stall, made);
        view.setThumbnailCache(nullptr);
        return true;
    };
    if (!scroll(paths, dir.path() + QStringLiteral("/links"), "(decoded),")
        || !scroll(exifPaths, dir.path() + QStringLiteral("/exif-links"), "(Exif),"))
        return 1;
    return 0;
}
