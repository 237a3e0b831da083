#include "ui/statusisland.h"

#include "app/tasklist.h"
#include "app/toolstatus.h"
#include "app/workspace.h"
#include "model/formattedbytes.h"
#include "ui/appactions.h"
#include "ui/icons.h"
#include "ui/style.h"

#include <QAction>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QTimer>
#include <QMouseEvent>
#include <QToolButton>

#include <algorithm>

// A small turning wheel while a batch runs; it only ticks while shown.
class StatusIsland::Spinner final : public QWidget
{
public:
    explicit Spinner(QWidget *parent)
        : QWidget(parent)
    {
        setFixedSize(14, 14);
        // StatusIsland's tr: a bare tr here would be QWidget's, whose context holds no translation.
        setAccessibleName(StatusIsland::tr("正在处理"));
        m_timer.setInterval(80);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            m_step = (m_step + 1) % 8;
            update();
        });
    }

protected:
    void showEvent(QShowEvent *) override { m_timer.start(); }
    void hideEvent(QHideEvent *) override { m_timer.stop(); }
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(width() / 2.0, height() / 2.0);
        const QColor ink = palette().color(QPalette::WindowText);
        for (int i = 0; i < 8; ++i) {
            const int age = (m_step - i + 8) % 8;
            painter.setPen(QPen(Style::faded(ink, 1.0 - age * 0.11), 1.6, Qt::SolidLine, Qt::RoundCap));
            painter.drawLine(QPointF(0, -3.2), QPointF(0, -6.0));
            painter.rotate(45);
        }
    }

private:
    QTimer m_timer;
    int m_step = 0;
};

StatusFacts StatusFacts::of(const Workspace &workspace, const ToolStatus &tools, const BatchRunner &runner)
{
    StatusFacts facts;
    facts.mode = workspace.activeMode();
    facts.toolReady = tools.isReady(facts.mode);
    facts.batch = BatchFigures::of(runner);
    const TaskList *list = workspace.currentTasks();
    facts.count = int(list->size());
    facts.savedBytes = list->savedBytes();
    facts.failedCount = workspace.failedCount(); // the retry button offers only what a retry can mend
    facts.notSmallerCount = list->notSmallerCount();
    facts.skippedCount = list->count(TaskStatus::skipped) - facts.notSmallerCount;
    if (!facts.batch.running) { // the sum walks the list: only when the idle face shows it
        for (const TaskItem &task : list->items())
            facts.totalSize += std::max<qint64>(task.originalSize, 0);
    }
    return facts;
}

QString remainingTimeText(qint64 seconds)
{
    if (seconds < 60)
        return QCoreApplication::translate("StatusIsland", "不到 1 分钟");
    const qint64 minutes = (seconds + 59) / 60;
    if (minutes < 60)
        return QCoreApplication::translate("StatusIsland", "约 %1 分钟").arg(minutes);
    const qint64 hours = minutes / 60;
    const qint64 rest = minutes % 60;
    if (rest == 0)
        return QCoreApplication::translate("StatusIsland", "约 %1 小时").arg(hours);
    return QCoreApplication::translate("StatusIsland", "约 %1 小时 %2 分钟").arg(hours).arg(rest);
}

StatusIsland::StatusIsland(AppActions *actions, QWidget *parent)
    : GlassPanel(islandHeight / 2, parent)
{
    setFixedHeight(islandHeight);
    setAccessibleName(tr("状态"));
    const QColor ink = palette().color(QPalette::WindowText);

    m_warningIcon = new QLabel(this);
    m_warningIcon->setPixmap(Icons::themed(QStringLiteral("dialog-warning")).pixmap(14, 14));
    m_warningIcon->setAccessibleName(tr("警告"));
    m_warning = Style::plainLabel(Style::fontInDesignPoints(11), ink, this);
    m_spinner = new Spinner(this);
    m_progress = Style::plainLabel(Style::monospaceInDesignPoints(12, QFont::Medium), ink, this);
    m_remainingDot = Style::plainLabel(Style::fontInDesignPoints(12), Style::faded(ink, 0.35), this);
    m_remaining = Style::plainLabel(Style::fontInDesignPoints(12), Style::faded(ink, 0.6), this);
    m_skippedDot = Style::plainLabel(Style::fontInDesignPoints(12), Style::faded(ink, 0.35), this);
    m_skipped = Style::plainLabel(Style::fontInDesignPoints(12), Style::faded(ink, 0.6), this);
    m_notSmallerDot = Style::plainLabel(Style::fontInDesignPoints(12), Style::faded(ink, 0.35), this);
    m_notSmaller = Style::plainLabel(Style::fontInDesignPoints(12), Style::faded(ink, 0.6), this);
    m_count = Style::plainLabel(Style::fontInDesignPoints(12, QFont::Medium), ink, this);
    m_sizeDot = Style::plainLabel(Style::fontInDesignPoints(12), Style::faded(ink, 0.35), this);
    m_size = Style::plainLabel(Style::fontInDesignPoints(12), Style::faded(ink, 0.6), this);
    m_savedDot = Style::plainLabel(Style::fontInDesignPoints(12), Style::faded(ink, 0.35), this);
    m_saved = Style::plainLabel(Style::fontInDesignPoints(12), Style::green(), this);
    for (QLabel *dot : {m_remainingDot, m_sizeDot, m_savedDot, m_skippedDot, m_notSmallerDot}) {
        dot->setText(QStringLiteral("·"));
        dot->setAccessibleName(QStringLiteral(" "));
    }

    m_clear = new QToolButton(this);
    m_clear->setDefaultAction(actions->clearList);
    m_clear->setAutoRaise(true);
    m_clear->setIconSize(QSize(14, 14));
    m_clear->setToolButtonStyle(Qt::ToolButtonIconOnly);
    m_retry = new QToolButton(this);
    m_retry->setDefaultAction(actions->retryFailed);
    m_retry->setAutoRaise(true);
    m_retry->setIconSize(QSize(12, 12));
    m_retry->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_retry->setFont(Style::fontInDesignPoints(11));
    QPalette retryPalette = m_retry->palette();
    retryPalette.setColor(QPalette::ButtonText, Style::orange());
    m_retry->setPalette(retryPalette);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(14, 0, 14, 0);
    row->setSpacing(8);
    for (QWidget *widget : std::initializer_list<QWidget *>{m_warningIcon, m_warning, m_spinner, m_progress,
                                                            m_remainingDot, m_remaining, m_count,
                                                            m_sizeDot, m_size, m_savedDot, m_saved,
                                                            m_skippedDot, m_skipped, m_notSmallerDot, m_notSmaller,
                                                            m_clear, m_retry})
        row->addWidget(widget, 0, Qt::AlignVCenter);
    setFacts(StatusFacts{});
}

