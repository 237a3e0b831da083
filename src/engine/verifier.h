#pragma once

#include "jxlerror.h"

#include <QObject>
#include <QString>

#include <optional>

class ToolRun;

// Proof that a JPEG XL file rebuilds its source JPEG byte for byte.
namespace Verifier {

// Lower-case hex SHA-256 of a file, read in 1 MiB chunks. Blocking.
std::optional<QString> sha256(const QString &path, QString *errorText = nullptr);

// A fresh "verify_<UUID>.jpg" in the temporary folder.
QString temporaryFilePath();

// Compares an original JPEG with the one djxl rebuilt. Blocking; nothing on success.
// Files of equal size but different digests fail too: equal sizes prove nothing.
std::optional<JXLError> compareRebuilt(const QString &originalJPEG, const QString &rebuiltJPEG);

} // namespace Verifier

// One asynchronous verification: djxl rebuilds the JPEG into a temporary file, which is
// hashed off the calling thread and compared with the original. The temporary file is
// removed on every path.
class Verification final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Verification)

public:
    enum class Outcome { passed, failed, cancelled };

    Verification(QString originalJPEG, QString convertedJXL, QString customDjxlPath, QObject *parent = nullptr);
    ~Verification() override;

    void start();
    void cancel();

    Outcome outcome() const { return m_outcome; }
    const std::optional<JXLError> &error() const { return m_error; }

Q_SIGNALS:
    void finished(Verification::Outcome outcome);

private:
    void finish(Outcome outcome, std::optional<JXLError> error = std::nullopt);

    QString m_original;
    QString m_converted;
    QString m_customDjxlPath;
    QString m_temporary;
    ToolRun *m_run = nullptr;
    bool m_cancelled = false;
    bool m_finished = false;
    Outcome m_outcome = Outcome::failed;
    std::optional<JXLError> m_error;
};
