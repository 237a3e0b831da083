#pragma once

#include <QString>

// A failure of the conversion engine. Its description is the text a job shows the user.
struct JXLError
{
    enum class Kind { toolNotFound, executionFailed, fileNotFound, verificationFailed, invalidFormat, platform };

    Kind kind = Kind::platform;
    QString tool;       // toolNotFound, executionFailed
    int exitCode = 0;   // executionFailed
    QString message;    // executionFailed: the tool's stderr; platform: the system's own text
    QString path;       // fileNotFound
    QString reason;     // verificationFailed
    QString expected;   // invalidFormat

    static JXLError toolNotFound(const QString &tool);
    static JXLError executionFailed(const QString &tool, int exitCode, const QString &message);
    static JXLError fileNotFound(const QString &path);
    static JXLError verificationFailed(const QString &reason);
    static JXLError invalidFormat(const QString &expected);
    // An error of the operating system, passed on with its own text.
    static JXLError platform(const QString &message);

    QString errorDescription() const;

    bool operator==(const JXLError &other) const = default;
};
