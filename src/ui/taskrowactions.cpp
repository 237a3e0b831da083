#include "ui/taskrowactions.h"

#include "app/tasklist.h"
#include "app/tasktablemodel.h"
#include "app/toolstatus.h"
#include "app/workspace.h"
#include "platform/filemanager.h"
#include "ui/windowstate.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>

#include <algorithm>

TaskRowActions::TaskRowActions(Workspace *workspace, ToolStatus *tools, WindowState *view, TaskTableModel *model,
                               std::function<int(const QUuid &)> rowOf, QObject *parent)
    : QObject(parent)
    , m_workspace(workspace)
    , m_tools(tools)
    , m_view(view)
    , m_model(model)
    , m_rowOf(std::move(rowOf))
{
    m_fileActions.open = &FileManager::openWithDefaultApp;
    m_fileActions.reveal = [](const QList<QUrl> &files) { FileManager::showItems(files); };
}

const TaskItem *TaskRowActions::task(const QUuid &id) const
{
    return m_model->list() ? m_model->list()->find(id) : nullptr;
}

QList<QUuid> TaskRowActions::rowsActedOn(const QUuid &id) const
{
    const QSet<QUuid> &selected = m_workspace->selectedTaskIds();
    if (!selected.contains(id) || selected.size() < 2)
        return {id};
    QList<QUuid> ids(selected.cbegin(), selected.cend());
    std::sort(ids.begin(), ids.end(), [this](const QUuid &a, const QUuid &b) { return m_rowOf(a) < m_rowOf(b); });
    return ids;
}

void TaskRowActions::open(const QUuid &id)
{
    if (const TaskItem *found = task(id); found && m_fileActions.open)
        m_fileActions.open(TaskTableModel::shownFile(*found));
}

void TaskRowActions::reveal(const QUuid &id)
{
    if (const TaskItem *found = task(id); found && m_fileActions.reveal)
        m_fileActions.reveal({TaskTableModel::shownFile(*found)});
}

void TaskRowActions::preview(const QUuid &id)
{
    const TaskItem *found = task(id);
    if (!found)
        return;
    // The preview takes the output when there is one; an unfinished job's output is not ours yet.
    TaskItem shown = *found;
    if (shown.status != TaskStatus::completed)
        shown.destinationURL.reset();
    m_view->previewTask(shown);
}

void TaskRowActions::retry(const QUuid &id)
{
    m_workspace->retryTask(id);
}

void TaskRowActions::copyPath(const QUuid &id)
{
    if (const TaskItem *found = task(id))
        QGuiApplication::clipboard()->setText(found->sourcePathText());
}

void TaskRowActions::copyErrors(const QList<QUuid> &ids)
{
    QStringList lines;
    for (const QUuid &id : ids) {
        const TaskItem *found = task(id);
        if (!found || found->status != TaskStatus::failed)
            continue;
        const QString reason =
            found->errorMessage.value_or(QCoreApplication::translate("TaskTableModel", "未知错误"));
        lines.append(tr("%1：%2").arg(found->sourcePathText(), reason));
    }
    if (!lines.isEmpty())
        QGuiApplication::clipboard()->setText(lines.join(QLatin1Char('\n')));
}

QMenu *TaskRowActions::makeMenu(const QUuid &id, QWidget *parent)
{
    const TaskItem *found = task(id);
    if (!found)
        return nullptr;
    auto *menu = new QMenu(parent);
    menu->addAction(tr("快速查看(&Q)"), this, [this, id] { preview(id); });
    menu->addSeparator();
    menu->addAction(tr("用默认程序打开(&O)"), this, [this, id] { open(id); });
    menu->addAction(tr("在文件管理器中显示(&S)"), this, [this, id] { reveal(id); });
    menu->addAction(tr("拷贝文件路径(&P)"), this, [this, id] { copyPath(id); });
    if (found->status == TaskStatus::failed)
        menu->addAction(tr("复制错误信息(&E)"), this, [this, id] { copyErrors(rowsActedOn(id)); });
    // A refused job is never offered a retry; another failure waits for its tool.
    if (found->status == TaskStatus::failed && !found->isRefused()) {
        menu->addSeparator();
        QAction *again = menu->addAction(tr("重新尝试此项目(&R)"), this, [this, id] { retry(id); });
        again->setEnabled(found->mode == ConversionMode::jpegToJXL ? m_tools->isCjxlReady() : m_tools->isDjxlReady());
    }
    menu->addSeparator();
    const QSet<QUuid> &selected = m_workspace->selectedTaskIds();
    if (selected.contains(id) && selected.size() >= 2) {
        menu->addAction(tr("从列表中移除 %n 个选中项(&M)", nullptr, int(selected.size())), m_workspace, &Workspace::removeSelectedTasks);
    } else {
        menu->addAction(tr("从列表中移除(&M)"), this, [this, id] {
            if (const TaskItem *current = task(id))
                m_workspace->removeTask(*current);
        });
    }
    return menu;
}
