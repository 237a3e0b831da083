#include "clicommands.h"

#include "app/lifetimestats.h"
#include "cliconsole.h"
#include "cliinputs.h"
#include "engine/filescanner.h"
#include "engine/filesignature.h"
#include "engine/jxlerror.h"
#include "engine/toolcommands.h"
#include "engine/verifier.h"
#include "model/formattedbytes.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <climits>
#include <tuple>
#include <utility>

namespace CliCommands {

namespace {

using CliConsole::err;
using CliConsole::out;

// What the file's first bytes say it is; nothing, with the reason, when it cannot be read.
std::optional<FileSignature::Format> formatOf(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return std::nullopt;
    }
    return FileSignature::identify(file.read(FileSignature::headLength));
}

} // namespace

bool explicitToolsUsable(const CliOptions &options)
{
    bool usable = true;
    for (const auto &[option, path] : {std::pair{"--cjxl", options.cjxl}, std::pair{"--djxl", options.djxl}}) {
        if (path && !ToolCommands::isExecutableFile(*path)) {
            err() << "pikora-cli: " << CliTexts::tr("%1 %2：不是可执行文件").arg(QLatin1String(option), *path) << Qt::endl;
            usable = false;
        }
    }
    return usable;
}

int verify(const CliOptions &options)
{
    using Format = FileSignature::Format;
    const QString jpeg = QDir::current().absoluteFilePath(options.paths.at(0));
    const QString jxl = QDir::current().absoluteFilePath(options.paths.at(1));
    if (!explicitToolsUsable(options))
        return 2;
    // djxl's words for a JPEG handed to it are no help; say what is wrong with the arguments.
    QString firstError;
    QString secondError;
    const std::optional<Format> first = formatOf(jpeg, &firstError);
    const std::optional<Format> second = formatOf(jxl, &secondError);
    if (first == Format::jxl && second == Format::jpeg) {
        err() << "pikora-cli: " << CliTexts::tr("参数顺序反了：verify 先接 JPEG，再接 JXL") << Qt::endl;
        return 2;
    }
    for (const auto &[path, format, error, wanted, name] :
         {std::tuple{jpeg, first, firstError, Format::jpeg, CliTexts::tr("%1 不是 JPEG 文件")},
          std::tuple{jxl, second, secondError, Format::jxl, CliTexts::tr("%1 不是 JPEG XL 文件")}}) {
        if (!format) {
            err() << "pikora-cli: " << CliTexts::tr("无法读取 %1：%2").arg(path, error) << Qt::endl;
            return 2;
        }
        if (*format != wanted) {
            err() << "pikora-cli: " << QString(name).arg(path) << Qt::endl;
            return 2;
        }
    }
    if (!ToolCommands::resolveToolPath(QStringLiteral("djxl"), options.djxl.value_or(QString()))) {
        err() << JXLError::toolNotFound(QStringLiteral("djxl")).errorDescription() << Qt::endl;
        return 2;
    }
    Verification verification(jpeg, jxl, options.djxl.value_or(QString()));
    QEventLoop loop;
    QObject::connect(&verification, &Verification::finished, &loop, &QEventLoop::quit);
    verification.start();
    loop.exec();
    if (verification.outcome() == Verification::Outcome::passed) {
        out() << CliTexts::tr("一致：%1 可逐字节还原出 %2").arg(jxl, jpeg) << Qt::endl;
        return 0;
    }
    err() << (verification.error() ? verification.error()->errorDescription() : CliTexts::tr("已取消"))
          << Qt::endl;
    return 1;
}

int scan(const CliOptions &options)
{
    const std::optional<ScanResult> gathered = CliInputs::gather(options);
    if (!gathered)
        return 2;
    const ScanResult &result = *gathered;
    for (const ScanProblem &problem : result.problems)
        err() << "pikora-cli: " << problem.message() << Qt::endl;
    const int status = result.problems.isEmpty() ? 0 : 1;
    if (options.json) {
        QJsonObject object;
        object.insert(QStringLiteral("jpegFiles"), result.jpegFiles.size());
        object.insert(QStringLiteral("jpegBytes"), result.totalJPEGBytes);
        object.insert(QStringLiteral("jxlFiles"), result.jxlFiles.size());
        object.insert(QStringLiteral("jxlBytes"), result.totalJXLBytes);
        object.insert(QStringLiteral("estimatedSavedBytes"), result.estimatedSavedBytes());
        out() << QJsonDocument(object).toJson(QJsonDocument::Compact) << Qt::endl;
        return status;
    }
    out() << CliTexts::tr("JPEG：    %n 个文件，%1", nullptr, int(result.jpegFiles.size()))
                 .arg(formattedBytes(result.totalJPEGBytes))
          << Qt::endl
          << CliTexts::tr("JPEG XL： %n 个文件，%1", nullptr, int(result.jxlFiles.size()))
                 .arg(formattedBytes(result.totalJXLBytes))
          << Qt::endl
          << CliTexts::tr("预计可节省：%1").arg(formattedBytes(result.estimatedSavedBytes())) << Qt::endl;
    return status;
}

int stats(const CliOptions &options)
{
    // The counters as other processes left them; this one adds nothing.
    const LifetimeStats lifetime;
    const qint64 bytes = lifetime.savedBytes();
    const qint64 count = lifetime.processedCount();
    if (options.json) {
        QJsonObject object;
        object.insert(QStringLiteral("lifetimeSavedBytes"), bytes);
        object.insert(QStringLiteral("lifetimeProcessedCount"), count);
        out() << QJsonDocument(object).toJson(QJsonDocument::Compact) << Qt::endl;
        return 0;
    }
    out() << CliTexts::tr("累计已节省 %1，共 %n 次转换", nullptr, int(std::min<qint64>(count, INT_MAX))).arg(formattedBytes(bytes))
          << Qt::endl;
    return 0;
}

} // namespace CliCommands
