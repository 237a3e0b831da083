#include "tasktablemodel.h"

#include "model/formattedbytes.h"
#include "tasklist.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QMimeData>
#include <QStringList>

#include <algorithm>

namespace {

// An update within this long of the previous one is held back and announced with the others.
constexpr int kCoalesceMs = 16;
// Beyond this many changed rows one range is announced instead of one signal per row.
constexpr int kRangeThreshold = 256;
// A removal of more runs, or of a longer run, than this is announced as a reset.
constexpr int kRunsBeforeReset = 16;
constexpr qsizetype kRowsBeforeReset = 2000;

QString translated(const char *text)
{
    return QCoreApplication::translate("TaskTableModel", text);
}

QString statusText(const TaskItem &task)
{
    switch (task.status) {
    case TaskStatus::pending:
        return translated(QT_TRANSLATE_NOOP("TaskTableModel", "就绪"));
    case TaskStatus::processing:
        return task.mode == ConversionMode::jpegToJXL ? translated(QT_TRANSLATE_NOOP("TaskTableModel", "正在瘦身…"))
                                                      : translated(QT_TRANSLATE_NOOP("TaskTableModel", "正在还原…"));
    case TaskStatus::verifying:
        return translated(QT_TRANSLATE_NOOP("TaskTableModel", "正在校验…"));
    case TaskStatus::completed:
        return translated(QT_TRANSLATE_NOOP("TaskTableModel", "已完成"));
    case TaskStatus::failed:
        // A refused job never ran: its reason is what there is to say, and comes first.
        if (task.isRefused() && task.errorMessage)
            return *task.errorMessage;
        return translated(QT_TRANSLATE_NOOP("TaskTableModel", "未能完成"));
    case TaskStatus::skipped:
        return translated(QT_TRANSLATE_NOOP("TaskTableModel", "已跳过"));
    }
    return {};
}

QString statusDetail(const TaskItem &task)
{
    if (task.status != TaskStatus::completed || !task.duration)
        return {};
    return QStringLiteral("· %1s").arg(*task.duration, 0, 'f', 2);
}

QString savingsText(const TaskItem &task)
{
    if (task.status != TaskStatus::completed)
        return QStringLiteral("-");
    // A restore is "complete" only when the digest stored at compression proved it.
    if (task.mode == ConversionMode::jxlToJPEG)
        return task.isVerified ? translated(QT_TRANSLATE_NOOP("TaskTableModel", "100% 完整复原"))
                               : translated(QT_TRANSLATE_NOOP("TaskTableModel", "已复原（未校验）"));
    return task.savedBytes() >= 1 ? QStringLiteral("\u2212%1%").arg(task.savingsRatio(), 0, 'f', 1)
                                  : QStringLiteral("-");
}

// The full path, so that photos of one name from two folders can be told apart, and the output
// when it is not beside the source under the source's name: its name when another file had
// that name, its whole path when it went to another folder.
QString nameToolTip(const TaskItem &task)
{
    QString tip = task.sourcePathText();
    const bool hasOutput = task.status == TaskStatus::completed || task.status == TaskStatus::skipped;
    if (hasOutput && task.destinationURL) {
        const QFileInfo output(task.destinationURL->toLocalFile());
        const QFileInfo source(task.sourceURL.toLocalFile());
        if (output.absolutePath() != source.absolutePath())
            tip += QLatin1Char('\n') + translated(QT_TRANSLATE_NOOP("TaskTableModel", "输出为 %1")).arg(output.filePath());
        else if (output.completeBaseName() != QFileInfo(task.fileName()).completeBaseName())
            tip += QLatin1Char('\n') + translated(QT_TRANSLATE_NOOP("TaskTableModel", "输出为 %1")).arg(output.fileName());
    }
    return tip;
}

// Why a job was skipped, or left its output as a former run made it.
QString reuseNote(const TaskItem &task)
{
    if (task.status == TaskStatus::skipped && task.skipReason == SkipReason::notSmaller)
        return translated(QT_TRANSLATE_NOOP("TaskTableModel", "转换后不会更小，已保留原 JPEG"));
    if (!task.destinationURL)
        return {};
    const QString output = task.destinationURL->toLocalFile();
    const bool compressing = task.mode == ConversionMode::jpegToJXL;
    if (task.status == TaskStatus::skipped)
        return compressing ? translated(QT_TRANSLATE_NOOP("TaskTableModel", "此照片已转换过，输出文件已存在：%1")).arg(output)
                           : translated(QT_TRANSLATE_NOOP("TaskTableModel", "此文件已还原过，输出文件已存在：%1")).arg(output);
    if (task.status == TaskStatus::completed && task.reused)
        return compressing ? translated(QT_TRANSLATE_NOOP("TaskTableModel", "沿用前一次转换的输出，已验证无损：%1")).arg(output)
                           : translated(QT_TRANSLATE_NOOP("TaskTableModel", "沿用前一次还原的输出，校验一致：%1")).arg(output);
    return {};
}

QString statusToolTip(const TaskItem &task)
{
    if (task.isRefused())
        return task.errorMessage.value_or(QString()) + QLatin1Char('\n')
            + translated(QT_TRANSLATE_NOOP("TaskTableModel", "请将文件重命名后再导入"));
    if (task.status == TaskStatus::failed)
        return task.errorMessage.value_or(translated(QT_TRANSLATE_NOOP("TaskTableModel", "未知错误")));
    QStringList parts;
    for (const QString &part : {reuseNote(task), task.warning.value_or(QString())}) {
        if (!part.isEmpty())
            parts.append(part);
    }
    return parts.join(QLatin1Char('\n'));
}

// The folders a job's source lies in, outermost first.
QStringList folderNames(const TaskItem &task)
{
    const QString path = task.sourcePathText();
    return path.left(path.lastIndexOf(QLatin1Char('/'))).split(QLatin1Char('/'), Qt::SkipEmptyParts);
}

qsizetype sharedTail(const QStringList &a, const QStringList &b)
{
    qsizetype n = 0;
    while (n < a.size() && n < b.size() && a.at(a.size() - 1 - n) == b.at(b.size() - 1 - n))
        ++n;
    return n;
}

} // namespace

