#include "ui/tasktableview.h"

#include "app/importservice.h"
#include "app/tasklist.h"
#include "app/tasktablemodel.h"
#include "app/toolstatus.h"
#include "app/workspace.h"
#include "platform/filemanager.h"
#include "ui/dropoverlay.h"
#include "ui/filedrops.h"
#include "ui/taskrowdelegate.h"
#include "ui/tasksortproxy.h"
#include "ui/thumbnailcache.h"
#include "ui/windowstate.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QScrollBar>

#include <algorithm>

namespace {

constexpr int kSpinnerMs = 90;

// The name column takes what the others leave, and never less than this.
constexpr int kNameMinimumWidth = 180;

constexpr TaskSortKey kSortKeys[TaskTableModel::ColumnCount] = {
    TaskSortKey::fileName, TaskSortKey::originalSize, TaskSortKey::compressedSizeOrZero, TaskSortKey::savingsRatio,
    TaskSortKey::status};

} // namespace

TaskTableView::TaskTableView(Workspace *workspace, ImportService *imports, ToolStatus *tools,
                             ThumbnailCache *thumbnails, WindowState *view, QWidget *parent)
    : QTableView(parent)
    , m_workspace(workspace)
    , m_imports(imports)
    , m_tools(tools)
    , m_view(view)
    , m_model(new TaskTableModel(this))
    , m_proxy(nullptr)
    , m_delegate(nullptr)
    , m_rowActions(new TaskRowActions(m_workspace, m_tools, m_view, m_model, [this](const QUuid &id) { return rowOf(id); }, this))
    , m_dropOverlay(new DropOverlay(this))
{
    // A reveal that no file manager can carry out says so instead of doing nothing.
    FileActions actions;
    actions.open = &FileManager::openWithDefaultApp;
    actions.reveal = [this](const QList<QUrl> &files) {
        FileManager::showItems(files, [view = QPointer<TaskTableView>(this)](const QString &reason) {
            if (!view)
                return;
            auto *box = new QMessageBox(QMessageBox::Warning, tr("无法在文件管理器中显示"), reason, QMessageBox::Ok, view->window());
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        });
    };
    m_rowActions->setFileActions(actions);
    m_thumbnails = thumbnails;
    m_proxy = new TaskSortProxy(m_model, this);
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
    // is selected, on every repaint after a change.
    columns->setSelectionModel(new QItemSelectionModel(m_proxy, columns));
    columns->setSectionsMovable(false);
    columns->setSectionResizeMode(QHeaderView::Fixed);
    columns->setSectionResizeMode(TaskTableModel::NameColumn, QHeaderView::Stretch);
    fitColumns();

    setSortingEnabled(true);
    pullSortOrder();
    connect(columns, &QHeaderView::sortIndicatorChanged, this, &TaskTableView::pushSortOrder);
    connect(m_view, &WindowState::sortOrderChanged, this, &TaskTableView::pullSortOrder);

    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &TaskTableView::pushSelection);
    connect(m_workspace, &Workspace::selectedTaskIdsChanged, this, &TaskTableView::pullSelection);
    // A reset (removal, another list) drops the view's selection; the workspace's still holds.
    connect(m_proxy, &QAbstractItemModel::modelReset, this, &TaskTableView::pullSelection);

    connect(m_delegate, &TaskRowDelegate::revealRequested, this,
            [this](const QModelIndex &index) { m_rowActions->reveal(index.data(TaskTableModel::IdRole).toUuid()); });

    m_spinner.setInterval(kSpinnerMs);
    connect(&m_spinner, &QTimer::timeout, this, &TaskTableView::spinnerTick);

    connect(m_workspace, &Workspace::activeModeChanged, this, &TaskTableView::showList);
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
    m_delegate->setThumbnailCache(cache);
    if (!cache)
        return;
    cache->setPixelSize(qRound(TaskRowDelegate::kThumbnailSize * devicePixelRatioF()));
    connect(cache, &ThumbnailCache::thumbnailReady, this, [this](const QString &path) { thumbnailReady(path); });
    // Requests for rows that scrolled away would hold up the rows now on screen.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, cache, &ThumbnailCache::dropQueued);
    viewport()->update();
}

void TaskTableView::setBottomMargin(int height)
{
    m_bottomMargin = height;
    updateGeometries();
}

