#include "ui/tasktableview.h"

#include "app/appstate.h"
#include "app/tasklist.h"
#include "app/tasktablemodel.h"
#include "platform/filemanager.h"
#include "ui/taskrowdelegate.h"
#include "ui/tasksortproxy.h"
#include "ui/thumbnailcache.h"
#include "ui/viewstyle.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>

namespace {

constexpr int kSpinnerMs = 90;

struct ColumnWidth
{
    int minimum;
    int ideal;
};

// Name takes what the others leave; the others keep their ideal widths.
constexpr ColumnWidth kWidths[TaskTableModel::ColumnCount] = {{180, 180}, {72, 84}, {72, 90}, {72, 90}, {90, 130}};

constexpr TaskSortKey kSortKeys[TaskTableModel::ColumnCount] = {
    TaskSortKey::fileName, TaskSortKey::originalSize, TaskSortKey::compressedSizeOrZero, TaskSortKey::savingsRatio,
    TaskSortKey::status};

} // namespace

// The drop outline over the whole table; clicks pass through it.
class TaskTableView::DropOverlay final : public QWidget
{
public:
    explicit DropOverlay(QWidget *parent)
        : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        hide();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        ViewStyle::paintDropHighlight(painter, rect(), palette());
    }
};

TaskTableView::TaskTableView(AppState *state, QWidget *parent)
    : QTableView(parent)
    , m_state(state)
    , m_model(new TaskTableModel(this))
    , m_proxy(nullptr)
    , m_delegate(nullptr)
    , m_dropOverlay(new DropOverlay(this))
{
    m_fileActions.open = &FileManager::openWithDefaultApp;
    m_fileActions.reveal = &FileManager::showItems;
    m_thumbnails = ThumbnailCache::shared();
    m_proxy = new TaskSortProxy(m_model, m_thumbnails, this);
    m_delegate = new TaskRowDelegate(m_thumbnails, this);

    setAccessibleName(tr("照片列表"));
    setModel(m_proxy);
    setItemDelegate(m_delegate);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setAlternatingRowColors(true);
    setShowGrid(false);
    setWordWrap(false);
    setMouseTracking(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setFrameShape(QFrame::NoFrame);

    // Drags out carry copies of finished photos; drops in are imports, handled here.
    setDragEnabled(true);
    setAcceptDrops(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::CopyAction);
    setDropIndicatorShown(false);

    QHeaderView *rows = verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(TaskRowDelegate::kRowHeight);
    QHeaderView *columns = horizontalHeader();
    columns->setHighlightSections(false);
    // The column header gets a selection of its own that stays empty: it highlights nothing, and
    // painting it against the table's selection asks, for every column, whether each of the rows
    // is selected (a tenth of a second for 100,000 selected rows, on every repaint after a change).
    columns->setSelectionModel(new QItemSelectionModel(m_proxy, columns));
    columns->setSectionsMovable(false);
    columns->setMinimumSectionSize(kWidths[TaskTableModel::OriginalSizeColumn].minimum);
    columns->setSectionResizeMode(QHeaderView::Fixed);
    columns->setSectionResizeMode(TaskTableModel::NameColumn, QHeaderView::Stretch);
    for (int column = 1; column < TaskTableModel::ColumnCount; ++column)
        columns->resizeSection(column, kWidths[column].ideal);
    setMinimumWidth(kWidths[0].minimum + kWidths[1].ideal + kWidths[2].ideal + kWidths[3].ideal + kWidths[4].ideal);

    setSortingEnabled(true);
    pullSortOrder();
    connect(columns, &QHeaderView::sortIndicatorChanged, this, &TaskTableView::pushSortOrder);
    connect(m_state, &AppState::sortOrderChanged, this, &TaskTableView::pullSortOrder);

    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &TaskTableView::pushSelection);
    connect(m_state, &AppState::selectedTaskIdsChanged, this, &TaskTableView::pullSelection);
    // A reset (removal, another list) drops the view's selection; the state's still holds.
    connect(m_proxy, &QAbstractItemModel::modelReset, this, &TaskTableView::pullSelection);

    connect(m_delegate, &TaskRowDelegate::revealRequested, this,
            [this](const QModelIndex &index) { revealTask(index.data(TaskTableModel::IdRole).toUuid()); });

    m_spinner.setInterval(kSpinnerMs);
    connect(&m_spinner, &QTimer::timeout, this, &TaskTableView::spinnerTick);

    connect(m_state, &AppState::activeModeChanged, this, &TaskTableView::showList);
    setThumbnailCache(m_thumbnails);
    showList();
}

