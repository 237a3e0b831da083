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
using namespace Qt::StringLiterals;

namespace {

const QString kProgram = QStringLiteral("/opt/Pikora Apps/pikora");
const QString kNautilusCompress = QStringLiteral(".local/share/nautilus/scripts/使用Pikora进行无损瘦身");
const QString kDolphinMenu = QStringLiteral(".local/share/kio/servicemenus/io.gitlab.tolvane.Pikora.desktop");
const QString kNemoCompress = QStringLiteral(".local/share/nemo/actions/io.gitlab.tolvane.Pikora-compress.nemo_action");

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
    // Each file is where its file manager looks, executable where it runs only such files (what
    // they start: tst_filemanageractions).
    void roundTrip()
    {
        TestEnv::writeAll(home(u".local/share/nautilus/scripts/Other"_s), "user's own");
        TestEnv::writeAll(home(u".local/share/kio/servicemenus/other.desktop"_s), "user's own");
        QString error;
        QVERIFY2(QAI::uninstall(m_where, &error) && error.isEmpty(), qPrintable(error)); // nothing there yet
        QVERIFY(!QAI::isInstalled(m_where));

        QVERIFY2(QAI::install(m_where, &error), qPrintable(error));
        QVERIFY(QAI::isInstalled(m_where));
        const QStringList paths = QAI::installedPaths(m_where);
        QCOMPARE(paths.size(), 7);
        for (const QString &path : {kNautilusCompress, u".config/caja/scripts/使用Pikora还原为 JPEG"_s, kDolphinMenu, kNemoCompress}) {
            const auto mode = std::filesystem::status(QFile::encodeName(home(path)).toStdString()).permissions();
            QVERIFY2(paths.contains(home(path)) && int(mode) == (path == kNemoCompress ? 0644 : 0755), qPrintable(path));
        }
        QVERIFY(!QFileInfo::exists(home(u"Library"_s)));

        QVERIFY2(QAI::uninstall(m_where, &error), qPrintable(error));
        QVERIFY(!QAI::isInstalled(m_where));
        QCOMPARE(TestEnv::entries(home(u".local/share/nautilus/scripts"_s)), QStringList{u"Other"_s});
        QCOMPARE(TestEnv::entries(home(u".local/share/kio/servicemenus"_s)), QStringList{u"other.desktop"_s});
        for (const char *folder : {".local/share/nemo/actions", ".config/caja/scripts"})
            QVERIFY2(QDir(home(QLatin1String(folder))).exists() && TestEnv::entries(home(QLatin1String(folder))).isEmpty(), folder);
    }

    // Any one file missing reads as not installed; installing again repairs it and replaces stale contents.
    void partialInstall()
    {
        QVERIFY(QAI::install(m_where));
        const QByteArray nemo = TestEnv::readAll(home(kNemoCompress));
        for (const QString &path : QAI::installedPaths(m_where)) {
            QVERIFY(QFile::remove(path));
            QVERIFY2(!QAI::isInstalled(m_where), qPrintable(path));
            TestEnv::writeAll(home(kNemoCompress), "stale");
            QVERIFY(QAI::install(m_where) && QAI::isInstalled(m_where));
            QCOMPARE(TestEnv::readAll(home(kNemoCompress)), nemo);
        }
    }

    // The first removal that fails ends an uninstall, saying why: what comes after stays, and a
    // folder in a file's place is never emptied. (A failed install: tst_filemanageractions.)
    void failedUninstall()
    {
        QVERIFY(QAI::install(m_where) && QFile::remove(home(kNautilusCompress)));
        TestEnv::writeAll(home(kNautilusCompress) + u"/keeps it"_s, "user's own");
        QString error;
        QVERIFY(!QAI::uninstall(m_where, &error));
        QVERIFY2(error.startsWith(u"无法删除“"_s) && error.contains(home(kNautilusCompress)), qPrintable(error));
        QVERIFY(QFile::exists(home(kNautilusCompress) + u"/keeps it"_s) && QFile::exists(home(kDolphinMenu)));
    }

    // Whatever the program's folder is called, the script starts it with absolute paths and the
    // Exec= lines quote and escape it as desktop entries (and Nemo's shell) read them.
    void programPathQuoted()
    {
        const QString record = m_root->filePath(u"args.txt"_s);
        m_where.program = TestEnv::writeScript(m_root->filePath(u"it's \"$HOME\" \\ `x`/pikora"_s),
                                               "printf '%s\\n' \"$@\" > '" + QFile::encodeName(record) + '\'');
        QVERIFY(QAI::install(m_where));
        QProcess run;
        run.setWorkingDirectory(m_root->path());
        run.start(home(kNautilusCompress), {u"a b.jpg"_s, u"/abs/c.jpg"_s, u"-sub/d.jpg"_s});
        QVERIFY(run.waitForFinished() && run.exitCode() == 0);
        QCOMPARE(QString::fromUtf8(TestEnv::readAll(record)).split(u'\n'),
                 (QStringList{u"--compress"_s, m_root->filePath(u"a b.jpg"_s), u"/abs/c.jpg"_s, m_root->filePath(u"-sub/d.jpg"_s), QString()}));

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
