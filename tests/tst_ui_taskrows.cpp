#include "app/tasklist.h"
#include "app/tasktablemodel.h"
#include "englishtexts.h"
#include "engine/filescanner.h"
#include "screenshots.h"
#include "ui/taskrowdelegate.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTextDocument>
#include <QToolTip>

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;

Q_DECLARE_METATYPE(TaskStatus)
Q_DECLARE_METATYPE(ConversionMode)

// The job rows as the table model gives them and the row delegate paints them, without the
// window: texts per job state, sizes only when known, refused names, the folders that tell rows
// of one name apart, tool tips.
class TestUiTaskRows final : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TaskList> m_list;
    std::unique_ptr<TaskTableModel> m_model;
    std::unique_ptr<QAbstractItemModelTester> m_tester;

    static TaskItem makeTask(const QString &path, TaskStatus status = TaskStatus::pending,
                             ConversionMode mode = ConversionMode::jpegToJXL)
    {
        TaskItem task;
        task.sourceURL = QUrl::fromLocalFile(path);
        task.mode = mode;
        task.status = status;
        task.originalSize = 2'000'000;
        if (status == TaskStatus::completed || status == TaskStatus::failed || status == TaskStatus::skipped) {
            const QFileInfo source(path);
            task.destinationURL = QUrl::fromLocalFile(source.path() + QLatin1Char('/') + source.completeBaseName()
                                                      + (mode == ConversionMode::jpegToJXL ? QStringLiteral(".jxl")
                                                                                           : QStringLiteral(".jpg")));
        }
        if (status == TaskStatus::completed) {
            task.compressedSize = 1'500'000;
            task.duration = 1.25;
        }
        if (status == TaskStatus::failed)
            task.errorMessage = QStringLiteral("cjxl: broken");
        return task;
    }

    // A photo of the scan whose name is not UTF-8, as an import lists it.
    static TaskItem refusedTask(const QString &shownPath, qint64 size)
    {
        ScanResult scan;
        scan.problems.append({ScanProblem::Kind::undecodableName, shownPath, 0, false, size});
        return FileScanner::importProblems(scan, ConversionMode::jpegToJXL).failedTasks.value(0);
    }

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

    QString rowText(int row) const
    {
        QStringList texts;
        for (int column = 0; column < TaskTableModel::ColumnCount; ++column)
            texts.append(cell(row, column));
        return texts.join(QLatin1Char('|'));
    }

    QStringList column(int column, int role) const
    {
        QStringList texts;
        for (int row = 0; row < m_model->rowCount(); ++row)
            texts.append(cell(row, column, role));
        return texts;
    }

