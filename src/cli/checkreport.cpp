#include "checkreport.h"

#include "cliconsole.h"
#include "model/taskitem.h"
#include "runreport.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace CheckReport {

namespace {

QString statusName(Verdict verdict)
{
    switch (verdict) {
    case Verdict::ok:
        return QStringLiteral("ok");
    case Verdict::damaged:
        return QStringLiteral("damaged");
    case Verdict::unproven:
        return QStringLiteral("unproven");
    case Verdict::notRestorable:
        return QStringLiteral("not-restorable");
    case Verdict::skipped:
        return QStringLiteral("skipped");
    case Verdict::failed:
        return QStringLiteral("failed");
    case Verdict::cancelled:
        return QStringLiteral("stopped");
    }
    return {};
}

} // namespace

Entry Entry::of(const ArchiveCheck &check)
{
    return {check.path(), check.verdict(), check.message(), check.lastChecked()};
}

Entry Entry::ofRefused(const TaskItem &task)
{
    return {task.sourcePathText(), Verdict::failed, task.errorMessage.value_or(QString()), std::nullopt};
}

void Tally::add(const Entry &entry)
{
    ++done;
    ++byVerdict[int(entry.verdict)];
}

bool isProblem(Verdict verdict, bool strict)
{
    switch (verdict) {
    case Verdict::damaged:
    case Verdict::failed:
        return true;
    case Verdict::unproven:
    case Verdict::notRestorable:
        return strict;
    case Verdict::ok:
    case Verdict::skipped:
    case Verdict::cancelled:
        return false;
    }
    return true;
}

qsizetype Tally::problems(bool strict) const
{
    qsizetype total = 0;
    for (int verdict = 0; verdict <= int(Verdict::cancelled); ++verdict)
        total += isProblem(Verdict(verdict), strict) ? byVerdict[verdict] : 0;
    return total;
}

QByteArray json(const Entry &entry)
{
    QJsonObject object;
    object.insert(QStringLiteral("status"), statusName(entry.verdict));
    object.insert(QStringLiteral("source"), entry.path);
    object.insert(QStringLiteral("error"), entry.message.isEmpty() ? QJsonValue() : QJsonValue(entry.message));
    if (entry.verdict == Verdict::skipped)
        object.insert(QStringLiteral("reason"), QStringLiteral("checked-recently"));
    object.insert(QStringLiteral("checked"),
                  entry.lastChecked ? QJsonValue(entry.lastChecked->toString(Qt::ISODateWithMs)) : QJsonValue());
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString line(const Entry &entry)
{
    switch (entry.verdict) {
    case Verdict::ok:
        return CliTexts::tr("完好    %1").arg(entry.path);
    case Verdict::damaged:
        return CliTexts::tr("已损坏  %1：%2").arg(entry.path, entry.message);
    case Verdict::unproven:
        return CliTexts::tr("未证实  %1：%2").arg(entry.path, entry.message);
    case Verdict::notRestorable:
        return CliTexts::tr("不可还原 %1：%2").arg(entry.path, entry.message);
    case Verdict::skipped:
        return CliTexts::tr("已跳过  %1（%2 已检查完好）")
            .arg(entry.path, entry.lastChecked ? entry.lastChecked->toString(Qt::ISODate) : QString());
    case Verdict::failed:
        return CliTexts::tr("失败    %1：%2").arg(entry.path, entry.message);
    case Verdict::cancelled:
        break;
    }
    return CliTexts::tr("已停止  %1").arg(entry.path);
}

QString summaryLine(const Tally &tally, qint64 elapsedMs)
{
    QStringList parts{CliTexts::tr("%1 个完好，%2 个已损坏").arg(tally.count(Verdict::ok)).arg(tally.count(Verdict::damaged))};
    if (tally.count(Verdict::unproven) > 0)
        parts.append(CliTexts::tr("%1 个未证实").arg(tally.count(Verdict::unproven)));
    if (tally.count(Verdict::notRestorable) > 0)
        parts.append(CliTexts::tr("%1 个不可还原").arg(tally.count(Verdict::notRestorable)));
    if (tally.count(Verdict::failed) > 0)
        parts.append(CliTexts::tr("%1 个无法检查").arg(tally.count(Verdict::failed)));
    if (tally.count(Verdict::skipped) > 0)
        parts.append(CliTexts::tr("%1 个已跳过").arg(tally.count(Verdict::skipped)));
    return CliTexts::tr("%1，用时 %2").arg(parts.join(CliTexts::tr("，")), RunReport::elapsedText(elapsedMs));
}

} // namespace CheckReport
