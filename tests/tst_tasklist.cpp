#include "app/tasklist.h"
#include "app/tasktablemodel.h"
#include "sampletasks.h"

#include <QAbstractItemModelTester>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;
using SampleTasks::make;

Q_DECLARE_METATYPE(TaskStatus)
Q_DECLARE_METATYPE(ConversionMode)

// A job list and the table model over it, without a window: the texts of a row in each job
// state, the folders that tell rows of one name apart, row updates, removals in runs, the path
// index, what may be dragged out.
class TestTaskList final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TaskList> m_list;
    std::unique_ptr<TaskTableModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;

    void show(ConversionMode mode, const QList<TaskItem> &tasks)
    {
        m_list = std::make_unique<TaskList>(mode);
        m_model->setList(m_list.get());
        m_list->append(tasks);
    }

    QString cell(int row, int column, int role = Qt::DisplayRole) const
    {
        return m_model->index(row, column).data(role).toString();
    }

    // The columns, then the status cell's detail and tool tip, joined by |.
    QString rowText(int row) const
    {
        QStringList texts;
        for (int column = 0; column < TaskTableModel::ColumnCount; ++column)
            texts.append(cell(row, column));
        texts << cell(row, TaskTableModel::StatusColumn, TaskTableModel::StatusDetailRole)
              << cell(row, TaskTableModel::StatusColumn, Qt::ToolTipRole);
        return texts.join(u'|');
    }

    QStringList folderHints() const
    {
        QStringList hints;
        for (int row = 0; row < m_model->rowCount(); ++row)
            hints.append(cell(row, TaskTableModel::NameColumn, TaskTableModel::FolderHintRole));
        return hints;
    }

