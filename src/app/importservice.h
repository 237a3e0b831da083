#pragma once

#include "engine/filescanner.h"

#include <QObject>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

class Workspace;

// Turns dropped files and folders into jobs of the shown list: the walk on the thread pool, the
// merge on the GUI thread a chunk per turn of the event loop.
class ImportService final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ImportService)

public:
    // Jobs of one import added per turn of the event loop: a long import goes in over several
    // turns, so that adding 100,000 photos never freezes the window.
    static constexpr qsizetype kMergeChunk = 5000;
    // A running job (of any batch) reads or writes this file (a standardized source path).
    using SourceHeld = std::function<bool(const QString &standardizedPath)>;

    ImportService(Workspace *workspace, SourceHeld sourceHeld, QObject *parent = nullptr);
    ~ImportService() override;

    bool isScanning() const { return m_scansRunning > 0; }
    const std::optional<ScanResult> &currentScanResult() const { return m_currentScanResult; }
    // What the last import could not reach: missing paths, paths that cannot be looked at and
    // folders that cannot be read, one text each. (Its photos whose names are not UTF-8 are
    // failed jobs in the list instead.)
    const QStringList &importProblems() const { return m_importProblems; }
    void clearImportProblems();

    // Adds the photos of the shown direction found at urls; the merge comes later, from the
    // event loop, and ends with importFinished().
    void importURLs(const QList<QUrl> &urls);

Q_SIGNALS:
    void isScanningChanged();
    void currentScanResultChanged();
    void importProblemsChanged();
    // An import merged its scan; added is how many jobs it appended (failed ones included).
    void importFinished(int added);

private:
    struct ScanOutcome;
    void mergeScan(ConversionMode direction, const std::shared_ptr<ScanOutcome> &outcome);

    Workspace *m_workspace;
    SourceHeld m_sourceHeld;
    int m_scansRunning = 0;
    std::optional<ScanResult> m_currentScanResult;
    QStringList m_importProblems;
};
