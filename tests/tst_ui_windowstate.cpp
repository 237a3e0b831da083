#include "model/taskitem.h"
#include "ui/windowstate.h"

#include <QSignalSpy>
#include <QTest>

// The window's own state: what a preview shows, the settings opener, and change signals.
class TestWindowState final : public QObject
{
    Q_OBJECT

private:
    static std::optional<QUrl> file(const char *path) { return QUrl::fromLocalFile(QString::fromLatin1(path)); }

    static TaskItem job(const char *path, TaskStatus status, const char *destination)
    {
        TaskItem task;
        task.sourceURL = *file(path);
        task.status = status;
        task.destinationURL = *file(destination);
        return task;
    }

private slots:
    void previewShowsWhatTheJobShows()
    {
        WindowState view;
        QSignalSpy changed(&view, &WindowState::previewItemURLChanged);
        // A completed job's result before its source, any other job's source: a failed job's
        // destination may be somebody else's file and is never shown for it.
        view.previewTask(job("/p/c0.jpg", TaskStatus::completed, "/p/c0.jxl"));
        QCOMPARE(view.previewItemURL(), file("/p/c0.jxl"));
        view.previewTask(job("/p/c3.jpg", TaskStatus::failed, "/p/c3.jxl"));
        QCOMPARE(view.previewItemURL(), file("/p/c3.jpg"));
        // A job whose source names no file has nothing to preview: the preview stays.
        TaskItem unnamed = job("", TaskStatus::failed, "/p/u.jxl");
        unnamed.sourceURL = QUrl(QStringLiteral("pikora-unnamed:1"));
        view.previewTask(unnamed);
        view.setPreviewItemURL(file("/p/c3.jpg")); // the same: no signal
        QCOMPARE(changed.count(), 2);
    }

    // No action installed: nothing to open, and no endless re-entry. Sort order and the
    // statistics flag signal a change once.
    void openerAndSignals()
    {
        WindowState view;
        view.openSettings();
        int opened = 0;
        view.setOpenSettingsAction([&opened] { ++opened; });
        view.openSettings();
        view.setOpenSettingsAction({});
        view.openSettings();
        QCOMPARE(opened, 1);

        QSignalSpy sort(&view, &WindowState::sortOrderChanged);
        QSignalSpy stats(&view, &WindowState::showStatsSheetChanged);
        QCOMPARE(view.sortOrder(), QList<TaskSortDescriptor>{TaskSortDescriptor{}}); // by name, ascending
        view.setSortOrder({TaskSortDescriptor{}});
        view.setSortOrder({{TaskSortKey::status, false}});
        view.setSortOrder({{TaskSortKey::status, false}});
        view.setShowStatsSheet(true);
        view.setShowStatsSheet(true);
        QVERIFY(sort.count() == 1 && stats.count() == 1 && view.showStatsSheet());
    }
};

QTEST_MAIN(TestWindowState)
#include "tst_ui_windowstate.moc"
