#include "app/importservice.h"
#include "app/tasklist.h"
#include "app/workspace.h"
#include "engine/outputfiles.h"
#include "platform/processowner.h"
#include "servicefixtures.h"
#include "testenv.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;
using ServiceFixtures::importAndWait;

// Imports: the walk off the GUI thread, the merge in chunks, the rules for what becomes a job.
class TestImportService final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;

    QString makeFiles(const QString &folder, const QStringList &names)
    {
        const QString path = m_root.filePath(folder);
        for (const QString &name : names)
            TestEnv::writeAll(QDir(path).filePath(name), QByteArrayLiteral("abcd"));
        return path;
    }

private slots:
    void initTestCase() { QVERIFY(TestEnv::isolate(m_root)); }

    void importRules()
    {
        Workspace workspace;
        ImportService imports(&workspace, {});
        TaskList *compress = workspace.compressTasks();
        const QString a = makeFiles(u"rules/a"_s, {u"x.jpg"_s, u"y.jpeg"_s, u"z.jxl"_s, u"notes.txt"_s});
        const QString b = makeFiles(u"rules/b"_s, {u"w.jpg"_s});
        // A killed run's hidden temporaries (this pid, another start time) go with the import; a live one's stay.
        const QString dead = u"/.pikora-%1-1-0123abcd.part.jxl"_s.arg(ProcessOwner::ownTag().section(u'-', 0, 1));
        const QString live = OutputFiles::temporarySibling(a + u"/x.jxl"_s);
        for (const QString &path : QStringList{a + dead, b + dead, live})
            TestEnv::writeAll(path, "");
        QSignalSpy imported(&imports, &ImportService::importFinished);
        QList<bool> scanningAtMerge;
        connect(&imports, &ImportService::importFinished, this,
                [&scanningAtMerge, &imports] { scanningAtMerge.append(imports.isScanning()); });
        imports.importURLs({QUrl::fromLocalFile(a)});
        // Two spellings of one file in one drop.
        imports.importURLs({QUrl::fromLocalFile(b + u"/w.jpg"_s), QUrl::fromLocalFile(b + u"/../b/w.jpg"_s)});
        QVERIFY(imports.isScanning() && imported.isEmpty()); // merged later, from the event loop
        workspace.switchMode(ConversionMode::jxlToJPEG); // the imports keep the direction they began in
        QTRY_COMPARE_WITH_TIMEOUT(imported.count(), 2, 60000);
        QCOMPARE(scanningAtMerge, (QList<bool>{true, false})); // scanning while any scan runs
        QVERIFY(!QFile::exists(a + dead) && !QFile::exists(b + dead) && QFile::exists(live));
        QCOMPARE(compress->size(), 3);
        for (const TaskItem &task : compress->items())
            QVERIFY(task.mode == ConversionMode::jpegToJXL && task.status == TaskStatus::pending && task.originalSize == 4);

        // A JPEG dropped while restore is shown lands nowhere; the scan result is still kept.
        QCOMPARE(importAndWait(imports, {QUrl::fromLocalFile(a + u"/x.jpg"_s)}), 0);
        QVERIFY(imports.currentScanResult()->jpegFiles.size() == 1 && workspace.restoreTasks()->isEmpty());
        workspace.switchMode(ConversionMode::jpegToJXL);
        QCOMPARE(importAndWait(imports, {QUrl::fromLocalFile(a)}), 0); // the same folder again
        // A file some job already writes to is not a new job.
        const QString c = makeFiles(u"rules/c"_s, {u"taken.jpg"_s});
        TaskItem writer;
        writer.sourceURL = QUrl::fromLocalFile(c + u"/source.png"_s);
        writer.destinationURL = QUrl::fromLocalFile(c + u"/../c/taken.jpg"_s);
        compress->append({writer});
        QCOMPARE(importAndWait(imports, {QUrl::fromLocalFile(c)}), 0);
        QCOMPARE(compress->size(), 4);

        // A scan ending before its continuation is attached still merges later, never inside importURLs().
        for (int round = 1; round <= 3000; ++round) {
            const qsizetype before = imported.count();
            imports.importURLs({});
            QCOMPARE(imported.count(), before);
            QVERIFY(imported.wait(10000));
        }
    }

    void filesHeldByRunningJobsAreNotAdded()
    {
        // A running job may still own a file whose row was removed: the import leaves it out.
        const QString folder = makeFiles(u"held"_s, {u"busy.jpg"_s, u"free.jpg"_s});
        QStringList asked;
        Workspace workspace;
        ImportService imports(&workspace, [&asked](const QString &path) {
            asked.append(path);
            return path.endsWith(u"/busy.jpg"_s);
        });
        QCOMPARE(importAndWait(imports, {QUrl::fromLocalFile(folder)}), 1);
        QVERIFY(workspace.compressTasks()->at(0).fileName() == u"free.jpg"_s && asked.size() == 2);
        // Nor is a link to it.
        const QString link = m_root.filePath(u"held-link.jpg"_s);
        QVERIFY(QFile::link(folder + u"/busy.jpg"_s, link));
        QCOMPARE(importAndWait(imports, {QUrl::fromLocalFile(link)}), 0);
    }

    void aPhotoAndItsLinksAreOneJob()
    {
        Workspace workspace;
        ImportService imports(&workspace, {});
        TaskList *compress = workspace.compressTasks();
        const QString album = makeFiles(u"links/album"_s, {u"a.jpg"_s, u"b.jpg"_s});
        const QString a = album + u"/a.jpg"_s;
        const QString b = album + u"/b.jpg"_s;
        const QString beside = album + u"/beside.jpg"_s;
        const QString named = m_root.filePath(u"links/named.jpg"_s);
        QVERIFY(QFile::link(a, beside) && QFile::link(b, named));
        const auto sources = [compress] {
            QStringList list;
            for (qsizetype row = 0; row < compress->size(); ++row)
                list.append(compress->at(row).sourceURL.toLocalFile());
            list.sort();
            return list;
        };
        // In one drop the job is on the photo itself, whichever way came first.
        QCOMPARE(importAndWait(imports, {QUrl::fromLocalFile(named), QUrl::fromLocalFile(album)}), 2);
        QCOMPARE(sources(), (QStringList{a, b}));
        // A link to a listed photo adds nothing; nor does the photo while a link to it is listed.
        QCOMPARE(importAndWait(imports, {QUrl::fromLocalFile(named)}), 0);
        compress->clear();
        QCOMPARE(importAndWait(imports, {QUrl::fromLocalFile(named)}), 1);
        QCOMPARE(importAndWait(imports, {QUrl::fromLocalFile(b)}), 0);
        QCOMPARE(sources(), QStringList{named});
        compress->remove({compress->at(0).id});
        QCOMPARE(importAndWait(imports, {QUrl::fromLocalFile(b)}), 1);
    }

    // A name that is not UTF-8 is a failed job naming no file, beside the photo it would display as.
    void namesThatAreNotUtf8AreRefusedJobs()
    {
        Workspace workspace;
        ImportService imports(&workspace, {});
        const QString folder = makeFiles(u"unnamed"_s, {u"bad\\xFF.jpg"_s});
        const QByteArray raw = QFile::encodeName(folder) + "/bad\xFF.jpg";
        QVERIFY(ServiceFixtures::writeNative(raw, "raw"));
        QCOMPARE(importAndWait(imports, {QUrl::fromLocalFile(folder)}), 2);
        QCOMPARE(importAndWait(imports, {QUrl::fromLocalFile(folder)}), 0); // each once, as any file
        const TaskList *list = workspace.compressTasks();
        const TaskItem &refused = list->at(list->at(0).isRefused() ? 0 : 1);
        const TaskItem &lookAlike = list->at(list->at(0).isRefused() ? 1 : 0);
        QVERIFY(refused.status == TaskStatus::failed && refused.errorMessage && refused.sourceURL.toLocalFile().isEmpty());
        QCOMPARE(refused.sourcePathText(), folder + u"/bad\\xFF.jpg"_s);
        QVERIFY(lookAlike.isRunnable() && lookAlike.sourceURL.toLocalFile() == refused.sourcePathText());
        QCOMPARE(::unlink(raw.constData()), 0);
    }

    void longImportsMergeInTurns()
    {
        // Photos go in over several turns, the import running until the last; a second drop adds nothing.
        Workspace workspace;
        ImportService imports(&workspace, {});
        TaskList *compress = workspace.compressTasks();
        const QString folder = makeFiles(u"long"_s, ServiceFixtures::names(u"p"_s, ImportService::kMergeChunk + 7));
        QSignalSpy imported(&imports, &ImportService::importFinished);
        QStringList turns; // rows added, whether scanning, imports finished before
        connect(compress, &TaskList::rowsInserted, this, [&](qsizetype first, qsizetype last) {
            turns.append(u"%1 %2 %3"_s.arg(last - first + 1).arg(imports.isScanning()).arg(imported.count()));
        });
        imports.importURLs({QUrl::fromLocalFile(folder)});
        imports.importURLs({QUrl::fromLocalFile(folder)});
        QTRY_COMPARE_WITH_TIMEOUT(imported.count(), 2, 60000);
        QCOMPARE(compress->size(), ImportService::kMergeChunk + 7);
        QCOMPARE(imported.at(0).first().toInt() + imported.at(1).first().toInt(), ImportService::kMergeChunk + 7);
        QVERIFY(turns.size() >= 2 && !imports.isScanning());
        QCOMPARE(turns.first(), u"%1 1 0"_s.arg(ImportService::kMergeChunk));
    }

    void problemsAreKeptUntilCleared()
    {
        Workspace workspace;
        ImportService imports(&workspace, {});
        QSignalSpy problems(&imports, &ImportService::importProblemsChanged);
        const QString missing = m_root.filePath(u"no/such/path"_s);
        QCOMPARE(importAndWait(imports, {QUrl::fromLocalFile(missing)}), 0);
        QCOMPARE(imports.importProblems(), QStringList{u"找不到指定文件: "_s + missing});
        QCOMPARE(importAndWait(imports, {QUrl::fromLocalFile(missing)}), 0);
        QCOMPARE(problems.count(), 1); // the same problems: no change
        imports.clearImportProblems();
        QVERIFY(imports.importProblems().isEmpty());
        imports.clearImportProblems();
        QCOMPARE(problems.count(), 2);
    }
};

QTEST_GUILESS_MAIN(TestImportService)
#include "tst_importservice.moc"
