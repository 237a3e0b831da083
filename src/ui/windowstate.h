#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

#include <functional>
#include <optional>

struct TaskItem;

// The keys the job table can sort by.
enum class TaskSortKey { fileName, originalSize, compressedSizeOrZero, savingsRatio, status };

struct TaskSortDescriptor
{
    TaskSortKey key = TaskSortKey::fileName;
    bool ascending = true;
    bool operator==(const TaskSortDescriptor &other) const = default;
};

// What the window shows and how, none of which the core needs: the table's sort order, the
// previewed item, whether the statistics popup is open, and how the settings window opens.
class WindowState final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(WindowState)

public:
    explicit WindowState(QObject *parent = nullptr);

    const QList<TaskSortDescriptor> &sortOrder() const { return m_sortOrder; }
    void setSortOrder(const QList<TaskSortDescriptor> &order);
    const std::optional<QUrl> &previewItemURL() const { return m_previewItemURL; }
    void setPreviewItemURL(const std::optional<QUrl> &url);
    // Previews what a job shows (its result once completed, else its source); a job whose
    // source names no file has nothing to preview.
    void previewTask(const TaskItem &task);
    bool showStatsSheet() const { return m_showStatsSheet; }
    void setShowStatsSheet(bool show);
    // Whether the sheet offering a found update is open.
    bool showUpdateSheet() const { return m_showUpdateSheet; }
    void setShowUpdateSheet(bool show);

    // The settings window opens through whatever the window installed; without it, nothing opens.
    void setOpenSettingsAction(std::function<void()> action) { m_openSettingsAction = std::move(action); }
    void openSettings();

Q_SIGNALS:
    void sortOrderChanged();
    void previewItemURLChanged();
    void showStatsSheetChanged();
    void showUpdateSheetChanged();

private:
    QList<TaskSortDescriptor> m_sortOrder{TaskSortDescriptor{}};
    std::optional<QUrl> m_previewItemURL;
    bool m_showStatsSheet = false;
    bool m_showUpdateSheet = false;
    std::function<void()> m_openSettingsAction;
};
