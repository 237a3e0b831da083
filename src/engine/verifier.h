#pragma once

#include "jxlerror.h"

#include <QObject>
#include <QString>

#include <optional>

class ToolRun;

// Proof that a JPEG XL file rebuilds its source JPEG byte for byte.
namespace Verifier {

// Makes a private (0700) folder for verification copies in the temporary folder, named for
// this process; folders that dead processes left there are removed first (once per process).
std::optional<QString> makePrivateFolder(QString *errorText);

// Compares an original JPEG with the one djxl rebuilt. Blocking; nothing on success.
// Files of equal size but different digests fail too: equal sizes prove nothing. A known
// digest of the original spares reading it again.
std::optional<JXLError> compareRebuilt(const QString &originalJPEG, const QString &rebuiltJPEG,
                                       const std::optional<QString> &originalDigest = std::nullopt);

// The failure of a restore whose rebuilt JPEG does not have the digest stored with the JXL.
JXLError storedDigestMismatch(const QString &stored, const QString &rebuilt);

} // namespace Verifier

// One asynchronous verification: djxl rebuilds the JPEG into a private temporary folder, the
// copy is hashed off the calling thread and compared with the original. The copy and its
// folder are removed on every path.
class Verification final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(Verification)

public:
    enum class Outcome { passed, failed, cancelled };

    Verification(QString originalJPEG, QString convertedJXL, QString customDjxlPath, QObject *parent = nullptr);
    ~Verification() override;

    // The original's digest when the caller already has it.
    void setOriginalDigest(const QString &digest) { m_originalDigest = digest; }

    void start();
    void cancel();

    Outcome outcome() const { return m_outcome; }
    const std::optional<JXLError> &error() const { return m_error; }

Q_SIGNALS:
    void finished(Verification::Outcome outcome);

private:
    void runTool();
    void finish(Outcome outcome, std::optional<JXLError> error = std::nullopt);
    void removeCopy();

    QString m_original;
    QString m_converted;
    QString m_customDjxlPath;
    std::optional<QString> m_originalDigest;
    QString m_folder;
    QString m_temporary;
    ToolRun *m_run = nullptr;
    bool m_cancelled = false;
    bool m_finished = false;
    Outcome m_outcome = Outcome::failed;
    std::optional<JXLError> m_error;
};