private slots:
    void init()
    {
        m_model = std::make_unique<TaskTableModel>();
        m_tester = std::make_unique<QAbstractItemModelTester>(m_model.get(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    }

    void cleanup()
    {
        m_tester.reset();
        m_model.reset();
        m_list.reset();
    }

    void rowTexts_data()
    {
        QTest::addColumn<TaskStatus>("status");
        QTest::addColumn<ConversionMode>("mode");
        QTest::addColumn<qint64>("size");
        QTest::addColumn<QString>("change"); // verified, reused, warned (W), no message, refused
        QTest::addColumn<QString>("texts");
        using S = TaskStatus;
        const auto jxl = ConversionMode::jpegToJXL;
        const auto jpeg = ConversionMode::jxlToJPEG;
        const qint64 mb = 2'000'000;
        // An empty file is 0 KB; a size the file system would not tell is no size at all.
        QTest::newRow("empty") << S::pending << jxl << qint64(0) << QString() << u"x.jpg|0 KB|-|-|就绪||"_s;
        QTest::newRow("size unknown") << S::pending << jxl << TaskItem::kUnknownSize << QString() << u"x.jpg|-|-|-|就绪||"_s;
        QTest::newRow("compressed") << S::completed << jxl << mb << QString() << u"x.jpg|2 MB|1.5 MB|\u221225.0%|已完成|· 1.25s|"_s;
        // A compression that grew shows no saving.
        QTest::newRow("grew") << S::completed << jxl << qint64(1'400'000) << QString() << u"x.jpg|1.4 MB|1.5 MB|-|已完成|· 1.25s|"_s;
        // A restore is whole only when the digest stored at compression proved it.
        QTest::newRow("restored") << S::completed << jpeg << mb << u"verified"_s << u"x.jpg|2 MB|1.5 MB|100% 完整复原|已完成|· 1.25s|"_s;
        QTest::newRow("unproven") << S::completed << jpeg << mb << u"warned"_s << u"x.jpg|2 MB|1.5 MB|已复原（未校验）|已完成|· 1.25s|W"_s;
        QTest::newRow("failed") << S::failed << jxl << mb << QString() << u"x.jpg|2 MB|-|-|未能完成||cjxl: broken"_s;
        QTest::newRow("no message") << S::failed << jxl << mb << u"no message"_s << u"x.jpg|2 MB|-|-|未能完成||未知错误"_s;
        // A photo whose name is not UTF-8 is refused at import: its row says why first.
        const QString reason = u"文件名不是有效的 UTF-8 编码，无法处理"_s;
        QTest::newRow("refused") << S::failed << jxl << qint64(1234) << u"refused"_s
                                 << u"x.jpg|1 KB|-|-|%1||%1\n请将文件重命名后再导入"_s.arg(reason);
        // A skipped job's output is a former run's: neither a result nor a saving of this one.
        QTest::newRow("skipped") << S::skipped << jxl << mb << QString() << u"x.jpg|2 MB|-|-|已跳过||此照片已转换过，输出文件已存在：/p/x.jxl"_s;
        // A job that took a former run's output reads completed, and says where it came from.
        QTest::newRow("reused") << S::completed << jxl << mb << u"reused warned"_s
                                << u"x.jpg|2 MB|1.5 MB|\u221225.0%|已完成|· 1.25s|沿用前一次转换的输出，已验证无损：/p/x.jxl\nW"_s;
    }

    void rowTexts()
    {
        QFETCH(TaskStatus, status);
        QFETCH(ConversionMode, mode);
        QFETCH(qint64, size);
        QFETCH(QString, change);
        QFETCH(QString, texts);
        TaskItem task = change.contains(u"refused") ? SampleTasks::refused(u"/p/x.jpg"_s, size) : make(u"/p/x.jpg"_s, status, mode);
        task.originalSize = size;
        task.isVerified = change.contains(u"verified");
        task.reused = change.contains(u"reused");
        if (change.contains(u"warned"))
            task.warning = u"W"_s;
        if (change.contains(u"no message"))
            task.errorMessage.reset();
        if (status == TaskStatus::skipped)
            task.compressedSize = 1'500'000;
        show(mode, {task});

        QCOMPARE(rowText(0), texts);
        // A screen reader hears the label, the detail and the tip together (a refusal's reason once).
        const QString spoken = cell(0, TaskTableModel::StatusColumn, Qt::AccessibleTextRole);
        for (const QString &part : texts.split(u'|').mid(4))
            QVERIFY2(spoken.contains(part) && spoken.count(texts.section(u'|', 4, 4)) == 1, qPrintable(spoken));
        // The reuse note is no warning: no warning sign for it.
        QCOMPARE(cell(0, TaskTableModel::StatusColumn, TaskTableModel::WarningRole), task.warning.value_or(QString()));
        QCOMPARE(cell(0, TaskTableModel::OriginalSizeColumn, Qt::ToolTipRole).isEmpty(), size >= 0);
        // An unknown size sorts before an empty file.
        QCOMPARE(m_model->index(0, TaskTableModel::OriginalSizeColumn).data(TaskTableModel::SortRole).toLongLong(), size);
        // A refusal is a failure no retry mends, counted apart; both counts follow the row out.
        QCOMPARE(m_list->count(status), 1);
        QCOMPARE(m_list->refusedCount(), int(change.contains(u"refused")));
        m_list->remove({task.id});
        QVERIFY(m_list->count(status) == 0 && m_list->refusedCount() == 0);
    }

    // Rows of one file name from different folders show as much of their folders as tells them
    // apart, and read again as names come and go.
    void namesThatRepeatShowTheirFolders_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QStringList>("hints");
        QTest::addColumn<int>("removed"); // then this row goes
        QTest::addColumn<QStringList>("hintsAfter");
        QTest::newRow("two folders") << QStringList{u"/p/a/IMG.jpg"_s, u"/p/b/IMG.jpg"_s, u"/p/b/c.jpg"_s}
                                     << QStringList{u"a"_s, u"b"_s, QString()} << 0 << QStringList{QString(), QString()};
        // The folder that differs may lie further up: all of it up to there.
        QTest::newRow("deeper") << QStringList{u"/x/2019/summer/IMG.jpg"_s, u"/x/2020/summer/IMG.jpg"_s,
                                               u"/y/2019/summer/IMG.jpg"_s}
                                << QStringList{u"/x/2019/summer"_s, u"2020/summer"_s, u"/y/2019/summer"_s} << 2
                                << QStringList{u"2019/summer"_s, u"2020/summer"_s};
        // A folder that is the end of another's path is named whole.
        QTest::newRow("one folder ends the other") << QStringList{u"/b/IMG.jpg"_s, u"/a/b/IMG.jpg"_s, u"/IMG.jpg"_s}
                                                   << QStringList{u"/b"_s, u"/a/b"_s, u"/"_s} << 1
                                                   << QStringList{u"/b"_s, u"/"_s};
    }

    void namesThatRepeatShowTheirFolders()
    {
        QFETCH(QStringList, paths);
        QFETCH(QStringList, hints);
        QFETCH(int, removed);
        QFETCH(QStringList, hintsAfter);
        show(ConversionMode::jpegToJXL, {make(paths.at(0))});
        QCOMPARE(folderHints(), QStringList{QString()});
        // The rows already listed repaint when a photo of their name arrives.
        QSignalSpy repainted(m_model.get(), &QAbstractItemModel::dataChanged);
        QList<TaskItem> more;
        for (const QString &path : paths.mid(1))
            more.append(make(path));
        m_list->append(more);
        QCOMPARE(folderHints(), hints);
        QTRY_VERIFY(std::any_of(repainted.cbegin(), repainted.cend(), [](const QList<QVariant> &signal) {
            return signal.at(0).toModelIndex().row() == 0 && signal.at(0).toModelIndex().column() == 0;
        }));
        QCOMPARE(cell(0, TaskTableModel::NameColumn, Qt::AccessibleTextRole), QFileInfo(paths.at(0)).fileName() + u"，位于 "_s + hints.constFirst());
        QCOMPARE(cell(0, TaskTableModel::NameColumn), QFileInfo(paths.at(0)).fileName());
        m_list->remove({m_list->at(removed).id});
        QCOMPARE(folderHints(), hintsAfter);
        m_list->clear();
        m_list->append({make(paths.at(0))});
        QCOMPARE(folderHints(), QStringList{QString()});
    }

    // The full path, and the output when it is not beside the source under the source's name.
    void nameToolTipTellsPathAndOutput_data()
    {
        QTest::addColumn<TaskStatus>("status");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("toolTip");
        QTest::newRow("output of the source's name") << TaskStatus::completed << u"/p/a.jxl"_s << u"/p/a.jpg"_s;
        QTest::newRow("output renamed") << TaskStatus::completed << u"/p/a (1).jxl"_s << u"/p/a.jpg\n输出为 a (1).jxl"_s;
        QTest::newRow("output in another folder") << TaskStatus::completed << u"/out/p/a.jxl"_s
                                                  << u"/p/a.jpg\n输出为 /out/p/a.jxl"_s;
        // A skipped job's output is the former run's.
        QTest::newRow("skipped, renamed output") << TaskStatus::skipped << u"/p/a (1).jxl"_s << u"/p/a.jpg\n输出为 a (1).jxl"_s;
        // A failed job's destination may name somebody else's file: it is not the job's output.
        QTest::newRow("failed") << TaskStatus::failed << u"/p/a (1).jxl"_s << u"/p/a.jpg"_s;
    }

    void nameToolTipTellsPathAndOutput()
    {
        QFETCH(TaskStatus, status);
        QFETCH(QString, output);
        TaskItem task = make(u"/p/a.jpg"_s, status);
        task.destinationURL = QUrl::fromLocalFile(output);
        show(ConversionMode::jpegToJXL, {task});
        QTEST(cell(0, TaskTableModel::NameColumn, Qt::ToolTipRole), "toolTip");
    }

    // A job update repaints its own row alone; the headers follow the list shown.
    void updatesAndHeaders()
    {
        show(ConversionMode::jpegToJXL, {make(u"/m/a.jpg"_s), make(u"/m/b.jpg"_s), make(u"/m/c.jpg"_s)});
        QSignalSpy changed(m_model.get(), &QAbstractItemModel::dataChanged);
        TaskItem task = m_list->at(1);
        task.status = TaskStatus::completed;
        task.compressedSize = 1;
        QVERIFY(m_list->replace(task));
        QCOMPARE(changed.count(), 1);
        QCOMPARE(qvariant_cast<QModelIndex>(changed.first().at(0)), m_model->index(1, 0));
        QCOMPARE(qvariant_cast<QModelIndex>(changed.first().at(1)), m_model->index(1, TaskTableModel::ColumnCount - 1));
        m_list->remove({m_list->at(0).id});
        QCOMPARE(m_model->index(0, 0).data(TaskTableModel::IdRole).toUuid(), task.id);

        const QVariant compressing = m_model->headerData(TaskTableModel::SavingsColumn, Qt::Horizontal);
        show(ConversionMode::jxlToJPEG, {});
        QVERIFY(m_model->headerData(TaskTableModel::SavingsColumn, Qt::Horizontal) != compressing);
    }

    void removalRuns_data()
    {
        QTest::addColumn<QList<int>>("removed");
        QTest::addColumn<QString>("announced"); // the row ranges as the signals give them
        QTest::newRow("three runs") << QList<int>{0, 1, 4, 5, 6, 9} << u"0-1,2-4,4-4"_s;
        QTest::newRow("all") << QList<int>{9, 0, 1, 2, 3, 4, 5, 6, 7, 8} << u"0-9"_s;
        QTest::newRow("unknown id") << QList<int>{-1} << QString();
    }

    void removalRuns()
    {
        QFETCH(QList<int>, removed);
        QList<TaskItem> tasks;
        for (int i = 0; i < 10; ++i)
            tasks.append(make(u"/r/%1.jpg"_s.arg(i)));
        tasks[7].destinationURL = QUrl::fromLocalFile(u"/r/7.jxl"_s);
        show(ConversionMode::jpegToJXL, tasks);
        QSet<QUuid> ids{QUuid::createUuid()};
        for (const int row : removed)
            ids.insert(row < 0 ? QUuid::createUuid() : tasks.at(row).id);
        const QPersistentModelIndex kept = m_model->index(8, 0); // a selected row, say
        QSignalSpy reset(m_model.get(), &QAbstractItemModel::modelReset);
        QStringList announced;
        const QMetaObject::Connection watch = connect(m_model.get(), &QAbstractItemModel::rowsAboutToBeRemoved, this,
                                                      [&](const QModelIndex &, int first, int last) {
            announced.append(u"%1-%2"_s.arg(first).arg(last));
            for (int row = first; row <= last; ++row) // the rows named are the ones going
                QVERIFY(ids.contains(m_model->index(row, 0).data(TaskTableModel::IdRole).toUuid()));
        });

        QCOMPARE(m_list->remove(ids), qsizetype(std::count_if(removed.cbegin(), removed.cend(), [](int r) { return r >= 0; })));
        QTEST(announced.join(u','), "announced");
        QCOMPARE(reset.count(), 0);
        for (qsizetype row = 0; row < m_list->size(); ++row)
            QCOMPARE(m_list->indexOf(m_list->at(row).id), row);
        QCOMPARE(kept.isValid(), !removed.contains(8));
        if (kept.isValid())
            QCOMPARE(kept.data(TaskTableModel::IdRole).toUuid(), tasks[8].id);
        // The path index follows: a removed job's source and destination are free again.
        QCOMPARE(m_list->containsPath(u"/r/7.jxl"_s), !removed.contains(7));
        QCOMPARE(m_list->containsPath(u"/r/0.jpg"_s), !removed.contains(0));
        disconnect(watch);
        m_list->clear();
        QVERIFY(m_list->isEmpty() && !m_list->containsPath(u"/r/2.jpg"_s));
        QCOMPARE(reset.count(), 0);
    }

    // Only finished photos leave the window, as copies (a move would take them from their folder).
    void dragOutCopiesFinishedPhotosOnly()
    {
        show(ConversionMode::jpegToJXL, {make(u"/p/done.jpg"_s, TaskStatus::completed), make(u"/p/failed.jpg"_s, TaskStatus::failed),
                                         make(u"/p/waiting.jpg"_s)});
        QCOMPARE(m_model->supportedDragActions(), Qt::DropActions(Qt::CopyAction));
        QModelIndexList all;
        for (int row = 0; row < 3; ++row) {
            QCOMPARE(bool(m_model->flags(m_model->index(row, 0)) & Qt::ItemIsDragEnabled), row == 0);
            for (int column = 0; column < TaskTableModel::ColumnCount; ++column)
                all.append(m_model->index(row, column));
        }
        std::unique_ptr<QMimeData> mime(m_model->mimeData(all));
        QVERIFY(mime);
        QCOMPARE(mime->urls(), QList<QUrl>{QUrl::fromLocalFile(u"/p/done.jxl"_s)});
        QVERIFY(!std::unique_ptr<QMimeData>(m_model->mimeData({m_model->index(1, 0), m_model->index(2, 0)})));
    }
};

QTEST_GUILESS_MAIN(TestTaskList)
#include "tst_tasklist.moc"