void TaskTableView::updateGeometries()
{
    // The base class sets the margins for its headers; the bottom one is added here.
    QTableView::updateGeometries();
    const QMargins margins = viewportMargins();
    if (margins.bottom() != m_bottomMargin)
        setViewportMargins(margins.left(), margins.top(), margins.right(), m_bottomMargin);
}

void TaskTableView::fitColumns()
{
    // Each column but the name is as wide as the widest text it can show, or its title.
    QHeaderView *columns = horizontalHeader();
    int fixed = 0;
    for (int column = 1; column < TaskTableModel::ColumnCount; ++column) {
        const int width = std::max(m_delegate->columnWidth(column), columns->sectionSizeHint(column));
        columns->resizeSection(column, width);
        fixed += width;
    }
    // The scroll bar of a long list takes its width from the name, never from the window.
    setMinimumWidth(kNameMinimumWidth + fixed + verticalScrollBar()->sizeHint().width() + 2 * frameWidth());
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
    TaskList *list = m_workspace->currentTasks();
    m_model->setList(list);
    // Titles and texts differ between the directions.
    fitColumns();
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

// ---- selection: the workspace's selected ids and the highlighted rows are one

void TaskTableView::pushSelection()
{
    if (m_syncingSelection || m_listRemoving)
        return;
    // By ranges and straight from the list: going through selectedRows() and a QVariant per row
    // stalls Ctrl+A on a long list.
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
    m_workspace->setSelectedTaskIds(ids);
    m_syncingSelection = false;
}

void TaskTableView::pullSelection()
{
    if (m_syncingSelection)
        return;
    const QSet<QUuid> &ids = m_workspace->selectedTaskIds();
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
        // Neighbouring rows become one range: selecting a long run of rows stays one cheap call.
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

// ---- sorting follows WindowState's sort order and sets it

void TaskTableView::pushSortOrder(int column, Qt::SortOrder order)
{
    if (m_syncingSort || column < 0 || column >= TaskTableModel::ColumnCount)
        return;
    m_syncingSort = true;
    m_view->setSortOrder({TaskSortDescriptor{kSortKeys[column], order == Qt::AscendingOrder}});
    m_syncingSort = false;
}

void TaskTableView::pullSortOrder()
{
    if (m_syncingSort || m_view->sortOrder().isEmpty())
        return;
    const TaskSortDescriptor first = m_view->sortOrder().constFirst();
    const auto found = std::find(std::begin(kSortKeys), std::end(kSortKeys), first.key);
    const int column = int(found - std::begin(kSortKeys));
    m_syncingSort = true;
    sortByColumn(column, first.ascending ? Qt::AscendingOrder : Qt::DescendingOrder);
    m_syncingSort = false;
}

// ---- row actions

void TaskTableView::contextMenuEvent(QContextMenuEvent *event)
{
    const QModelIndex index =
        event->reason() == QContextMenuEvent::Mouse ? indexAt(event->pos()) : currentIndex();
    if (!index.isValid())
        return;
    QMenu *menu = m_rowActions->makeMenu(index.data(TaskTableModel::IdRole).toUuid(), this);
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
        m_workspace->removeSelectedTasks();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        QUuid id;
        const QModelIndex current = currentIndex();
        if (current.isValid() && selectionModel()->isRowSelected(current.row(), QModelIndex()))
            id = current.data(TaskTableModel::IdRole).toUuid();
        else if (!m_workspace->selectedTaskIds().isEmpty())
            id = *m_workspace->selectedTaskIds().constBegin();
        if (!id.isNull())
            m_rowActions->preview(id);
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

void TaskTableView::mouseDoubleClickEvent(QMouseEvent *event)
{
    const QModelIndex index = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && index.isValid()) {
        m_rowActions->open(index.data(TaskTableModel::IdRole).toUuid());
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
    m_dropOverlay->setTargeted(FileDrops::acceptAsCopy(event, this));
}

void TaskTableView::dragMoveEvent(QDragMoveEvent *event)
{
    m_dropOverlay->setTargeted(FileDrops::acceptAsCopy(event, this));
}

void TaskTableView::dragLeaveEvent(QDragLeaveEvent *event)
{
    m_dropOverlay->setTargeted(false);
    event->accept();
}

void TaskTableView::dropEvent(QDropEvent *event)
{
    m_dropOverlay->setTargeted(false);
    if (FileDrops::acceptAsCopy(event, this))
        m_imports->importURLs(FileDrops::localFiles(event->mimeData()));
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
