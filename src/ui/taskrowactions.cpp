#include "ui/taskrowactions.h"

#include "app/appstate.h"
#include "app/tasklist.h"
#include "app/tasktablemodel.h"
#include "platform/filemanager.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>

#include <algorithm>

TaskRowActions::TaskRowActions(AppState *state, TaskTableModel *model, std::function<int(const QUuid &)> rowOf,
                               QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_model(model)
    , m_rowOf(std::move(rowOf))
{
    m_fileActions.open = &FileManager::openWithDefaultApp;
    m_fileActions.reveal = &FileManager::showItems;
}

const TaskItem *TaskRowActions::task(const QUuid &id) const
{
    return m_model->list() ? m_model->list()->find(id) : nullptr;
}

QList<QUuid> TaskRowActions::rowsActedOn(const QUuid &id) const
{
    const QSet<QUuid> &selected = m_state->selectedTaskIds();
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
    m_state->triggerQuickLook(shown);
}

void TaskRowActions::retry(const QUuid &id)
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
    menu->addAction(tr("快速查看"), this, [this, id] { preview(id); });
    menu->addSeparator();
    menu->addAction(tr("用默认程序打开"), this, [this, id] { open(id); });
    menu->addAction(tr("在文件管理器中显示"), this, [this, id] { reveal(id); });
    menu->addAction(tr("拷贝文件路径"), this, [this, id] { copyPath(id); });
    if (found->status == TaskStatus::failed) {
        menu->addAction(tr("复制错误信息"), this, [this, id] { copyErrors(rowsActedOn(id)); });
        menu->addSeparator();
        QAction *again = menu->addAction(tr("重新尝试此项目"), this, [this, id] { retry(id); });
        const bool toolReady = found->mode == ConversionMode::jpegToJXL ? m_state->isCjxlReady() : m_state->isDjxlReady();
        again->setEnabled(toolReady && found->isRunnable());
    }
    menu->addSeparator();
    const QSet<QUuid> &selected = m_state->selectedTaskIds();
    if (selected.contains(id) && selected.size() >= 2) {
        menu->addAction(tr("从列表中移除 %1 个选中项").arg(selected.size()), m_state, &AppState::removeSelectedTasks);
    } else {
        menu->addAction(tr("从列表中移除"), this, [this, id] {
            if (const TaskItem *current = task(id))
                m_state->removeTask(*current);
        });
    }
    return menu;
}