private slots:
    void init()
    {
        m_model = std::make_unique<TaskTableModel>();
        m_tester = std::make_unique<QAbstractItemModelTester>(m_model.get(),
                                                              QAbstractItemModelTester::FailureReportingMode::QtTest);
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
        QTest::addColumn<bool>("warned");
        QTest::addColumn<bool>("verified"); // proven by a digest (a restore: the one stored at compression)
        QTest::addColumn<QString>("texts");   // columns joined by |
        QTest::addColumn<QString>("detail");  // the status cell's second text
        QTest::addColumn<QString>("toolTip"); // the status cell's tool tip
        const auto compress = ConversionMode::jpegToJXL;
        const auto restore = ConversionMode::jxlToJPEG;
        const qint64 size = 2'000'000;
        QTest::newRow("pending") << TaskStatus::pending << compress << size << false << false
                                 << QStringLiteral("x.jpg|2 MB|-|-|就绪") << QString() << QString();
        // An empty file is 0 KB; a size the file system would not tell is no size at all.
        QTest::newRow("pending, empty") << TaskStatus::pending << compress << qint64(0) << false << false
                                        << QStringLiteral("x.jpg|0 KB|-|-|就绪") << QString() << QString();
        QTest::newRow("pending, size unknown") << TaskStatus::pending << compress << TaskItem::kUnknownSize << false
                                               << false << QStringLiteral("x.jpg|-|-|-|就绪") << QString() << QString();
        QTest::newRow("processing, compress") << TaskStatus::processing << compress << size << false << false
                                              << QStringLiteral("x.jpg|2 MB|-|-|正在瘦身…") << QString() << QString();
        QTest::newRow("processing, restore") << TaskStatus::processing << restore << size << false << false
                                             << QStringLiteral("x.jpg|2 MB|-|-|正在还原…") << QString() << QString();
        QTest::newRow("verifying") << TaskStatus::verifying << restore << size << false << false
                                   << QStringLiteral("x.jpg|2 MB|-|-|正在校验…") << QString() << QString();
        QTest::newRow("completed, compress")
            << TaskStatus::completed << compress << size << false << true
            << QString::fromUtf8("x.jpg|2 MB|1.5 MB|\u221225.0%|已完成") << QStringLiteral("· 1.25s") << QString();
        QTest::newRow("completed, restore, proven") << TaskStatus::completed << restore << size << false << true
                                                    << QStringLiteral("x.jpg|2 MB|1.5 MB|100% 完整复原|已完成")
                                                    << QStringLiteral("· 1.25s") << QString();
        // No digest stored at compression: nothing proves the JPEG is the original one.
        QTest::newRow("completed, restore, unproven")
            << TaskStatus::completed << restore << size << true << false
            << QStringLiteral("x.jpg|2 MB|1.5 MB|已复原（未校验）|已完成") << QStringLiteral("· 1.25s")
            << QStringLiteral("JXL 文件中没有压缩时记录的原文件校验值，无法证明还原结果无损，已保留 JXL 文件");
        QTest::newRow("completed with a warning")
            << TaskStatus::completed << compress << size << true << true
            << QString::fromUtf8("x.jpg|2 MB|1.5 MB|\u221225.0%|已完成") << QStringLiteral("· 1.25s")
            << QStringLiteral("无法将原件移至回收站");
        // A completed compression that grew shows no badge.
        QTest::newRow("completed, grew") << TaskStatus::completed << compress << qint64(1'400'000) << false << true
                                         << QStringLiteral("x.jpg|1.4 MB|1.5 MB|-|已完成") << QStringLiteral("· 1.25s")
                                         << QString();
        QTest::newRow("failed") << TaskStatus::failed << compress << size << false << false
                                << QStringLiteral("x.jpg|2 MB|-|-|未能完成") << QString() << QStringLiteral("cjxl: broken");
        QTest::newRow("skipped") << TaskStatus::skipped << compress << size << false << false
                                 << QStringLiteral("x.jpg|2 MB|-|-|已跳过") << QString()
                                 << QStringLiteral("此照片已转换过，输出文件已存在：/p/x.jxl");
        QTest::newRow("skipped, restore") << TaskStatus::skipped << restore << size << false << false
                                          << QStringLiteral("x.jpg|2 MB|-|-|已跳过") << QString()
                                          << QStringLiteral("此文件已还原过，输出文件已存在：/p/x.jpg");
    }

    void rowTexts()
    {
        QFETCH(TaskStatus, status);
        QFETCH(ConversionMode, mode);
        QFETCH(qint64, size);
        QFETCH(bool, warned);
        QFETCH(bool, verified);
        QFETCH(QString, texts);
        QFETCH(QString, detail);
        QFETCH(QString, toolTip);
        TaskItem task = makeTask(QStringLiteral("/p/x.jpg"), status, mode);
        task.originalSize = size;
        task.isVerified = verified;
        if (warned)
            task.warning = toolTip;
        if (status == TaskStatus::skipped)
            task.compressedSize = 1'500'000; // the former run's output: neither a result nor a saving now
        show(mode, {task});

        QCOMPARE(rowText(0), texts);
        QCOMPARE(cell(0, TaskTableModel::StatusColumn, TaskTableModel::StatusDetailRole), detail);
        QCOMPARE(cell(0, TaskTableModel::StatusColumn, Qt::ToolTipRole), toolTip);
        // A screen reader hears the label, the detail and the tip together.
        const QString spoken = cell(0, TaskTableModel::StatusColumn, Qt::AccessibleTextRole);
        QVERIFY2(spoken.contains(texts.section(QLatin1Char('|'), 4)) && spoken.contains(detail) && spoken.contains(toolTip),
                 qPrintable(spoken));
        QCOMPARE(cell(0, TaskTableModel::NameColumn, Qt::ToolTipRole), QStringLiteral("/p/x.jpg"));
        QCOMPARE(cell(0, TaskTableModel::OriginalSizeColumn, Qt::ToolTipRole),
                 size < 0 ? QStringLiteral("无法读取文件大小") : QString());
        // An unknown size sorts before an empty file.
        QCOMPARE(m_model->index(0, TaskTableModel::OriginalSizeColumn).data(TaskTableModel::SortRole).toLongLong(), size);
    }

    // A photo whose name is not UTF-8 is refused at import: its row says why first, tells its size
    // when it was read, and no retry is counted for it.
    void refusedNameReadsItsReasonFirst()
    {
        show(ConversionMode::jpegToJXL, {refusedTask(QStringLiteral("/p/bad\\xFF.jpg"), 1234),
                                         refusedTask(QStringLiteral("/p/x\\xE9.jpg"), TaskItem::kUnknownSize),
                                         makeTask(QStringLiteral("/p/y.jpg"), TaskStatus::failed)});
        const QString reason = QStringLiteral("文件名不是有效的 UTF-8 编码，无法处理");
        QCOMPARE(rowText(0), QStringLiteral("bad\\xFF.jpg|1 KB|-|-|") + reason);
        QCOMPARE(rowText(1), QStringLiteral("x\\xE9.jpg|-|-|-|") + reason);
        const QString tip = reason + QStringLiteral("\n请将文件重命名后再导入");
        QCOMPARE(cell(0, TaskTableModel::StatusColumn, Qt::ToolTipRole), tip);
        QCOMPARE(cell(0, TaskTableModel::StatusColumn, Qt::AccessibleTextRole), tip); // the reason once
        QCOMPARE(m_list->count(TaskStatus::failed), 3);
        QCOMPARE(m_list->refusedCount(), 2);
        m_list->remove({m_list->at(0).id});
        QCOMPARE(m_list->refusedCount(), 1);
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
                                     << QStringList{u"a"_s, u"b"_s, QString()} << 0
                                     << QStringList{QString(), QString()};
        // The folder that differs may lie further up: all of it up to there.
        QTest::newRow("deeper") << QStringList{u"/x/2019/summer/IMG.jpg"_s, u"/x/2020/summer/IMG.jpg"_s,
                                               u"/y/2019/summer/IMG.jpg"_s}
                                << QStringList{u"/x/2019/summer"_s, u"2020/summer"_s, u"/y/2019/summer"_s} << 2
                                << QStringList{u"2019/summer"_s, u"2020/summer"_s};
        // A folder that is the end of another's path is named whole.
        QTest::newRow("one folder ends the other") << QStringList{u"/b/IMG.jpg"_s, u"/a/b/IMG.jpg"_s, u"/IMG.jpg"_s}
                                                   << QStringList{u"/b"_s, u"/a/b"_s, u"/"_s} << 1
                                                   << QStringList{u"/b"_s, u"/"_s};
        // Names alike but for case are told apart by their names.
        QTest::newRow("case differs") << QStringList{u"/a/img.jpg"_s, u"/b/IMG.jpg"_s}
                                      << QStringList{QString(), QString()} << 0 << QStringList{QString()};
    }

    void namesThatRepeatShowTheirFolders()
    {
        QFETCH(QStringList, paths);
        QFETCH(QStringList, hints);
        QFETCH(int, removed);
        QFETCH(QStringList, hintsAfter);
        show(ConversionMode::jpegToJXL, {makeTask(paths.at(0))});
        QCOMPARE(column(TaskTableModel::NameColumn, TaskTableModel::FolderHintRole), QStringList{QString()});
        // The rows already listed repaint when a photo of their name arrives.
        QSignalSpy repainted(m_model.get(), &QAbstractItemModel::dataChanged);
        QList<TaskItem> more;
        for (const QString &path : paths.mid(1))
            more.append(makeTask(path));
        m_list->append(more);
        QCOMPARE(column(TaskTableModel::NameColumn, TaskTableModel::FolderHintRole), hints);
        if (!hints.constFirst().isEmpty()) {
            QTRY_VERIFY(std::any_of(repainted.cbegin(), repainted.cend(), [](const QList<QVariant> &signal) {
                return signal.at(0).toModelIndex().row() == 0 && signal.at(0).toModelIndex().column() == 0;
            }));
            QCOMPARE(cell(0, TaskTableModel::NameColumn, Qt::AccessibleTextRole),
                     QFileInfo(paths.at(0)).fileName() + QStringLiteral("，位于 ") + hints.constFirst());
        }
        QCOMPARE(column(TaskTableModel::NameColumn, Qt::DisplayRole).constFirst(), QFileInfo(paths.at(0)).fileName());
        m_list->remove({m_list->at(removed).id});
        QCOMPARE(column(TaskTableModel::NameColumn, TaskTableModel::FolderHintRole), hintsAfter);
        m_list->clear();
        m_list->append({makeTask(paths.at(0))});
        QCOMPARE(column(TaskTableModel::NameColumn, TaskTableModel::FolderHintRole), QStringList{QString()});
    }

    void nameToolTipTellsPathAndOutput_data()
    {
        QTest::addColumn<TaskStatus>("status");
        QTest::addColumn<ConversionMode>("mode");
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("output");
        QTest::addColumn<QString>("toolTip");
        QTest::newRow("output of the source's name")
            << TaskStatus::completed << ConversionMode::jpegToJXL << QStringLiteral("/a/Canon_40D.jpg")
            << QStringLiteral("/a/Canon_40D.jxl") << QStringLiteral("/a/Canon_40D.jpg");
        QTest::newRow("output renamed, compress")
            << TaskStatus::completed << ConversionMode::jpegToJXL << QStringLiteral("/p/a.jpg")
            << QStringLiteral("/p/a (1).jxl") << QStringLiteral("/p/a.jpg\n输出为 a (1).jxl");
        QTest::newRow("output renamed, restore")
            << TaskStatus::completed << ConversionMode::jxlToJPEG << QStringLiteral("/p/dup.jxl")
            << QStringLiteral("/p/dup (1).jpg") << QStringLiteral("/p/dup.jxl\n输出为 dup (1).jpg");
        // In an output folder the whole path says where; a skipped job's output is the former run's.
        QTest::newRow("output in another folder")
            << TaskStatus::completed << ConversionMode::jpegToJXL << QStringLiteral("/p/2019/a.jpg")
            << QStringLiteral("/out/2019/a.jxl") << QStringLiteral("/p/2019/a.jpg\n输出为 /out/2019/a.jxl");
        QTest::newRow("skipped, renamed output")
            << TaskStatus::skipped << ConversionMode::jpegToJXL << QStringLiteral("/p/a.jpg")
            << QStringLiteral("/p/a (1).jxl") << QStringLiteral("/p/a.jpg\n输出为 a (1).jxl");
        QTest::newRow("skipped, in an output folder")
            << TaskStatus::skipped << ConversionMode::jpegToJXL << QStringLiteral("/p/a.jpg")
            << QStringLiteral("/out/p/a.jxl") << QStringLiteral("/p/a.jpg\n输出为 /out/p/a.jxl");
        // A failed job's destination may name somebody else's file: it is not the job's output.
        QTest::newRow("failed with a renamed destination")
            << TaskStatus::failed << ConversionMode::jpegToJXL << QStringLiteral("/p/a.jpg")
            << QStringLiteral("/p/a (1).jxl") << QStringLiteral("/p/a.jpg");
    }

    void nameToolTipTellsPathAndOutput()
    {
        QFETCH(TaskStatus, status);
        QFETCH(ConversionMode, mode);
        QFETCH(QString, source);
        QFETCH(QString, output);
        QFETCH(QString, toolTip);
        TaskItem task = makeTask(source, status, mode);
        task.destinationURL = QUrl::fromLocalFile(output);
        show(mode, {task});
        QCOMPARE(cell(0, TaskTableModel::NameColumn, Qt::ToolTipRole), toolTip);
    }

    // A job that took a former run's output reads completed, with a badge and drag like any other,
    // and says on hovering where the output came from; a warning of its own follows the note.
    void reusedOutputReadsCompletedWithANote_data()
    {
        QTest::addColumn<ConversionMode>("mode");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<QString>("toolTip");
        QTest::newRow("compress") << ConversionMode::jpegToJXL << QString()
                                  << QStringLiteral("沿用前一次转换的输出，已验证无损：/p/x.jxl");
        QTest::newRow("restore") << ConversionMode::jxlToJPEG << QString()
                                 << QStringLiteral("沿用前一次还原的输出，校验一致：/p/x.jpg");
        QTest::newRow("compress, with a warning") << ConversionMode::jpegToJXL << QStringLiteral("无法将原件移至回收站")
                                                  << QStringLiteral("沿用前一次转换的输出，已验证无损：/p/x.jxl\n无法将原件移至回收站");
    }

    void reusedOutputReadsCompletedWithANote()
    {
        QFETCH(ConversionMode, mode);
        QFETCH(QString, warning);
        QFETCH(QString, toolTip);
        TaskItem task = makeTask(QStringLiteral("/p/x.jpg"), TaskStatus::completed, mode);
        task.reused = true;
        if (!warning.isEmpty())
            task.warning = warning;
        show(mode, {task});
        QCOMPARE(cell(0, TaskTableModel::StatusColumn), QStringLiteral("已完成"));
        QVERIFY(TaskTableModel::isDraggable(task));
        QCOMPARE(cell(0, TaskTableModel::StatusColumn, Qt::ToolTipRole), toolTip);
        QCOMPARE(cell(0, TaskTableModel::StatusColumn, TaskTableModel::WarningRole), warning); // no warning sign for the reuse
    }

    void failedWithoutMessageSaysUnknownAndHeadersFollowTheMode()
    {
        TaskItem task = makeTask(QStringLiteral("/p/x.jpg"), TaskStatus::failed);
        task.errorMessage.reset();
        show(ConversionMode::jpegToJXL, {task});
        QCOMPARE(cell(0, TaskTableModel::StatusColumn, Qt::ToolTipRole), QStringLiteral("未知错误"));
        for (const auto &[mode, titles] : {std::pair{ConversionMode::jpegToJXL, "名称|原始大小|压缩后大小|节省幅度|状态"},
                                           std::pair{ConversionMode::jxlToJPEG, "名称|原始大小|还原后大小|复原效果|状态"}}) {
            show(mode, {});
            QStringList shown;
            for (int column = 0; column < TaskTableModel::ColumnCount; ++column)
                shown.append(m_model->headerData(column, Qt::Horizontal).toString());
            QCOMPARE(shown.join(QLatin1Char('|')), QString::fromUtf8(titles));
        }
    }

    // The rows this suite is about, drawn in both languages; a long tool message and a long path
    // are broken into lines of a readable width, whole.
    void rowsOnScreenAndLongToolTips()
    {
        // The check of a new JXL runs djxl, whose messages run long.
        TaskItem djxl = makeTask(QStringLiteral("/home/user/Pictures/2019/summer/IMG.jpg"), TaskStatus::failed);
        djxl.errorMessage = QStringLiteral("djxl 失败: JPEG XL decoder: Failed to decode "
                                           "/home/user/Pictures/2019/summer/holiday-in-the-mountains-with-the-family-"
                                           "and-the-dog/IMG.jxl: the codestream ends before the frame it announces, "
                                           "and no JPEG reconstruction data was found (exit status 1)");
        TaskItem unknown = makeTask(QStringLiteral("/home/user/Pictures/2020/summer/IMG.jpg"));
        unknown.originalSize = TaskItem::kUnknownSize;
        show(ConversionMode::jpegToJXL, {djxl, unknown, makeTask(QStringLiteral("/home/user/Pictures/2019/winter/IMG.jpg"), TaskStatus::completed),
                                         refusedTask(QStringLiteral("/home/user/Pictures/caf\\xE9.jpg"), 2'345'678),
                                         makeTask(QStringLiteral("/home/user/Pictures/Canon_40D.jpg"))});
        QTableView view;
        TaskRowDelegate delegate(nullptr);
        view.setItemDelegate(&delegate);
        view.setModel(m_model.get());
        view.verticalHeader()->hide();
        view.verticalHeader()->setDefaultSectionSize(TaskRowDelegate::kRowHeight);
        view.resize(760, 200);
        // Laid out as the window's table does: each column as wide as its widest text, the names take the rest.
        const auto layOut = [&] {
            int rest = view.viewport()->width();
            for (int column = 1; column < TaskTableModel::ColumnCount; ++column) {
                view.setColumnWidth(column, std::max(delegate.columnWidth(column), view.horizontalHeader()->sectionSizeHint(column)));
                rest -= view.columnWidth(column);
            }
            view.setColumnWidth(TaskTableModel::NameColumn, rest);
        };
        view.show();
        layOut();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        Screenshots::save(&view, QStringLiteral("table-rows-lists"));

        const auto hover = [&](int row, int column) {
            const QModelIndex index = m_model->index(row, column);
            const QRect cellRect = view.visualRect(index);
            QHelpEvent help(QEvent::ToolTip, cellRect.center(), view.viewport()->mapToGlobal(cellRect.center()));
            QStyleOptionViewItem option;
            option.rect = cellRect;
            QVERIFY(delegate.helpEvent(&help, &view, option, index));
            QTRY_VERIFY(QToolTip::isVisible());
        };
        const auto shownTip = [] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                if (widget->inherits("QTipLabel") && widget->isVisible())
                    return widget;
            }
            return static_cast<QWidget *>(nullptr);
        };
        hover(0, TaskTableModel::StatusColumn);
        QTextDocument shown;
        shown.setHtml(QToolTip::text());
        const QStringList lines = shown.toPlainText().split(QLatin1Char('\n'));
        QVERIFY2(lines.size() >= 3, qPrintable(lines.join(u'|')));
        const QFontMetrics metrics(QToolTip::font());
        for (const QString &line : lines)
            QVERIFY2(metrics.horizontalAdvance(line) <= metrics.averageCharWidth() * TaskRowDelegate::kToolTipChars + 2,
                     qPrintable(line));
        // Nothing of the message is lost at the breaks.
        QCOMPARE(lines.join(QString()).remove(QLatin1Char(' ')), QString(*djxl.errorMessage).remove(QLatin1Char(' ')));
        QWidget *tip = shownTip();
        QVERIFY(tip);
        QVERIFY2(tip->width() <= view.screen()->availableGeometry().width(), qPrintable(QString::number(tip->width())));
        Screenshots::save(tip, QStringLiteral("table-rows-error-tooltip"));
        QToolTip::hideText();

        EnglishTexts english;
        QVERIFY(english.isActive());
        TaskItem refused = refusedTask(QStringLiteral("/home/user/Pictures/caf\\xE9.jpg"), 2'345'678); // its reason in English
        refused.id = m_list->at(3).id;
        m_list->replace(refused);
        djxl.errorMessage = djxl.errorMessage->replace(QStringLiteral("djxl 失败"), QStringLiteral("djxl failed"));
        m_list->replace(djxl);
        QCOMPARE(cell(3, TaskTableModel::StatusColumn), QStringLiteral("File name is not valid UTF-8; cannot process"));
        QCOMPARE(cell(1, TaskTableModel::NameColumn, Qt::AccessibleTextRole), QStringLiteral("IMG.jpg, in 2020/summer"));
        m_model->setList(m_list.get()); // the headers read again
        layOut();
        Screenshots::save(&view, QStringLiteral("en/table-rows-lists"));
        for (const auto &[row, words, name] : {std::tuple{3, "Rename the file", "refused"}, std::tuple{0, "djxl failed", "error"}}) {
            hover(row, TaskTableModel::StatusColumn);
            QTRY_VERIFY(QToolTip::text().contains(QLatin1String(words)));
            QVERIFY(shownTip());
            Screenshots::save(shownTip(), QStringLiteral("en/table-rows-%1-tooltip").arg(QLatin1String(name)));
            QToolTip::hideText();
        }
    }
};

QTEST_MAIN(TestUiTaskRows)
#include "tst_ui_taskrows.moc"
