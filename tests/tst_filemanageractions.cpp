#include "app/filemanageractions.h"
#include "integration/quickactioninstaller.h"
#include "testenv.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// The file managers' actions as the settings switch them: whether they are there, and that each
// one, as its file manager runs it, starts pikora on the selection with the right option. (The
// files themselves: tst_quickactioninstaller.)
class TestFileManagerActions final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_root;
    QString m_program; // a pikora on the PATH that records its arguments
    QString m_record;

private slots:
    void initTestCase()
    {
        QVERIFY(TestEnv::isolate(m_root));
        m_record = m_root.filePath(u"arguments"_s);
        m_program = TestEnv::writeScript(m_root.filePath(u"bin/pikora"_s),
                                         "printf '%s\\n' \"$@\" > '" + QFile::encodeName(m_record) + '\'');
        qputenv("PATH", QFile::encodeName(m_root.filePath(u"bin"_s)) + ':' + qgetenv("PATH"));
    }

    void installedActionsStartPikora()
    {
        FileManagerActions actions;
        QVERIFY(!actions.isInstalled());
        QSignalSpy changed(&actions, &FileManagerActions::isInstalledChanged);
        QString error;
        QVERIFY2(actions.install(&error), qPrintable(error));
        QVERIFY(actions.install()); // again: nothing changes
        QCOMPARE(changed.count(), 1);
        QVERIFY(FileManagerActions().isInstalled()); // as the next start reads it

        const QStringList paths = QuickActionInstaller::installedPaths(QuickActionInstaller::locationsFromEnvironment());
        QStringList execLines;
        for (const QString &path : paths) {
            const QByteArray text = TestEnv::readAll(path);
            if (!text.startsWith("#!")) { // Nemo's actions and Dolphin's menu: their Exec lines
                for (const QByteArray &line : text.split('\n'))
                    if (line.startsWith("Exec="))
                        execLines.append(QString::fromUtf8(line.mid(5)));
                continue;
            }
            // Nautilus and Caja run the script in the folder shown, with the selection.
            QProcess script;
            script.setWorkingDirectory(m_root.path());
            script.start(path, {u"a b.jpg"_s});
            QVERIFY2(script.waitForFinished(30000) && script.exitCode() == 0, qPrintable(path));
            const bool compress = path.endsWith(QuickActionInstaller::compressActionName());
            QCOMPARE(QString::fromUtf8(TestEnv::readAll(m_record)),
                     (compress ? u"--compress\n"_s : u"--restore\n"_s) + m_root.filePath(u"a b.jpg"_s) + u'\n');
        }
        execLines.sort();
        const QString compress = m_program + u" --compress %F"_s;
        const QString restore = m_program + u" --restore %F"_s;
        QCOMPARE(execLines, (QStringList{compress, compress, restore, restore}));

        QVERIFY2(actions.uninstall(&error), qPrintable(error));
        QVERIFY(!actions.isInstalled() && changed.count() == 2);
        for (const QString &path : paths)
            QVERIFY2(!QFileInfo::exists(path), qPrintable(path));
    }

    // A failed install says why and leaves the switch as it was.
    void aFailedInstallKeepsTheFlag()
    {
        const QString blocked = QFile::decodeName(qgetenv("XDG_DATA_HOME")) + u"/nautilus"_s;
        QVERIFY(QDir(blocked).removeRecursively()); // what the test before left
        TestEnv::writeAll(blocked, "a file where the folder goes");
        FileManagerActions actions;
        QSignalSpy changed(&actions, &FileManagerActions::isInstalledChanged);
        QString error;
        QVERIFY(!actions.install(&error) && !error.isEmpty());
        QVERIFY(!actions.isInstalled() && changed.isEmpty());
        QVERIFY(QFile::remove(blocked));
    }
};

QTEST_GUILESS_MAIN(TestFileManagerActions)
#include "tst_filemanageractions.moc"
