#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

#include <atomic>
#include <memory>
#include <optional>

class ToolRun;

// Whether one JPEG XL file still rebuilds the JPEG it was made from: djxl rebuilds it into a
// private temporary folder, and the copy's digest is compared with the one stored when the file
// was written. Nothing is written beside the file; a good check is remembered on the file itself.
class ArchiveCheck final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ArchiveCheck)

public:
    enum class Verdict {
        ok,            // rebuilds the JPEG whose digest it stores
        damaged,       // does not rebuild, or rebuilds other bytes than the stored digest names
        unproven,      // rebuilds a JPEG, but no digest says which one it should be
        notRestorable, // pixels only: it never held a JPEG's bytes
        skipped,       // checked good recently enough, and not changed since
        failed,        // could not be checked (unreadable, no room for the copy, djxl killed)
        cancelled,
    };

    // Extended attribute: when the file last proved good, in UTC, ISO 8601.
    static constexpr char kCheckedAttribute[] = "user.pikora.checked";

    ArchiveCheck(QString jxlPath, QString customDjxlPath, QObject *parent = nullptr);
    ~ArchiveCheck() override;

    // A file whose last good check is younger than this, and which has not changed since, is
    // skipped. Set before start().
    void skipCheckedWithin(qint64 seconds) { m_skipWithinSeconds = seconds; }

    void start();
    void cancel();

    const QString &path() const { return m_path; }
    Verdict verdict() const { return m_verdict; }
    // Why the file is not ok, in the user's words; empty when it is.
    const QString &message() const { return m_message; }
    // The last good check: the one this run stored, or the one a skipped file had.
    const std::optional<QDateTime> &lastChecked() const { return m_lastChecked; }

    // When path last proved good, unless its contents changed since (its modification time is later).
    static std::optional<QDateTime> lastGoodCheck(const QString &path);

    // What the file's boxes say before any tool runs: why it cannot be restored, or nothing.
    struct Structure
    {
        Verdict verdict = Verdict::ok; // ok: worth handing to djxl
        QString message;
    };
    static Structure inspect(const QString &path, bool hasStoredDigest);

Q_SIGNALS:
    void finished();

private:
    struct Prepared;
    void runTool(const Prepared &prepared);
    void finish(Verdict verdict, const QString &message = QString());
    void removeCopy();

    QString m_path;
    QString m_customDjxlPath;
    std::optional<qint64> m_skipWithinSeconds;
    QString m_folder;
    QString m_copy;
    ToolRun *m_run = nullptr;
    std::shared_ptr<std::atomic_bool> m_stop = std::make_shared<std::atomic_bool>(false);
    bool m_finished = false;
    Verdict m_verdict = Verdict::cancelled;
    QString m_message;
    std::optional<QDateTime> m_lastChecked;
};
