#include "fakeencoder.h"

#include "testenv.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace FakeEncoder {

namespace {

const QByteArray kPrelude = R"sh(name=$(basename "$1")
for f in "$d/running/$name".*; do
  [ -e "$f" ] && kill -0 "${f##*.}" 2>/dev/null && echo "double $name" >> "$d/log"
done
touch "$d/running/$name.$$"
n=0
for f in "$d/running/"*; do kill -0 "${f##*.}" 2>/dev/null && n=$((n + 1)); done
echo "start $name $n" >> "$d/log"
)sh";
const QByteArray kEpilogue = "echo \"end $name\" >> \"$d/log\"\nrm -f \"$d/running/$name.$$\"\n";

} // namespace

QString write(const QString &folder, const QByteArray &body, OnTerm onTerm, const QString &path)
{
    QDir().mkpath(folder + QStringLiteral("/running"));
    // The trap comes first: a stop that arrives as the run starts must find it in place.
    const QByteArray trap = onTerm == OnTerm::lingers ? "trap '' TERM\n" : "";
    return TestEnv::writeScript(path.isEmpty() ? folder + QStringLiteral("/cjxl") : path,
                                trap + "d='" + QFile::encodeName(folder) + "'\n" + kPrelude + body + '\n' + kEpilogue);
}

QStringList log(const QString &folder, const char *kind)
{
    QStringList lines;
    for (const QString &line : QString::fromUtf8(TestEnv::readAll(folder + QStringLiteral("/log"))).split(u'\n')) {
        if (line.startsWith(QLatin1String(kind) + u' '))
            lines.append(line);
    }
    return lines;
}

int mostAtOnce(const QString &folder)
{
    int most = 0;
    for (const QString &line : log(folder))
        most = std::max(most, line.section(u' ', 2).toInt());
    return most;
}

QByteArray slowly(const char *seconds)
{
    return QByteArray("sleep ") + seconds + " >/dev/null 2>&1\n" + TestEnv::writeFakeJxlCommand();
}

} // namespace FakeEncoder
