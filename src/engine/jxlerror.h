#pragma once

#include <QString>

// A failure of the conversion engine. Its description is the text a job shows the user.
struct JXLError
{
    enum class Kind { toolNotFound, executionFailed, killedBySignal, fileNotFound, verificationFailed, invalidFormat, platform,
                      refused };

    Kind kind = Kind::platform;
    QString tool;       // toolNotFound, executionFailed
    int exitCode = 0;   // executionFailed; killedBySignal: the signal number
    QString message;    // executionFailed, killedBySignal: the tool's stderr; platform: the system's own text;
                        // refused: why the input was turned down
    QString cause;      // executionFailed: what the input's headers say the tool cannot handle, shown first
    QString path;       // fileNotFound
    QString reason;     // verificationFailed
    QString expected;   // invalidFormat
    QString headline;   // any kind: what happened in the user's words, shown before the rest

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
    // An input turned down before any tool ran, for the reason given.
    static JXLError refused(const QString &reason);

    // A copy that says headline first and keeps this error's own text after it, in parentheses.
    JXLError withHeadline(const QString &headline) const;

    QString errorDescription() const;

    bool operator==(const JXLError &other) const = default;
};
