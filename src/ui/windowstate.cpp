#include "ui/windowstate.h"

#include "model/taskitem.h"

WindowState::WindowState(QObject *parent)
    : QObject(parent)
{
}

void WindowState::setSortOrder(const QList<TaskSortDescriptor> &order)
{
    if (order == m_sortOrder)
        return;
    m_sortOrder = order;
    Q_EMIT sortOrderChanged();
}

void WindowState::setPreviewItemURL(const std::optional<QUrl> &url)
{
    if (url == m_previewItemURL)
        return;
    m_previewItemURL = url;
    Q_EMIT previewItemURLChanged();
}

void WindowState::previewTask(const TaskItem &task)
{
    if (task.isRunnable())
        setPreviewItemURL(task.shownURL());
}

void WindowState::setShowStatsSheet(bool show)
{
    if (show == m_showStatsSheet)
        return;
    m_showStatsSheet = show;
    Q_EMIT showStatsSheetChanged();
}

void WindowState::setShowUpdateSheet(bool show)
{
    if (show == m_showUpdateSheet)
        return;
    m_showUpdateSheet = show;
    Q_EMIT showUpdateSheetChanged();
}

void WindowState::openSettings()
{
    // Without an installed action there is nothing to open; the menu command that would be the
    // fallback calls back here, so it is not tried (it would never end).
    if (m_openSettingsAction)
        m_openSettingsAction();
}
