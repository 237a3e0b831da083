#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// A fake cjxl for batch suites that records what ran when. Each run logs "start NAME LIVE" (how
// many copies run then; a killed one leaves its mark), "double NAME" when a live copy still works
// on the same file, and "end NAME" once its body is done. The body writes the output ("$2"); it
// finds the folder in $d and the photo's name in $name.
namespace FakeEncoder {

enum class OnTerm { exits, lingers }; // lingers: ignores SIGTERM, as a tool busy writing may

// Writes folder/cjxl (or path) running body between the log lines; returns its path.
QString write(const QString &folder, const QByteArray &body, OnTerm onTerm = OnTerm::exits,
              const QString &path = QString());
// The log's lines that begin with kind ("start", "double", "end").
QStringList log(const QString &folder, const char *kind = "start");
// The most copies that ran at once.
int mostAtOnce(const QString &folder);
// A body that waits the given seconds, then writes the smallest JXL a job accepts.
QByteArray slowly(const char *seconds);

} // namespace FakeEncoder
