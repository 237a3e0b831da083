#include "watchcommand.h"

#include "app/folderwatch.h"
#include "app/settingsstore.h"
#include "cliconsole.h"
#include "conversionrun.h"
#include "engine/outputfiles.h"
#include "platform/hardwaredetector.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

namespace {

using CliConsole::err;
using CliConsole::out;

// Photos that end this way stay JPEGs as they are: not handed over again until they change.
bool leftAsItWas(const TaskItem &task)
{
    return task.status == TaskStatus::failed
        || (task.status == TaskStatus::skipped && task.skipReason == SkipReason::notSmaller);
}

} // namespace

int watchCommand(const CliOptions &given)
{
    CliOptions options = given;
    if (options.saved) {
        // What the window's automatic conversion saved: how a login entry or a user unit runs us.
        const AppSettings saved = SettingsStore(HardwareDetector::thisMachine()).settings();
        options.paths.append(saved.autoConvertFolders);
        if (!options.originals)
            options.originals = saved.autoConvertOriginals;
        if (options.paths.isEmpty()) {
            err() << "pikora-cli: " << CliTexts::tr("设置中没有要自动转换的文件夹") << Qt::endl;
            return 2;
        }
    }
    QStringList roots;
    QList<QUrl> rootUrls; // those there now
    for (const QString &path : options.paths) {
        const QString folder = QDir::cleanPath(QDir::current().absoluteFilePath(path));
        const bool there = QFileInfo(folder).isDir();
        // A saved folder may be on a disk not mounted yet at login: it is watched for, as one
        // that goes away later is. A folder typed on the command line is more likely mistyped.
        if (!there && !options.saved) {
            err() << "pikora-cli: " << CliTexts::tr("%1：不是文件夹").arg(folder) << Qt::endl;
            return 2;
        }
        if (!roots.contains(folder)) {
            roots.append(folder);
            if (there)
                rootUrls.append(QUrl::fromLocalFile(folder));
        }
    }
    ConversionRun run(options, ConversionMode::jpegToJXL, false);
    if (const std::optional<int> status = run.prepare())
        return *status;

    FolderWatch::Options watchOptions;
    watchOptions.settleMs = options.settleMs;
    FolderWatch watch(roots, watchOptions);
    if (watch.error() != 0) {
        err() << "pikora-cli: " << CliTexts::tr("无法监视文件夹：%1").arg(qt_error_string(watch.error())) << Qt::endl;
        return 2;
    }

    // A scan (the first pass, a folder that appeared or came back) takes what is complete now
    // and leaves what is still being written to settle first. Its photos are placed as those
    // of the watched root they lie under, as the first pass places them.
    run.setAdmission([&watch](TaskItem &task) {
        const QString path = task.sourceURL.toLocalFile();
        const QString root = watch.rootOf(path);
        if (!root.isEmpty())
            task.importRoot = root;
        if (watch.isRecent(path)) {
            watch.expect(path);
            return false;
        }
        watch.forget(path);
        return true;
    });
    // The jobs of settled photos, with the file as it settled: a failure is remembered of that.
    QHash<QUuid, FileIdentity> settled;
    QObject::connect(&watch, &FolderWatch::ready, &run,
                     [&](const QString &path, const QString &root, const FileIdentity &identity) {
                         if (run.isListed(path)) { // its job has not ended yet: it is looked at again later
                             watch.expect(path);
                             return;
                         }
                         TaskItem task;
                         task.sourceURL = QUrl::fromLocalFile(path);
                         task.mode = ConversionMode::jpegToJXL;
                         task.originalSize = identity.size;
                         task.importRoot = root;
                         settled.insert(task.id, identity);
                         run.addJobs({task});
                     });
    QObject::connect(&run, &ConversionRun::jobReported, &watch, [&](const TaskItem &task) {
        const std::optional<FileIdentity> identity = settled.contains(task.id)
            ? std::optional(settled.take(task.id))
            : FileIdentity::ofPath(QFile::encodeName(task.sourcePathText()));
        if (leftAsItWas(task) && task.isRunnable() && identity)
            watch.setFailed(*identity);
    });
    QObject::connect(&watch, &FolderWatch::folderAppeared, &run,
                     [&run](const QString &folder) { run.addPaths({QUrl::fromLocalFile(folder)}); });
    QObject::connect(&watch, &FolderWatch::rootLost, &run, [](const QString &root) {
        err() << "pikora-cli: " << CliTexts::tr("文件夹 %1 不可用，恢复后继续监视").arg(root) << Qt::endl;
    });
    QObject::connect(&watch, &FolderWatch::rootBack, &run, [&](const QString &root) {
        if (!options.quiet)
            err() << "pikora-cli: " << CliTexts::tr("文件夹 %1 已恢复，继续监视").arg(root) << Qt::endl;
        run.addPaths({QUrl::fromLocalFile(root)});
    });
    QObject::connect(&watch, &FolderWatch::watchLimitReached, &run, [&](qsizetype folders) {
        err() << "pikora-cli: "
              << CliTexts::tr("已达到系统对 inotify 监视数的上限（fs.inotify.max_user_watches）：%n 个文件夹改为每 %1 "
                              "分钟检查一次",
                              nullptr, int(folders))
                     .arg(watchOptions.rescanMs / 60000)
              << Qt::endl;
    });

    // A killed run's hidden temporaries go, as compress removes them from the folders it is given.
    OutputFiles::removeDeadLeftoversAround(rootUrls);
    watch.start();
    if (!options.quiet)
        (options.json ? err() : out()) << CliTexts::tr("正在监视 %n 个文件夹，按 Ctrl-C 停止", nullptr,
                                                       int(watch.folderCount()))
                                       << Qt::endl;
    // The first pass converts what is not converted yet; what is converted is skipped cheaply.
    run.addPaths(rootUrls);
    const ConversionRun::Ending ending = run.exec(true);
    if (ending == ConversionRun::Ending::refused) {
        err() << *run.diskWarning() << Qt::endl;
        return 2;
    }
    if (!options.quiet && !options.json)
        out() << run.summaryLine() << Qt::endl;
    return 130;
}
