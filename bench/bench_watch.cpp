// A watcher over time: pikora-cli watch runs with a stand-in encoder while photos are dropped into
// its folders in batches (each batch also in a new sub-folder). After each batch is converted,
// the watcher's resident memory is read (it should stay flat) and its CPU time is measured over
// some idle seconds (it should be 0 ticks: nothing polls while inotify serves).
//
// bench_watch [PIKORA_CLI]   (default: ../src/pikora-cli beside this program)
// BENCH_PHOTOS photos in all (default 10000), BENCH_BATCHES batches (default 10),
// BENCH_IDLE idle seconds measured after each batch (default 3).
#include "benchsetting.h"
#include "clibench.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <unistd.h>

using CliBench::fail;
using CliBench::kFakeEncoder;
using CliBench::writeFile;

namespace {

constexpr int kFolders = 4;

// User and system clock ticks the process has used (fields 14 and 15 of /proc/PID/stat).
qint64 cpuTicks(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read /proc/%1/stat").arg(pid));
    const QByteArray stat = file.readAll();
    // The name in parentheses may hold spaces: count the fields after its closing one.
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toLongLong() + fields.value(12).toLongLong();
}

qint64 residentKiB(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("cannot read /proc/%1/status").arg(pid));
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// Reads the watcher's output until it has reported count jobs in all.
void waitForJobs(QProcess &watcher, QByteArray &out, qsizetype count, int timeoutSeconds)
{
    QElapsedTimer clock;
    clock.start();
    while (out.count('\n') < count) {
        if (watcher.state() == QProcess::NotRunning)
            fail(QStringLiteral("pikora-cli watch ended: ") + QString::fromLocal8Bit(watcher.readAllStandardError()));
        if (clock.elapsed() > timeoutSeconds * 1000)
            fail(QStringLiteral("%1 of %2 jobs reported after %3 s").arg(out.count('\n')).arg(count).arg(timeoutSeconds));
        watcher.waitForReadyRead(1000);
        out += watcher.readAllStandardOutput();
    }
}

int run(int argc, char **argv)
{
    const QString cli = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                 : QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../src/pikora-cli"));
    if (!QFileInfo(cli).isExecutable())
        fail(QStringLiteral("no pikora-cli at ") + cli);
    const int photos = benchSetting("BENCH_PHOTOS", 10000);
    const int batches = std::min(benchSetting("BENCH_BATCHES", 10), photos);
    const int idleSeconds = benchSetting("BENCH_IDLE", 3);

    QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/pikora-bench-watch-XXXXXX"));
    if (!dir.isValid())
        fail(QStringLiteral("cannot make a temporary folder"));
    const QProcessEnvironment environment = CliBench::isolatedEnvironment(dir.path());
    const QString encoder = dir.path() + QStringLiteral("/cjxl");
    writeFile(encoder, kFakeEncoder);
    QFile::setPermissions(encoder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    QStringList folders;
    for (int i = 0; i < kFolders; ++i) {
        folders.append(dir.path() + QStringLiteral("/watched%1").arg(i));
        QDir().mkpath(folders.last());
    }

    QProcess watcher;
    watcher.setProcessEnvironment(environment);
    watcher.start(cli, QStringList{QStringLiteral("watch"), QStringLiteral("--json"), QStringLiteral("-j"),
                                   QStringLiteral("2"), QStringLiteral("-o"), QStringLiteral("keep"),
                                   QStringLiteral("--settle"), QStringLiteral("0.2"), QStringLiteral("--cjxl"), encoder}
                           + folders);
    if (!watcher.waitForStarted(-1))
        fail(QStringLiteral("cannot start ") + cli);
    const qint64 pid = watcher.processId();
    // The start line (on standard error with --json) says the folders are watched.
    watcher.setReadChannel(QProcess::StandardError);
    if (!watcher.canReadLine() && !watcher.waitForReadyRead(30000))
        fail(QStringLiteral("pikora-cli watch did not start: ") + QString::fromLocal8Bit(watcher.readAllStandardError()));
    watcher.readAllStandardError();
    watcher.setReadChannel(QProcess::StandardOutput);

    std::printf("bench_watch: pikora-cli watch -j 2 with a stand-in encoder, %d photos in %d batches over %d folders\n",
                photos, batches, kFolders);
    std::printf("  %7s %7s %9s %10s %16s\n", "batch", "photos", "convert", "VmRSS", "idle CPU ticks");
    const auto measureIdle = [&] {
        const qint64 before = cpuTicks(pid);
        QThread::sleep(idleSeconds); // the measurement itself: how much CPU a quiet watcher takes
        return cpuTicks(pid) - before;
    };
    std::printf("  %7s %7d %9s %7lld KiB %10lld in %d s\n", "start", 0, "-", residentKiB(pid), measureIdle(),
                idleSeconds);
    std::fflush(stdout);

    QByteArray out;
    QByteArray jpeg(400, 'j');
    jpeg.replace(0, 3, QByteArrayView("\xFF\xD8\xFF", 3));
    int written = 0;
    for (int batch = 0; batch < batches; ++batch) {
        const int count = photos / batches + (batch < photos % batches ? 1 : 0);
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < count; ++i, ++written) {
            // Every other photo goes into a sub-folder made for the batch, found as it appears.
            QString folder = folders.at(written % kFolders);
            if (i % 2 == 1) {
                folder += QStringLiteral("/batch%1").arg(batch);
                QDir().mkpath(folder);
            }
            const QByteArray number = QByteArray::number(written);
            writeFile(folder + QStringLiteral("/IMG_%1.jpg").arg(written, 6, 10, QLatin1Char('0')),
                      jpeg.left(jpeg.size() - number.size()) + number);
        }
        waitForJobs(watcher, out, written, 600);
        const double seconds = double(clock.nsecsElapsed()) / 1e9;
        if (out.count("\"status\":\"completed\"") != written)
            fail(QStringLiteral("not every job completed: ") + QString::fromUtf8(out.right(2000)));
        const qint64 rss = residentKiB(pid);
        std::printf("  %7d %7d %8.1fs %7lld KiB %10lld in %d s\n", batch + 1, written, seconds, rss, measureIdle(),
                    idleSeconds);
        std::fflush(stdout);
    }

    ::kill(pid_t(pid), SIGTERM);
    if (!watcher.waitForFinished(60000) || watcher.exitCode() != 130)
        fail(QStringLiteral("pikora-cli watch did not end with 130 on SIGTERM"));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    return CliBench::runApp("bench_watch", argc, argv, run);
}
