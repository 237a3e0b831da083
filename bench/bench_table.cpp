// The job table with 100,000 rows on screen (offscreen platform unless one is set): adding them
// in one import, a batch's job updates arriving in floods while the table is sorted by status
// (every update moves its row), and re-sorting by each column. Prints the longest stretch the
// event loop was blocked for each; the goal is under 50 ms. BENCH_ROWS sets another count.
#include "app/appstate.h"
#include "app/importservice.h"
#include "app/tasklist.h"
#include "app/tasktablemodel.h"
#include "app/workspace.h"
#include "benchsetting.h"
#include "stallmeter.h"
#include "ui/tasksortproxy.h"
#include "ui/tasktableview.h"
#include "ui/windowstate.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHeaderView>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>
#include <functional>

namespace {

constexpr int kDefaultRows = 100000;
// How many job updates reach the GUI thread per event-loop turn in the flood phase.
constexpr int kUpdatesPerTurn = 500;

double milliseconds(qint64 nanoseconds)
{
    return double(nanoseconds) / 1e6;
}

void settle(int ms);

// CPU time of the calling thread: what the GUI thread itself spent, whatever else loads the machine.
double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

// Runs one step on the event loop and reports the longest stall, the GUI thread's CPU time in
// the step, and how long until the table showed its result (a long list sorts off the GUI thread).
void timeStep(const char *label, QObject *context, const TaskSortProxy *proxy, const std::function<void()> &step,
              int expectedRows = -1)
{
    StallMeter meter(context);
    double cpu = 0;
    QElapsedTimer clock;
    qint64 shown = -1;
    meter.start();
    clock.start();
    QTimer::singleShot(0, context, [&] {
        const double before = threadCpuMs();
        step();
        cpu = threadCpuMs() - before;
    });
    settle(1);
    while ((proxy->isSorting() || (expectedRows >= 0 && proxy->rowCount() != expectedRows)) && clock.elapsed() < 30000)
        settle(1);
    shown = clock.nsecsElapsed();
    settle(200);
    std::fflush(stdout);
    std::printf("  %-40s longest stall %7.1f ms  (GUI CPU in the step %6.1f ms, shown after %6.1f ms)\n", label,
                meter.stop(), cpu, milliseconds(shown));
}

void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    qputenv("HOME", QFile::encodeName(home.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path() + QStringLiteral("/.config")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home.path() + QStringLiteral("/.cache")));
    QApplication app(argc, argv);
    const int rows = benchSetting("BENCH_ROWS", kDefaultRows);

    AppState state(BatchFeedback::Devices{});
    WindowState windowState;
    TaskTableView view(state.workspace(), state.imports(), state.tools(), nullptr, &windowState);
    view.resize(900, 640);
    view.show();
    settle(50);
    TaskList *list = state.workspace()->tasks(ConversionMode::jpegToJXL);
    QObject context;
    StallMeter meter(&context);
    std::printf("bench_table: load average at start %s", qPrintable(QString::fromLatin1([] {
        QFile file(QStringLiteral("/proc/loadavg"));
        return file.open(QIODevice::ReadOnly) ? file.readLine() : QByteArray("?\n");
    }())));

    QList<TaskItem> tasks;
    tasks.reserve(rows);
    for (int i = 0; i < rows; ++i) {
        TaskItem task;
        task.sourceURL = QUrl::fromLocalFile(QStringLiteral("/photos/%1/day %2/IMG_%3.jpg").arg(2000 + i / 1000).arg(i / 100 % 10).arg(i));
        task.originalSize = 1'000'000 + (i * 7919) % 9'000'000;
        tasks.append(task);
    }
    std::printf("bench_table: %d rows, table %dx%d\n", rows, view.width(), view.height());

    // One import's merge, as the state makes it: a chunk of jobs per turn of the event loop, the
    // table sorted by name.
    qsizetype appended = 0;
    std::function<void()> appendChunk = [&] {
        list->append(tasks.mid(appended, ImportService::kMergeChunk));
        appended += ImportService::kMergeChunk;
        if (appended < tasks.size())
            QMetaObject::invokeMethod(&context, appendChunk, Qt::QueuedConnection);
    };
    timeStep("add all rows (table sorted by name)", &context, view.sortProxy(), appendChunk, rows);
    QElapsedTimer clock;
    if (view.model()->rowCount() != rows)
        return 1;

    // A batch under a flood: each job goes processing, then completed, sorted by status so
    // that every update moves its row.
    view.sortByColumn(TaskTableModel::StatusColumn, Qt::AscendingOrder);
    settle(50);
    int next = 0;
    QTimer pump;
    int turns = 0;
    QObject::connect(&pump, &QTimer::timeout, &context, [&] {
        ++turns;
        for (int i = 0; i < kUpdatesPerTurn && next < 2 * rows; ++i, ++next) {
            TaskItem task = list->at(next % rows);
            if (next < rows) {
                task.status = TaskStatus::processing;
            } else {
                task.status = TaskStatus::completed;
                task.compressedSize = task.originalSize * 4 / 5;
                task.duration = 1.5;
            }
            list->replace(task);
        }
        if (next >= 2 * rows)
            pump.stop();
    });
    meter.start();
    clock.start();
    pump.start(1);
    while (pump.isActive())
        settle(20);
    settle(100);
    std::printf("  %d job updates, %d per turn (flood)  longest stall %7.1f ms  (%.1f s in all)\n", 2 * rows,
                kUpdatesPerTurn, meter.stop(), milliseconds(clock.nsecsElapsed()) / 1000.0);

    // The same, slowly: a handful of updates per turn, as a real batch sends them.
    next = 0;
    meter.start();
    clock.start();
    for (int turn = 0; turn < 200; ++turn) {
        TaskItem task = list->at(turn * 97 % rows);
        task.status = turn % 2 ? TaskStatus::completed : TaskStatus::processing;
        list->replace(task);
        settle(2);
    }
    std::printf("  200 single job updates, 2 ms apart       longest stall %7.1f ms\n", meter.stop());

    // Clicking each column header.
    for (int column = 0; column < TaskTableModel::ColumnCount; ++column) {
        for (const Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
            const QByteArray label = QStringLiteral("sort by %1, %2")
                                         .arg(view.model()->headerData(column, Qt::Horizontal).toString(),
                                              order == Qt::AscendingOrder ? QStringLiteral("ascending")
                                                                          : QStringLiteral("descending"))
                                         .toUtf8();
            timeStep(label.constData(), &context, view.sortProxy(), [&] { view.horizontalHeader()->setSortIndicator(column, order); });
        }
    }
    timeStep("select all", &context, view.sortProxy(), [&] { view.selectAll(); });
    // Removals reach the sorted table one run of neighbouring rows at a time, each costing the
    // proxy a pass over its mapping: scattered rows are the expensive case.
    timeStep("remove 1,000 scattered rows", &context, view.sortProxy(), [&] {
        QSet<QUuid> ids;
        for (qsizetype i = 0; i < list->size() && ids.size() < 1000; i += 97)
            ids.insert(list->at(i).id);
        list->remove(ids);
    });
    timeStep("remove the first half (one run)", &context, view.sortProxy(), [&] {
        QSet<QUuid> ids;
        for (qsizetype i = 0; i < list->size() / 2; ++i)
            ids.insert(list->at(i).id);
        list->remove(ids);
    });
    return 0;
}