TaskTableView::~TaskTableView() = default;

void TaskTableView::setThumbnailCache(ThumbnailCache *cache)
{
    if (m_thumbnails) {
        m_thumbnails->disconnect(this);
        verticalScrollBar()->disconnect(m_thumbnails);
    }
    m_thumbnails = cache;
    m_proxy->setThumbnailCache(cache);
    m_delegate->setThumbnailCache(cache);
    if (!cache)
        return;
    cache->setPixelSize(qRound(TaskRowDelegate::kThumbnailSize * devicePixelRatioF()));
    connect(cache, &ThumbnailCache::thumbnailReady, this, [this](const QString &path) { thumbnailReady(path); });
    // Requests for rows that scrolled away would hold up the rows now on screen.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, cache, &ThumbnailCache::dropQueued);
    viewport()->update();
}

const TaskItem *TaskTableView::task(const QUuid &id) const
{
    return m_model->list() ? m_model->list()->find(id) : nullptr;
}

QUuid TaskTableView::taskIdAt(int row) const
{
    return m_proxy->index(row, 0).data(TaskTableModel::IdRole).toUuid();
}

int TaskTableView::rowOf(const QUuid &id) const
{
    const TaskList *list = m_model->list();
    const qsizetype source = list ? list->indexOf(id) : -1;
    return source < 0 ? -1 : m_proxy->mapFromSource(m_model->index(int(source), 0)).row();
}

void TaskTableView::showList()
{
    for (const QMetaObject::Connection &connection : std::as_const(m_listConnections))
        disconnect(connection);
    TaskList *list = m_state->currentTasks();
    m_model->setList(list);
    m_listRemoving = false;
    m_listConnections = {
        connect(list, &TaskList::rowsAboutToBeRemoved, this, [this] { m_listRemoving = true; }),
        connect(list, &TaskList::changed, this,
                [this] {
                    m_listRemoving = false;
                    updateSpinner();
                }),
    };
    updateSpinner();
    pullSelection();
}

// ---- selection: the state's set and the highlighted rows are one

void TaskTableView::pushSelection()
{
    if (m_syncingSelection || m_listRemoving)
        return;
    // By ranges and straight from the list: Ctrl+A on 100,000 rows through selectedRows() and
    // QVariant took most of a second.
    QSet<QUuid> ids;
    const TaskList *list = m_model->list();
    for (const QItemSelectionRange &range : selectionModel()->selection()) {
        for (int row = range.top(); list && row <= range.bottom(); ++row) {
            const int source = m_proxy->mapToSource(m_proxy->index(row, 0)).row();
            if (source >= 0)
                ids.insert(list->at(source).id);
        }
    }
    m_syncingSelection = true;
    m_state->setSelectedTaskIds(ids);
    m_syncingSelection = false;
}

void TaskTableView::pullSelection()
{
    if (m_syncingSelection)
        return;
    const QSet<QUuid> &ids = m_state->selectedTaskIds();
    const TaskList *list = m_model->list();
    QItemSelection selection;
    const int last = m_proxy->columnCount() - 1;
    if (list && !ids.isEmpty() && ids.size() >= list->size() && m_proxy->rowCount() > 0) {
        selection.select(m_proxy->index(0, 0), m_proxy->index(m_proxy->rowCount() - 1, last));
    } else if (list) {
        QList<int> rows;
        rows.reserve(ids.size());
        for (const QUuid &id : ids) {
            const int row = rowOf(id);
            if (row >= 0)
                rows.append(row);
        }
        std::sort(rows.begin(), rows.end());
        // Neighbouring rows become one range: selecting 50,000 rows stays one cheap call.
        for (qsizetype i = 0; i < rows.size();) {
            qsizetype j = i;
            while (j + 1 < rows.size() && rows.at(j + 1) == rows.at(j) + 1)
                ++j;
            selection.append(QItemSelectionRange(m_proxy->index(rows.at(i), 0), m_proxy->index(rows.at(j), last)));
            i = j + 1;
        }
    }
    m_syncingSelection = true;
    selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    m_syncingSelection = false;
}