TaskTableModel::TaskTableModel(QObject *parent)
    : QAbstractTableModel(parent)
{
    m_coalesce.setSingleShot(true);
    m_coalesce.setInterval(kCoalesceMs);
    connect(&m_coalesce, &QTimer::timeout, this, &TaskTableModel::flushChangedRows);
}

QUrl TaskTableModel::shownFile(const TaskItem &task)
{
    return task.shownURL();
}

bool TaskTableModel::isDraggable(const TaskItem &task)
{
    return task.status == TaskStatus::completed && task.destinationURL && task.destinationURL->isLocalFile();
}

QStringList TaskTableModel::cellTexts(Column column)
{
    switch (column) {
    case OriginalSizeColumn:
    case ResultSizeColumn:
        return {formattedBytes(999'900'000), formattedBytes(99'900'000'000), QStringLiteral("-")};
    case SavingsColumn:
        return {translated(QT_TRANSLATE_NOOP("TaskTableModel", "100% 完整复原")),
                translated(QT_TRANSLATE_NOOP("TaskTableModel", "已复原（未校验）")), QStringLiteral("\u221299.9%")};
    case StatusColumn: {
        QStringList texts;
        TaskItem task;
        for (const ConversionMode mode : {ConversionMode::jpegToJXL, ConversionMode::jxlToJPEG}) {
            task.mode = mode;
            for (const TaskStatus status : {TaskStatus::pending, TaskStatus::processing, TaskStatus::verifying,
                                            TaskStatus::completed, TaskStatus::failed, TaskStatus::skipped}) {
                task.status = status;
                texts.append(statusText(task));
            }
        }
        return texts;
    }
    case NameColumn:
    case ColumnCount:
        break;
    }
    return {};
}

void TaskTableModel::rowChanged(qsizetype row)
{
    if (!m_coalesce.isActive()) {
        Q_EMIT dataChanged(index(int(row), 0), index(int(row), ColumnCount - 1));
        m_coalesce.start();
        return;
    }
    m_changedIds.insert(m_list->at(row).id);
}

void TaskTableModel::flushChangedRows()
{
    if (m_changedIds.isEmpty() || !m_list)
        return;
    QList<int> rows;
    rows.reserve(m_changedIds.size());
    for (const QUuid &id : std::as_const(m_changedIds)) {
        const qsizetype row = m_list->indexOf(id);
        if (row >= 0)
            rows.append(int(row));
    }
    m_changedIds.clear();
    if (rows.isEmpty())
        return;
    if (rows.size() > kRangeThreshold) {
        const auto [low, high] = std::minmax_element(rows.cbegin(), rows.cend());
        Q_EMIT dataChanged(index(*low, 0), index(*high, ColumnCount - 1));
    } else {
        for (const int row : std::as_const(rows))
            Q_EMIT dataChanged(index(row, 0), index(row, ColumnCount - 1));
    }
    // Still flooded: keep holding updates back for another interval.
    m_coalesce.start();
}

void TaskTableModel::nameRows(qsizetype first, qsizetype last, bool adding)
{
    if (!adding && first == 0 && last + 1 == m_list->size()) { // the list emptied
        m_sameName.clear();
        m_folderHints.clear();
        return;
    }
    // The names whose rows listed before now read differently, with how many of those there are
    // (rows come at the end of their group; -1: all that stay): each group is gone through once,
    // however many of its rows came or went.
    QHash<QString, qsizetype> changed;
    for (qsizetype row = first; row <= last; ++row) {
        const TaskItem &task = m_list->at(row);
        const QString name = task.fileName();
        QList<QUuid> &group = m_sameName[name];
        if (adding) {
            if (!group.isEmpty() && !changed.contains(name))
                changed.insert(name, group.size());
            group.append(task.id);
        } else {
            group.removeOne(task.id);
            if (group.isEmpty())
                m_sameName.remove(name);
            else
                changed.insert(name, -1);
        }
    }
    bool repaint = false;
    for (auto it = changed.cbegin(); it != changed.cend(); ++it) {
        const auto group = m_sameName.constFind(it.key());
        if (group == m_sameName.cend())
            continue;
        const qsizetype listed = it.value() < 0 ? group->size() : it.value();
        for (qsizetype i = 0; i < listed; ++i)
            m_changedIds.insert(group->at(i));
        repaint = true;
    }
    if (!repaint)
        return;
    m_folderHints.clear();
    if (!m_coalesce.isActive())
        m_coalesce.start();
}

QString TaskTableModel::folderHint(const TaskItem &task) const
{
    const auto group = m_sameName.constFind(task.fileName());
    if (group == m_sameName.cend() || group->size() < 2)
        return {};
    if (const auto known = m_folderHints.constFind(task.id); known != m_folderHints.cend())
        return *known;
    // One folder more than this row shares, from the end, with any other row of its name.
    const QStringList own = folderNames(task);
    qsizetype shared = 0;
    for (const QUuid &id : *group) {
        const TaskItem *other = id == task.id ? nullptr : m_list->find(id);
        if (other)
            shared = std::max(shared, sharedTail(own, folderNames(*other)));
    }
    const QString hint = shared + 1 >= own.size() ? QLatin1Char('/') + own.join(QLatin1Char('/'))
                                                  : own.sliced(own.size() - shared - 1).join(QLatin1Char('/'));
    m_folderHints.insert(task.id, hint);
    return hint;
}

void TaskTableModel::setList(TaskList *list)
{
    beginResetModel();
    m_changedIds.clear();
    m_sameName.clear();
    m_folderHints.clear();
    if (m_list)
        m_list->disconnect(this);
    m_list = list;
    if (m_list) {
        if (!m_list->isEmpty())
            nameRows(0, m_list->size() - 1, true);
        m_changedIds.clear(); // the reset shows every row anew
        connect(m_list, &TaskList::rowsAboutToBeInserted, this,
                [this](qsizetype first, qsizetype last) { beginInsertRows({}, int(first), int(last)); });
        connect(m_list, &TaskList::rowsInserted, this, [this](qsizetype first, qsizetype last) {
            endInsertRows();
            nameRows(first, last, true);
        });
        connect(m_list, &TaskList::rowChanged, this, &TaskTableModel::rowChanged);
        connect(m_list, &TaskList::rowsAboutToBeRemoved, this, &TaskTableModel::rowsAboutToGo);
        connect(m_list, &TaskList::rowsRemoved, this, [this] {
            if (!m_resettingForRemoval)
                endRemoveRows();
        });
        connect(m_list, &TaskList::changed, this, [this] {
            m_removedRuns = 0;
            if (m_resettingForRemoval) {
                m_resettingForRemoval = false;
                endResetModel();
            }
        });
    }
    endResetModel();
}

void TaskTableModel::rowsAboutToGo(qsizetype first, qsizetype last)
{
    nameRows(first, last, false);
    if (m_resettingForRemoval)
        return;
    // A sorted proxy pays a pass over all its rows for every run removed, and a long run maps
    // to rows all over a differently sorted table: past these limits one reset is cheaper.
    if (++m_removedRuns > kRunsBeforeReset || last - first + 1 > kRowsBeforeReset) {
        m_resettingForRemoval = true;
        beginResetModel();
        m_changedIds.clear();
        return;
    }
    beginRemoveRows({}, int(first), int(last));
}

int TaskTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_list ? 0 : int(m_list->size());
}

int TaskTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TaskTableModel::data(const QModelIndex &index, int role) const
{
    if (!m_list || !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const TaskItem &task = m_list->at(index.row());
    const bool done = task.status == TaskStatus::completed;
    switch (role) {
    case IdRole:
        return task.id;
    case TaskStatusRole:
        return int(task.status);
    case ShownFileRole:
        return shownFile(task);
    case StatusDetailRole:
        return index.column() == StatusColumn ? statusDetail(task) : QString();
    case WarningRole:
        return task.warning.value_or(QString());
    case ModeRole:
        return int(task.mode);
    case FolderHintRole:
        return index.column() == NameColumn ? folderHint(task) : QString();
    case Qt::ToolTipRole:
        if (index.column() == NameColumn)
            return nameToolTip(task);
        if (index.column() == OriginalSizeColumn && !task.isSizeKnown())
            return translated(QT_TRANSLATE_NOOP("TaskTableModel", "无法读取文件大小"));
        if (index.column() == StatusColumn) {
            const QString tip = statusToolTip(task);
            return tip.isEmpty() ? QVariant() : QVariant(tip);
        }
        return {};
    case Qt::AccessibleTextRole:
        if (index.column() == StatusColumn) {
            // A refused job's label is its reason, which the tip repeats.
            QStringList parts{task.isRefused() ? QString() : statusText(task), statusDetail(task), statusToolTip(task)};
            parts.removeAll(QString());
            return parts.join(QLatin1Char(' '));
        }
        if (index.column() == NameColumn) {
            const QString hint = folderHint(task);
            if (!hint.isEmpty())
                return translated(QT_TRANSLATE_NOOP("TaskTableModel", "%1，位于 %2")).arg(task.fileName(), hint);
        }
        return data(index, Qt::DisplayRole);
    case SortRole:
        switch (Column(index.column())) {
        case NameColumn:
            return task.fileName();
        case OriginalSizeColumn:
            return task.originalSize;
        case ResultSizeColumn:
            return task.compressedSizeOrZero();
        case SavingsColumn:
            return task.savingsRatio();
        case StatusColumn:
            return sortRank(task.status);
        case ColumnCount:
            break;
        }
        return {};
    case Qt::DisplayRole:
        switch (Column(index.column())) {
        case NameColumn:
            return task.fileName();
        case OriginalSizeColumn:
            return task.isSizeKnown() ? formattedBytes(task.originalSize) : QStringLiteral("-");
        case ResultSizeColumn:
            return done && task.compressedSize ? formattedBytes(*task.compressedSize) : QStringLiteral("-");
        case SavingsColumn:
            return savingsText(task);
        case StatusColumn:
            return statusText(task);
        case ColumnCount:
            break;
        }
        return {};
    default:
        return {};
    }
}

QVariant TaskTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    const bool restoring = m_list && m_list->mode() == ConversionMode::jxlToJPEG;
    switch (Column(section)) {
    case NameColumn:
        return tr("名称");
    case OriginalSizeColumn:
        return tr("原始大小");
    case ResultSizeColumn:
        return restoring ? tr("还原后大小") : tr("压缩后大小");
    case SavingsColumn:
        return restoring ? tr("复原效果") : tr("节省幅度");
    case StatusColumn:
        return tr("状态");
    case ColumnCount:
        break;
    }
    return {};
}

Qt::ItemFlags TaskTableModel::flags(const QModelIndex &index) const
{
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (m_list && index.isValid() && isDraggable(m_list->at(index.row())))
        flags |= Qt::ItemIsDragEnabled;
    return flags;
}

QStringList TaskTableModel::mimeTypes() const
{
    return {QStringLiteral("text/uri-list")};
}

QMimeData *TaskTableModel::mimeData(const QModelIndexList &indexes) const
{
    if (!m_list)
        return nullptr;
    QList<QUrl> urls;
    QSet<int> rows;
    for (const QModelIndex &index : indexes) {
        if (!index.isValid() || rows.contains(index.row()))
            continue;
        rows.insert(index.row());
        const TaskItem &task = m_list->at(index.row());
        if (isDraggable(task))
            urls.append(*task.destinationURL);
    }
    if (urls.isEmpty())
        return nullptr;
    auto *mime = new QMimeData;
    mime->setUrls(urls);
    return mime;
}

Qt::DropActions TaskTableModel::supportedDragActions() const
{
    // A file manager that received a Move would take the converted photo away from its folder.
    return Qt::CopyAction;
}
