#pragma once

#include "cliinputs.h"
#include "clioptions.h"
#include "engine/filescanner.h"
#include "engine/pathkey.h"
#include "model/taskitem.h"
#include "progressline.h"
#include "runreport.h"

#include <QEventLoop>
#include <QList>
#include <QObject>
#include <QSet>
#include <QTimer>
#include <QUrl>
#include <QUuid>

#include <functional>
#include <memory>
#include <optional>

class AppState;
class Interrupt;

// One conversion run of the command line: the photos of the paths it is given, read a part at a
// time as the jobs before them finish, each job reported as it ends (a line, or a JSON object),
// and Ctrl-C or SIGTERM stopping the tools and leaving every job as it was. compress and
// restore run it once over their paths; watch keeps handing it photos.
class ConversionRun final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ConversionRun)

public:
    enum class Ending { done, interrupted, refused };

    // progress: a status line on a terminal (unless --json or -q).
    ConversionRun(const CliOptions &options, ConversionMode mode, bool progress, QObject *parent = nullptr);
    ~ConversionRun() override;

    // Checks the tools and the output folder and applies the options: the exit status when the
    // run cannot go (said on standard error).
    std::optional<int> prepare();

    // Sees each job a scan makes before it is listed, and may change it; false leaves it out.
    using Admission = std::function<bool(TaskItem &task)>;
    void setAdmission(Admission admission) { m_admission = std::move(admission); }
    // Paths to be scanned after those given before.
    void addPaths(const QList<QUrl> &urls, const QList<ScanProblem> &unnameable = {});
    // Jobs made elsewhere, run after those listed.
    void addJobs(const QList<TaskItem> &tasks);
    // A job on this file (a standardized path) is listed and has not been reported yet.
    bool isListed(const QString &path);
    // Reads parts until one brings a job to run or all is read; false when none waits.
    bool readAhead();

    // Runs the listed jobs until all given is done; with keepRunning, until interrupted, taking
    // what is added meanwhile.
    Ending exec(bool keepRunning);

    const RunReport::Tally &tally() const { return m_tally; }
    // Paths given that were not there or could not be read were met.
    bool metUnreachable() const { return m_unreachable; }
    QString summaryLine() const;
    std::optional<QString> diskWarning() const;

Q_SIGNALS:
    // A job has ended and been reported.
    void jobReported(const TaskItem &task);

private:
    void report(const TaskItem &task);
    void onJobFinished(const TaskItem &task);
    void flushReported();
    // Starts a batch when jobs wait and none runs.
    void kick();

    CliOptions m_options;
    ConversionMode m_mode;
    std::unique_ptr<AppState> m_state;
    Admission m_admission;
    std::unique_ptr<CliInputs::PhotoFeed> m_feed;
    QList<QUrl> m_queuedUrls;
    QList<ScanProblem> m_unnameable;
    RunReport::Tally m_tally;
    qsizetype m_total = 0;
    bool m_unreachable = false;
    ProgressLine m_progress;
    QSet<QUuid> m_reported; // still listed, to be removed with the next ones
    QEventLoop m_loop;
    bool m_keepRunning = false;
    bool m_interrupted = false;
    bool m_finished = false;
    QTimer m_stopping;
    QTimer m_ticker;
};
