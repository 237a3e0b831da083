#include "runreport.h"

#include "cliconsole.h"
#include "model/formattedbytes.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

namespace RunReport {

namespace {

QString statusName(TaskStatus status)
{
    switch (status) {
    case TaskStatus::pending:
        return QStringLiteral("pending");
    case TaskStatus::processing:
        return QStringLiteral("processing");
    case TaskStatus::verifying:
        return QStringLiteral("verifying");
    case TaskStatus::completed:
        return QStringLiteral("completed");
    case TaskStatus::failed:
        return QStringLiteral("failed");
    case TaskStatus::skipped:
        return QStringLiteral("skipped");
    }
    return {};
}

} // namespace

void Tally::add(const TaskItem &task)
{
    if (task.status == TaskStatus::completed) {
        ++done;
        if (task.warning)
            ++kept;
        saved += task.savedBytes();
        originalBytes += task.originalSize;
    } else if (task.status == TaskStatus::failed) {
        ++done;
        ++failed;
    } else if (task.status == TaskStatus::skipped) {
        ++done;
        ++skipped;
        notSmaller += task.skipReason == SkipReason::notSmaller ? 1 : 0;
    }
}

QByteArray jobJson(const TaskItem &task)
{
    QJsonObject object;
    object.insert(QStringLiteral("status"), statusName(task.status));
    object.insert(QStringLiteral("source"), task.sourcePathText());
    const bool hasOutput = task.status == TaskStatus::completed || task.status == TaskStatus::skipped;
    object.insert(QStringLiteral("output"),
                  hasOutput && task.destinationURL ? QJsonValue(task.destinationURL->toLocalFile()) : QJsonValue());
    object.insert(QStringLiteral("originalSize"), task.originalSize);
    object.insert(QStringLiteral("outputSize"),
                  task.compressedSize && hasOutput ? QJsonValue(*task.compressedSize) : QJsonValue());
    if (task.reused)
        object.insert(QStringLiteral("reused"), true);
    if (task.status == TaskStatus::skipped)
        object.insert(QStringLiteral("reason"), task.skipReason == SkipReason::notSmaller ? QStringLiteral("larger")
                                                                                        : QStringLiteral("converted"));
    object.insert(QStringLiteral("verified"), task.isVerified);
    object.insert(QStringLiteral("error"),
                  task.status == TaskStatus::failed && task.errorMessage ? QJsonValue(*task.errorMessage)
                                                                         : QJsonValue());
    object.insert(QStringLiteral("warning"), task.warning ? QJsonValue(*task.warning) : QJsonValue());
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString jobLine(const TaskItem &task)
{
    const QString source = task.sourcePathText();
    switch (task.status) {
    case TaskStatus::completed: {
        // The sizes, then what else there is to say, as a list in the parentheses.
        QStringList details{QStringLiteral("%1 -> %2").arg(formattedBytes(task.originalSize),
                                                      formattedBytes(task.compressedSizeOrZero()))};
        if (task.savedBytes() > 0)
            details.append(QStringLiteral("-%1%").arg(task.savingsRatio(), 0, 'f', 1));
        if (task.isVerified)
            details.append(CliTexts::tr("已校验"));
        if (task.reused)
            details.append(CliTexts::tr("由之前的运行生成"));
        QString line = CliTexts::tr("完成    %1 -> %2（%3）")
                           .arg(source, task.destinationURL->toLocalFile(), details.join(CliTexts::tr("，")));
        if (task.warning)
            line += u'\n' + CliTexts::tr("        警告：%1").arg(*task.warning);
        return line;
    }
    case TaskStatus::failed:
        return CliTexts::tr("失败    %1：%2").arg(source, task.errorMessage.value_or(QString()));
    case TaskStatus::skipped:
        if (task.skipReason == SkipReason::notSmaller)
            return CliTexts::tr("已跳过  %1（转换后不会更小，已保留原 JPEG）").arg(source);
        return CliTexts::tr("已跳过  %1 -> %2（之前已转换）").arg(source, task.destinationURL.value_or(QUrl()).toLocalFile());
    default:
        return CliTexts::tr("已停止  %1").arg(source);
    }
}

QString elapsedText(qint64 ms)
{
    const qint64 seconds = ms / 1000;
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

QString summaryLine(const Tally &tally, ConversionMode mode, qint64 elapsedMs)
{
    QStringList parts{CliTexts::tr("%1 个完成，%2 个失败")
                          .arg(tally.done - tally.failed - tally.skipped)
                          .arg(tally.failed + tally.refused)};
    if (tally.skipped > tally.notSmaller)
        parts.append(CliTexts::tr("%1 个已跳过").arg(tally.skipped - tally.notSmaller));
    if (tally.notSmaller > 0)
        parts.append(CliTexts::tr("%n 个转换后不会更小，保留为 JPEG", nullptr, int(tally.notSmaller)));
    if (tally.kept > 0)
        parts.append(CliTexts::tr("%n 个原文件未能移除", nullptr, int(tally.kept)));
    if (mode == ConversionMode::jpegToJXL) {
        parts.append(tally.originalBytes > 0
                         ? CliTexts::tr("节省 %1，占 %2 的 %3%")
                               .arg(formattedBytes(tally.saved), formattedBytes(tally.originalBytes),
                                    QString::number(double(tally.saved) * 100.0 / double(tally.originalBytes), 'f', 1))
                         : CliTexts::tr("节省 %1").arg(formattedBytes(tally.saved)));
    }
    return CliTexts::tr("%1，用时 %2").arg(parts.join(CliTexts::tr("，")), elapsedText(elapsedMs));
}

} // namespace RunReport
