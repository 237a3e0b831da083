#include "processowner.h"

#include <QCryptographicHash>
#include <QFile>
#include <QStringList>

#include <unistd.h>

namespace ProcessOwner {

namespace {

QByteArray readSmallFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(4096);
}

// Field 22 of /proc/PID/stat; the command name before it may hold blanks and parentheses.
std::optional<qulonglong> startTime(const QString &pid)
{
    const QByteArray stat = readSmallFile(QStringLiteral("/proc/") + pid + QStringLiteral("/stat"));
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
    // fields[0] is field 3 (state), so field 22 is fields[19].
    if (fields.size() < 20)
        return std::nullopt;
    bool ok = false;
    const qulonglong value = fields.at(19).toULongLong(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

QString hostTag()
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(readSmallFile(QStringLiteral("/proc/sys/kernel/random/boot_id")).trimmed());
    hash.addData(QFile::symLinkTarget(QStringLiteral("/proc/self/ns/pid")).toUtf8());
    return QString::fromLatin1(hash.result().toHex().left(8));
}

} // namespace

QString ownTag()
{
    static const QString tag = []() -> QString {
        const QString pid = QString::number(::getpid());
        return hostTag() + QLatin1Char('-') + pid + QLatin1Char('-') + QString::number(startTime(pid).value_or(0));
    }();
    return tag;
}

State stateOf(const QString &tag)
{
    const QStringList parts = tag.split(QLatin1Char('-'));
    static const QString host = hostTag();
    if (parts.size() != 3 || parts.at(0) != host)
        return State::unknown;
    bool pidOk = false;
    bool startOk = false;
    const qulonglong pid = parts.at(1).toULongLong(&pidOk);
    const qulonglong start = parts.at(2).toULongLong(&startOk);
    if (!pidOk || !startOk || pid == 0)
        return State::unknown;
    const std::optional<qulonglong> now = startTime(QString::number(pid));
    if (!now) {
        // No such process, unless /proc cannot be read at all.
        return QFile::exists(QStringLiteral("/proc/self/stat")) ? State::dead : State::unknown;
    }
    return *now == start ? State::alive : State::dead;
}

} // namespace ProcessOwner