// ---- sorting follows the state's sort order and sets it

void TaskTableView::pushSortOrder(int column, Qt::SortOrder order)
{
    if (m_syncingSort || column < 0 || column >= TaskTableModel::ColumnCount)
        return;
    m_syncingSort = true;
    m_state->setSortOrder({TaskSortDescriptor{kSortKeys[column], order == Qt::AscendingOrder}});
    m_syncingSort = false;
}

void TaskTableView::pullSortOrder()
{
    if (m_syncingSort || m_state->sortOrder().isEmpty())
        return;
    const TaskSortDescriptor first = m_state->sortOrder().constFirst();
    const auto found = std::find(std::begin(kSortKeys), std::end(kSortKeys), first.key);
    const int column = int(found - std::begin(kSortKeys));
    m_syncingSort = true;
    sortByColumn(column, first.ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    m_syncingSort = false;
}

// ---- row actions

void TaskTableView::openTask(const QUuid &id)
{
    if (const TaskItem *found = task(id); found && m_fileActions.open)
        m_fileActions.open(TaskTableModel::shownFile(*found));
}

void TaskTableView::revealTask(const QUuid &id)
{
    if (const TaskItem *found = task(id); found && m_fileActions.reveal)
        m_fileActions.reveal({TaskTableModel::shownFile(*found)});
}

void TaskTableView::previewTask(const QUuid &id)
{
    const TaskItem *found = task(id);
    if (!found)
        return;
    // The preview takes the output when there is one; an unfinished job's output is not ours yet.
    TaskItem shown = *found;
    if (shown.status != TaskStatus::completed)
        shown.destinationURL.reset();
    m_state->triggerQuickLook(shown);
}

void TaskTableView::retryTask(const QUuid &id)
{
    const TaskItem *found = task(id);
    // A photo whose name no path can carry stays failed: no retry can make it safe.
    if (!found || found->status != TaskStatus::failed || !found->isRunnable())
        return;
    TaskItem retried = *found;
    retried.status = TaskStatus::pending;
    retried.errorMessage.reset();
    m_state->tasks(retried.mode)->replace(retried);
    m_state->startCurrentProcessing();
}

QMenu *TaskTableView::makeRowMenu(const QUuid &id, QWidget *parent)
{
    const TaskItem *found = task(id);
    if (!found)
        return nullptr;
    auto *menu = new QMenu(parent);
    menu->addAction(tr("快速查看"), this, [this, id] { previewTask(id); });
    menu->addSeparator();
    menu->addAction(tr("用默认程序打开"), this, [this, id] { openTask(id); });
    menu->addAction(tr("在文件管理器中显示"), this, [this, id] { revealTask(id); });
    menu->addAction(tr("拷贝文件路径"), this, [this, id] {
        if (const TaskItem *current = task(id))
            QGuiApplication::clipboard()->setText(current->sourcePathText());
    });
    menu->addSeparator();
    const auto remove = [this, id] {
        if (const TaskItem *current = task(id))
            m_state->removeTask(*current);
    };
    menu->addAction(tr("从列表中移除"), this, remove);
    if (found->status == TaskStatus::failed) {
        menu->addSeparator();
        QAction *retry = menu->addAction(tr("重新尝试此项目"), this, [this, id] { retryTask(id); });
        const bool toolReady = found->mode == ConversionMode::jpegToJXL ? m_state->isCjxlReady() : m_state->isDjxlReady();
        retry->setEnabled(toolReady && found->isRunnable());
    }
    menu->addSeparator();
    const QSet<QUuid> &selected = m_state->selectedTaskIds();
    if (selected.contains(id) && selected.size() >= 2)
        menu->addAction(tr("从列表中移除 %n 个选中项", nullptr, int(selected.size())), m_state, &AppState::removeSelectedTasks);
    else
        menu->addAction(tr("从列表中移除"), this, remove);
    return menu;
}

void TaskTableView::contextMenuEvent(QContextMenuEvent *event)
{
    const QModelIndex index =
        event->reason() == QContextMenuEvent::Mouse ? indexAt(event->pos()) : currentIndex();
    if (!index.isValid())
        return;
    QMenu *menu = makeRowMenu(index.data(TaskTableModel::IdRole).toUuid(), this);
    if (!menu)
        return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const QPoint at = event->reason() == QContextMenuEvent::Mouse
        ? event->globalPos()
        : viewport()->mapToGlobal(visualRect(index).bottomLeft());
    menu->popup(at);
    event->accept();
}

void TaskTableView::keyPressEvent(QKeyEvent *event)
{
    if (event->matches(QKeySequence::Delete) || event->key() == Qt::Key_Backspace) {
        m_state->removeSelectedTasks();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        QUuid id;
        const QModelIndex current = currentIndex();
        if (current.isValid() && selectionModel()->isRowSelected(current.row(), QModelIndex()))
            id = current.data(TaskTableModel::IdRole).toUuid();
        else if (!m_state->selectedTaskIds().isEmpty())
            id = *m_state->selectedTaskIds().constBegin();
        if (!id.isNull())
            previewTask(id);
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void TaskTableView::mouseDoubleClickEvent(QMouseEvent *event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && index.isValid()) {
        openTask(index.data(TaskTableModel::IdRole).toUuid());
        event->accept();
        return;
    }
    QTableView::mouseDoubleClickEvent(event);
}

// ---- drag and drop

void TaskTableView::startDrag(Qt::DropActions)
{
    // Copies only: a move would let the receiver take the converted photo out of its folder.
    QTableView::startDrag(Qt::CopyAction);
}

void TaskTableView::dragEnterEvent(QDragEnterEvent *event)
{
    setDropTargeted(ViewStyle::acceptAsCopy(event, this));
}

void TaskTableView::dragMoveEvent(QDragMoveEvent *event)
{
    setDropTargeted(ViewStyle::acceptAsCopy(event, this));
}

void TaskTableView::dragLeaveEvent(QDragLeaveEvent *event)
{
    setDropTargeted(false);
    event->accept();
}

void TaskTableView::dropEvent(QDropEvent *event)
{
    setDropTargeted(false);
    if (ViewStyle::acceptAsCopy(event, this))
        m_state->importURLs(ViewStyle::localFiles(event->mimeData()));
}

void TaskTableView::setDropTargeted(bool targeted)
{
    m_dropOverlay->setGeometry(rect());
    m_dropOverlay->setVisible(targeted);
    if (targeted)
        m_dropOverlay->raise();
}

void TaskTableView::resizeEvent(QResizeEvent *event)
{
    QTableView::resizeEvent(event);
    m_dropOverlay->setGeometry(rect());
}

// ---- thumbnails and spinners: only rows on screen are touched

void TaskTableView::thumbnailReady(const QString &path)
{
    const int first = std::max(0, rowAt(0));
    int last = rowAt(viewport()->height() - 1);
    if (last < 0)
        last = m_proxy->rowCount() - 1;
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = m_proxy->index(row, TaskTableModel::NameColumn);
        // A row that shows another file by now (its job finished) keeps its own thumbnail.
        if (index.data(TaskTableModel::ShownFileRole).toUrl().toLocalFile() == path)
            viewport()->update(visualRect(index));
    }
}

void TaskTableView::updateSpinner()
{
    const TaskList *list = m_model->list();
    const bool running = list && list->count(TaskStatus::processing) + list->count(TaskStatus::verifying) > 0;
    if (running && !m_spinner.isActive())
        m_spinner.start();
    else if (!running)
        m_spinner.stop();
}

void TaskTableView::spinnerTick()
{
    m_delegate->advanceSpinner();
    const int first = std::max(0, rowAt(0));
    int last = rowAt(viewport()->height() - 1);
    if (last < 0)
        last = m_proxy->rowCount() - 1;
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = m_proxy->index(row, TaskTableModel::StatusColumn);
        const auto status = TaskStatus(index.data(TaskTableModel::TaskStatusRole).toInt());
        if (status == TaskStatus::processing || status == TaskStatus::verifying)
            viewport()->update(visualRect(index));
    }
}
