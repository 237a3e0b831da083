#include "app/tasklist.h"
#include "app/workspace.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;

// The two job lists, the shown one, the selection, and the user's edits to them.
class TestWorkspace final : public QObject
{
    Q_OBJECT

private:
    static TaskItem makeTask(const QString &path, ConversionMode mode = ConversionMode::jpegToJXL,
                             TaskStatus status = TaskStatus::pending)
    {
        TaskItem task;
        task.sourceURL = QUrl::fromLocalFile(path);
        task.mode = mode;
        task.originalSize = 4;
        task.status = status;
        if (status == TaskStatus::failed)
            task.errorMessage = u"broken"_s;
        return task;
    }

    static QSet<QUuid> idsOf(const QSignalSpy &spy) { return spy.last().first().value<QSet<QUuid>>(); }

private slots:
    void listOperations()
    {
        Workspace workspace;
        TaskList *compress = workspace.compressTasks();
        TaskList *restore = workspace.restoreTasks();
        QCOMPARE(workspace.tasks(ConversionMode::jxlToJPEG), restore);
        QList<TaskItem> c;
        QList<TaskItem> r;
        for (int i = 0; i < 4; ++i) {
            c.append(makeTask(u"/list/c%1.jpg"_s.arg(i), ConversionMode::jpegToJXL,
                              i == 3 ? TaskStatus::failed : TaskStatus::pending));
            r.append(makeTask(u"/list/r%1.jxl"_s.arg(i), ConversionMode::jxlToJPEG));
        }
        compress->append(c);
        restore->append(r);
        QSignalSpy removing(&workspace, &Workspace::removing);

        // removeTask works on the job's own list, whichever is shown, and keeps the order of the rest.
        workspace.setSelectedTaskIds({c[0].id, r[1].id});
        workspace.removeTask(r[1]);
        workspace.removeTask(r[1]); // gone already: nothing to announce
        QVERIFY(restore->indexOf(r[1].id) < 0 && restore->indexOf(r[3].id) == 2);
        QCOMPARE(workspace.selectedTaskIds(), QSet<QUuid>{c[0].id});
        QCOMPARE(removing.count(), 1);
        QCOMPARE(idsOf(removing), QSet<QUuid>{r[1].id}); // announced before it went

        // Selected ids of the other list leave the selection; their jobs stay.
        workspace.setSelectedTaskIds({c[1].id, c[2].id, r[0].id});
        workspace.switchMode(ConversionMode::jpegToJXL); // already shown: the selection stays
        workspace.removeSelectedTasks();
        QVERIFY(compress->size() == 2 && compress->indexOf(c[3].id) == 1 && restore->size() == 3);
        QVERIFY(workspace.selectedTaskIds().isEmpty());
        QCOMPARE(idsOf(removing), (QSet<QUuid>{c[1].id, c[2].id}));
        QCOMPARE(workspace.failedCount(), 1);

        QSignalSpy modes(&workspace, &Workspace::activeModeChanged);
        workspace.selectAllTasks();
        QCOMPARE(workspace.selectedTaskIds(), (QSet<QUuid>{c[0].id, c[3].id}));
        workspace.switchMode(ConversionMode::jxlToJPEG);
        QVERIFY(modes.count() == 1 && workspace.currentTasks() == restore);
        QVERIFY(workspace.selectedTaskIds().isEmpty() && workspace.failedCount() == 0);
        workspace.selectAllTasks();
        workspace.clearCurrentTasks();
        QVERIFY(restore->isEmpty() && workspace.selectedTaskIds().isEmpty() && compress->size() == 2);
        QCOMPARE(idsOf(removing), (QSet<QUuid>{r[0].id, r[2].id, r[3].id}));
        const qsizetype announced = removing.count();
        workspace.clearCurrentTasks(); // an empty list: nothing to announce
        QCOMPARE(removing.count(), announced);
    }

    void retries()
    {
        Workspace workspace;
        TaskList *list = workspace.compressTasks();
        const TaskItem failed = makeTask(u"/retry/a.jpg"_s, ConversionMode::jpegToJXL, TaskStatus::failed);
        const TaskItem other = makeTask(u"/retry/b.jpg"_s, ConversionMode::jpegToJXL, TaskStatus::failed);
        // A job standing in for a photo no path can name: it stays failed, whatever is asked.
        TaskItem unnamed = makeTask(QString(), ConversionMode::jpegToJXL, TaskStatus::failed);
        unnamed.sourceURL = QUrl(u"pikora-unnamed:1"_s);
        const TaskItem done = makeTask(u"/retry/c.jpg"_s, ConversionMode::jpegToJXL, TaskStatus::completed);
        list->append({failed, other, unnamed, done});
        QSignalSpy retried(&workspace, &Workspace::retried);

        // One job by id: that one alone waits again, its error gone.
        QVERIFY(workspace.retryTask(failed.id));
        QCOMPARE(retried.count(), 1);
        QVERIFY(list->find(failed.id)->status == TaskStatus::pending && !list->find(failed.id)->errorMessage);
        QCOMPARE(list->find(other.id)->status, TaskStatus::failed);
        for (const QUuid &id : {done.id, unnamed.id, QUuid::createUuid()})
            QVERIFY(!workspace.retryTask(id));
        workspace.switchMode(ConversionMode::jxlToJPEG);
        QVERIFY(!workspace.retryTask(other.id)); // not in the shown list
        QCOMPARE(retried.count(), 1);

        // All failed jobs of the shown list.
        workspace.switchMode(ConversionMode::jpegToJXL);
        workspace.retryFailedTasks();
        QCOMPARE(retried.count(), 2);
        QVERIFY(list->find(other.id)->status == TaskStatus::pending && !list->find(other.id)->errorMessage);
        QVERIFY(*list->find(unnamed.id) == unnamed);
        QCOMPARE(list->find(done.id)->status, TaskStatus::completed);
    }
};

QTEST_GUILESS_MAIN(TestWorkspace)
#include "tst_workspace.moc"
