#pragma once

#include <QString>

// A failure of the conversion engine. Its description is the text a job shows the user.
struct JXLError
{
    enum class Kind { toolNotFound, executionFailed, killedBySignal, fileNotFound, verificationFailed, invalidFormat, platform };

    Kind kind = Kind::platform;
    QString tool;       // toolNotFound, executionFailed
    int exitCode = 0;   // executionFailed; killedBySignal: the signal number
    QString message;    // executionFailed, killedBySignal: the tool's stderr; platform: the system's own text
    QString cause;      // executionFailed: what the input's headers say the tool cannot handle, shown first
    QString path;       // fileNotFound
    QString reason;     // verificationFailed
    QString expected;   // invalidFormat

    static JXLError toolNotFound(const QString &tool);
    static JXLError executionFailed(const QString &tool, int exitCode, const QString &message,
                                    const QString &cause = QString());
    static JXLError killedBySignal(const QString &tool, int signal, const QString &message);
    static JXLError fileNotFound(const QString &path);
    static JXLError verificationFailed(const QString &reason);
    static JXLError invalidFormat(const QString &expected);
    // An error of the operating system, passed on with its own text.
    static JXLError platform(const QString &message);
    // A file that exists but cannot be opened for reading, with the system's reason.
    static JXLError unreadable(const QString &path, const QString &systemText);

    QString errorDescription() const;

    bool operator==(const JXLError &other) const = default;
};
