#include "app/tasklist.h"
#include "app/workspace.h"

#include <QSignalSpy>
#include <QTest>

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
        return task;
    }

    static QSet<QUuid> idsOf(const QList<QVariant> &arguments)
    {
        return arguments.first().value<QSet<QUuid>>();
    }

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
            c.append(makeTask(QStringLiteral("/list/c%1.jpg").arg(i)));
            r.append(makeTask(QStringLiteral("/list/r%1.jxl").arg(i), ConversionMode::jxlToJPEG));
        }
        c[3].status = TaskStatus::failed;
        compress->append(c);
        restore->append(r);
        QSignalSpy removing(&workspace, &Workspace::removing);

        // removeTask works on the job's own list, whichever is shown, and keeps the order of the rest.
        workspace.setSelectedTaskIds({c[0].id, r[1].id});
        workspace.removeTask(r[1]);
        QVERIFY(restore->indexOf(r[1].id) < 0 && restore->indexOf(r[3].id) == 2);
        QCOMPARE(workspace.selectedTaskIds(), QSet<QUuid>{c[0].id});
        QCOMPARE(removing.count(), 1);
        QCOMPARE(idsOf(removing.first()), QSet<QUuid>{r[1].id}); // announced before it went
        workspace.removeTask(r[1]); // gone already: nothing to announce
        QCOMPARE(removing.count(), 1);

        // Selected ids of the other list leave the selection; their jobs stay.
        workspace.setSelectedTaskIds({c[1].id, c[2].id, r[0].id});
        workspace.switchMode(ConversionMode::jpegToJXL); // already shown: the selection stays
        workspace.removeSelectedTasks();
        QVERIFY(compress->size() == 2 && compress->indexOf(c[3].id) == 1);
        QCOMPARE(restore->size(), 3);
        QVERIFY(workspace.selectedTaskIds().isEmpty());
        QCOMPARE(idsOf(removing.last()), (QSet<QUuid>{c[1].id, c[2].id}));
        QCOMPARE(workspace.failedCount(), 1);

        QSignalSpy modes(&workspace, &Workspace::activeModeChanged);
        workspace.selectAllTasks();
        QCOMPARE(workspace.selectedTaskIds(), (QSet<QUuid>{c[0].id, c[3].id}));
        workspace.switchMode(ConversionMode::jxlToJPEG);
        QCOMPARE(modes.count(), 1);
        QCOMPARE(workspace.currentTasks(), restore);
        QVERIFY(workspace.selectedTaskIds().isEmpty());
        QCOMPARE(workspace.failedCount(), 0);
        workspace.selectAllTasks();
        QCOMPARE(workspace.selectedTaskIds().size(), 3);
        workspace.clearCurrentTasks();
        QVERIFY(restore->isEmpty() && workspace.selectedTaskIds().isEmpty());
        QCOMPARE(idsOf(removing.last()), (QSet<QUuid>{r[0].id, r[2].id, r[3].id}));
        QCOMPARE(compress->size(), 2);
        const int announced = int(removing.count());
        workspace.clearCurrentTasks(); // an empty list: nothing to announce
        QCOMPARE(removing.count(), announced);
    }

    void retries()
    {
        Workspace workspace;
        TaskList *list = workspace.compressTasks();
        TaskItem failed = makeTask(QStringLiteral("/retry/a.jpg"), ConversionMode::jpegToJXL, TaskStatus::failed);
        failed.errorMessage = QStringLiteral("broken");
        TaskItem other = makeTask(QStringLiteral("/retry/b.jpg"), ConversionMode::jpegToJXL, TaskStatus::failed);
        other.errorMessage = QStringLiteral("broken too");
        // A job standing in for a photo no path can name: it stays failed, whatever is asked.
        TaskItem unnamed = makeTask(QString(), ConversionMode::jpegToJXL, TaskStatus::failed);
        unnamed.sourceURL = QUrl(QStringLiteral("pikora-unnamed:1"));
        unnamed.errorMessage = QStringLiteral("not UTF-8");
        const TaskItem done = makeTask(QStringLiteral("/retry/c.jpg"), ConversionMode::jpegToJXL, TaskStatus::completed);
        list->append({failed, other, unnamed, done});
        QSignalSpy retried(&workspace, &Workspace::retried);

        // One job by id: that one alone waits again.
        QVERIFY(workspace.retryTask(failed.id));
        QCOMPARE(retried.count(), 1);
        QCOMPARE(list->find(failed.id)->status, TaskStatus::pending);
        QVERIFY(!list->find(failed.id)->errorMessage);
        QCOMPARE(list->find(other.id)->status, TaskStatus::failed);
        QVERIFY(!workspace.retryTask(done.id));
        QVERIFY(!workspace.retryTask(unnamed.id));
        QVERIFY(!workspace.retryTask(QUuid::createUuid()));
        workspace.switchMode(ConversionMode::jxlToJPEG);
        QVERIFY(!workspace.retryTask(other.id)); // not in the shown list
        QCOMPARE(retried.count(), 1);

        // All failed jobs of the shown list.
        workspace.switchMode(ConversionMode::jpegToJXL);
        workspace.retryFailedTasks();
        QCOMPARE(retried.count(), 2);
        QCOMPARE(list->find(other.id)->status, TaskStatus::pending);
        QVERIFY(!list->find(other.id)->errorMessage);
        QVERIFY(*list->find(unnamed.id) == unnamed);
        QCOMPARE(list->find(done.id)->status, TaskStatus::completed);
        QVERIFY(list->find(failed.id)->isWaiting() && list->find(unnamed.id)->isWaiting() && !list->find(done.id)->isWaiting());
    }
};

QTEST_GUILESS_MAIN(TestWorkspace)
#include "tst_workspace.moc"
