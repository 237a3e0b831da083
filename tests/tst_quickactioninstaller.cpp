#include "integration/quickactioninstaller.h"

#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <memory>

namespace QAI = QuickActionInstaller;

namespace {

const QString kProgram = QStringLiteral("/opt/Pikora Apps/pikora");
const QString kNautilusCompress = QStringLiteral(".local/share/nautilus/scripts/使用Pikora进行无损瘦身");
const QString kDolphinMenu = QStringLiteral(".local/share/kio/servicemenus/io.gitlab.tolvane.Pikora.desktop");
const QString kNemoCompress = QStringLiteral(".local/share/nemo/actions/io.gitlab.tolvane.Pikora-compress.nemo_action");

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

} // namespace

class TestQuickActionInstaller final : public QObject
{
    Q_OBJECT

private:
    QString home(const QString &relative) const { return m_root->path() + QStringLiteral("/home/") + relative; }

    std::unique_ptr<QTemporaryDir> m_root;
    QAI::Locations m_where;

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        m_root = std::make_unique<QTemporaryDir>();
        QVERIFY(m_root->isValid());
        TestEnv::isolateHome(m_root->path());
        m_where = QAI::locationsFromEnvironment(kProgram);
    }

    // Unset XDG variables fall back to their defaults; relative ones are ignored.
    void locationsFromEnvironment()
    {
        qputenv("HOME", QFile::encodeName(m_root->path()));
        qunsetenv("XDG_DATA_HOME");
        qputenv("XDG_CONFIG_HOME", "relative/is/ignored");
        const QAI::Locations where = QAI::locationsFromEnvironment(kProgram);
        QCOMPARE((QStringList{where.dataHome, where.configHome}),
                 (QStringList{m_root->path() + QStringLiteral("/.local/share"), m_root->path() + QStringLiteral("/.config")}));
    }

    // Add then remove leaves the home as it was, user's files included; no macOS folder appears.
    void roundTrip()
    {
        TestEnv::writeAll(home(QStringLiteral(".local/share/nautilus/scripts/Other")), "user's own");
        TestEnv::writeAll(home(QStringLiteral(".local/share/kio/servicemenus/other.desktop")), "user's own");
        QString error;
        QVERIFY2(QAI::uninstall(m_where, &error) && error.isEmpty(), qPrintable(error)); // nothing there yet
        QVERIFY(!QAI::isInstalled(m_where));

        QVERIFY2(QAI::install(m_where, &error), qPrintable(error));
        QVERIFY(QAI::isInstalled(m_where));
        QCOMPARE(QAI::installedPaths(m_where).size(), 7);
        for (const QString &path : QAI::installedPaths(m_where))
            QVERIFY2(path.startsWith(home(QString())) && QFileInfo(path).isFile(), qPrintable(path));
        QVERIFY(!QFileInfo::exists(home(QStringLiteral("Library"))));

        QVERIFY2(QAI::uninstall(m_where, &error), qPrintable(error));
        QVERIFY(!QAI::isInstalled(m_where));
        QCOMPARE(entries(home(QStringLiteral(".local/share/nautilus/scripts"))), QStringList{QStringLiteral("Other")});
        QCOMPARE(entries(home(QStringLiteral(".local/share/kio/servicemenus"))), QStringList{QStringLiteral("other.desktop")});
        for (const char *folder : {".local/share/nemo/actions", ".config/caja/scripts"})
            QVERIFY2(QDir(home(QLatin1String(folder))).exists() && entries(home(QLatin1String(folder))).isEmpty(), folder);
    }

    // Any one file missing reads as not installed; installing again repairs it and replaces stale contents.
    void partialInstall()
    {
        QVERIFY(QAI::install(m_where));
        const QStringList paths = QAI::installedPaths(m_where);
        const QByteArray nemo = TestEnv::readAll(home(kNemoCompress));
        for (const QString &path : paths) {
            QVERIFY(QFile::remove(path));
            QVERIFY2(!QAI::isInstalled(m_where), qPrintable(path));
            TestEnv::writeAll(home(kNemoCompress), "stale");
            QVERIFY(QAI::install(m_where) && QAI::isInstalled(m_where));
            QCOMPARE(TestEnv::readAll(home(kNemoCompress)), nemo);
        }
    }

    // Install says why it failed, in Chinese and naming the path. The first removal that fails ends an
    // uninstall: what comes after stays, and a folder in a file's place is never emptied.
    void failuresReported()
    {
        TestEnv::writeAll(home(QStringLiteral(".local/share/nautilus")), "not a folder");
        QString error;
        QVERIFY(!QAI::install(m_where, &error));
        QVERIFY2(error.startsWith(QStringLiteral("无法创建文件夹“")) && error.contains(home(QStringLiteral(".local/share/nautilus"))),
                 qPrintable(error));
        QVERIFY(!QAI::isInstalled(m_where));

        QVERIFY(QFile::remove(home(QStringLiteral(".local/share/nautilus"))) && QAI::install(m_where));
        QVERIFY(QFile::remove(home(kNautilusCompress)));
        TestEnv::writeAll(home(kNautilusCompress) + QStringLiteral("/keeps it"), "user's own");
        QVERIFY(!QAI::uninstall(m_where, &error));
        QVERIFY2(error.startsWith(QStringLiteral("无法删除“")) && error.contains(home(kNautilusCompress)), qPrintable(error));
        QVERIFY(QFile::exists(home(kNautilusCompress) + QStringLiteral("/keeps it")) && QFile::exists(home(kDolphinMenu)));
    }

    // Where each file manager looks, and executable where it runs only such files (what the
    // files start: tst_filemanageractions).
    void nativeFiles_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("executable");
        const QString restore = QStringLiteral("使用Pikora还原为 JPEG");
        QTest::newRow("nautilus") << kNautilusCompress << true;
        QTest::newRow("caja") << QStringLiteral(".config/caja/scripts/") + restore << true;
        QTest::newRow("dolphin") << kDolphinMenu << true;
        QTest::newRow("nemo") << kNemoCompress << false;
    }

    void nativeFiles()
    {
        QFETCH(QString, path);
        QFETCH(bool, executable);
        QVERIFY(QAI::install(m_where));
        const auto mode = std::filesystem::status(QFile::encodeName(home(path)).toStdString()).permissions();
        QCOMPARE(int(mode), executable ? 0755 : 0644);
    }

    // The installed script really starts the program with absolute paths, whatever its folder is called.
    void nautilusScriptRuns()
    {
        const QString record = m_root->filePath(QStringLiteral("args.txt"));
        m_where.program = TestEnv::writeScript(m_root->filePath(QStringLiteral("it's \"$HOME\" \\ `x`/pikora")),
                                               "printf '%s\\n' \"$@\" > '" + QFile::encodeName(record) + '\'');
        QVERIFY(QAI::install(m_where));
        QProcess run;
        run.setWorkingDirectory(m_root->path());
        run.start(home(kNautilusCompress), {QStringLiteral("a b.jpg"), QStringLiteral("/abs/c.jpg"), QStringLiteral("-sub/d.jpg")});
        QVERIFY(run.waitForFinished() && run.exitCode() == 0);
        QCOMPARE(QString::fromUtf8(TestEnv::readAll(record)).split(QLatin1Char('\n')),
                 (QStringList{QStringLiteral("--compress"), m_root->filePath(QStringLiteral("a b.jpg")), QStringLiteral("/abs/c.jpg"),
                              m_root->filePath(QStringLiteral("-sub/d.jpg")), QString()}));
    }

    // Exec= lines quote and escape the program as desktop entries (and Nemo's shell) read them.
    void execQuoting()
    {
        const std::pair<const char *, const char *> rows[] = {{"/opt/it's/pikora", "Exec=\"/opt/it's/pikora\" --compress %F"},
            {"/opt/a\"b$c`d\\e%f/pikora", "Exec=\"/opt/a\\\\\"b\\\\$c\\\\`d\\\\\\\\e%%f/pikora\" --compress %F"},
            {"/opt/100%/pikora", "Exec=/opt/100%%/pikora --compress %F"}};
        for (const auto &[program, exec] : rows) {
            m_where.program = QString::fromUtf8(program);
            QVERIFY(QAI::install(m_where));
            QVERIFY2(TestEnv::readAll(home(kNemoCompress)).split('\n').contains(exec), exec);
        }
    }
};

QTEST_GUILESS_MAIN(TestQuickActionInstaller)
#include "tst_quickactioninstaller.moc"