void StatusIsland::setFacts(const StatusFacts &facts)
{
    // A running batch comes first: its count and the way to stop it stay in view whichever
    // direction is shown.
    m_face = facts.batch.running ? Face::processing : (!facts.toolReady ? Face::toolMissing : Face::idle);
    const bool compressing = facts.mode == ConversionMode::jpegToJXL;

    m_warningIcon->setVisible(m_face == Face::toolMissing);
    m_warning->setVisible(m_face == Face::toolMissing);
    m_warning->setText(compressing ? tr("未检测到 cjxl 编码器") : tr("未检测到 djxl 解码器"));
    m_missingTool = m_face == Face::toolMissing ? (compressing ? QStringLiteral("cjxl") : QStringLiteral("djxl")) : QString();
    // What to do about it, on hovering; a click leads to the field where its path goes.
    setToolTip(m_missingTool.isEmpty()
                   ? QString()
                   : tr("请安装 libjxl-tools (sudo apt install libjxl-tools)，或点击此处在设置中指定 %1 的路径").arg(m_missingTool));
    if (m_missingTool.isEmpty())
        unsetCursor();
    else
        setCursor(Qt::PointingHandCursor);

    m_spinner->setVisible(m_face == Face::processing);
    m_progress->setVisible(m_face == Face::processing);
    // The count in fixed-width digits so it does not jiggle; the estimate once there is one.
    m_progress->setText(QStringLiteral("%1/%2").arg(facts.batch.done).arg(facts.batch.total));
    const bool estimated = m_face == Face::processing && facts.batch.remainingSeconds.has_value();
    m_remainingDot->setVisible(estimated);
    m_remaining->setVisible(estimated);
    if (estimated)
        m_remaining->setText(remainingTimeText(*facts.batch.remainingSeconds));

    const bool idle = m_face == Face::idle;
    const bool showSaved = idle && compressing && facts.savedBytes >= 1;
    m_count->setVisible(idle);
    m_count->setText(tr("%n 个项目", nullptr, facts.count));
    m_sizeDot->setVisible(idle);
    m_size->setVisible(idle);
    m_size->setText(formattedBytes(facts.totalSize));
    m_savedDot->setVisible(showSaved);
    m_saved->setVisible(showSaved);
    m_saved->setText(tr("已节省 %1").arg(formattedBytes(facts.savedBytes)));
    // Jobs a former run had done are counted apart: neither converted now nor saving anything now.
    const int skipped = m_face == Face::processing ? facts.batch.skipped : (idle ? facts.skippedCount : 0);
    m_skippedDot->setVisible(skipped > 0);
    m_skipped->setVisible(skipped > 0);
    m_skipped->setText(tr("已跳过 %n 项", nullptr, skipped));
    // Photos left as JPEG because their JXL would not have been smaller: not savings either.
    const int notSmaller = m_face == Face::processing ? facts.batch.notSmaller : (idle ? facts.notSmallerCount : 0);
    m_notSmallerDot->setVisible(notSmaller > 0);
    m_notSmaller->setVisible(notSmaller > 0);
    m_notSmaller->setText(tr("%n 项转换后不会更小", nullptr, notSmaller));
    m_clear->setVisible(idle);
    m_retry->setVisible(idle && facts.failedCount > 0);
    adjustSize();
}

void StatusIsland::mouseReleaseEvent(QMouseEvent *event)
{
    if (!m_missingTool.isEmpty() && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        event->accept();
        Q_EMIT toolPathRequested(m_missingTool);
        return;
    }
    GlassPanel::mouseReleaseEvent(event);
}

QStringList StatusIsland::visibleTexts() const
{
    QStringList texts;
    for (QLabel *label : {m_warning, m_progress, m_remainingDot, m_remaining, m_count, m_sizeDot, m_size, m_savedDot, m_saved,
                           m_skippedDot, m_skipped, m_notSmallerDot, m_notSmaller}) {
        if (label->isVisibleTo(this))
            texts.append(label->text());
    }
    if (m_retry->isVisibleTo(this))
        texts.append(m_retry->text());
    return texts;
}
