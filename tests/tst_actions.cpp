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

const QString kCompressName = QStringLiteral("使用Pikora进行无损瘦身.workflow");
const QString kRestoreName = QStringLiteral("使用Pikora还原为 JPEG.workflow");
const QString kRetiredName = QStringLiteral("🔍 在 Lumevo 中对比查看.workflow");
const QStringList kBundleFiles{QStringLiteral("Info.plist"), QStringLiteral("document.wflow")};
const QString kProgram = QStringLiteral("/opt/Pikora Apps/pikora");
const QString kNautilusCompress = QStringLiteral(".local/share/nautilus/scripts/使用Pikora进行无损瘦身");
const QString kDolphinMenu = QStringLiteral(".local/share/kio/servicemenus/io.gitlab.tolvane.Pikora.desktop");
const QString kNemoCompress = QStringLiteral(".local/share/nemo/actions/io.gitlab.tolvane.Pikora-compress.nemo_action");

// Expected native files. Nemo: %1 is the menu title, %2 the option; Nautilus and Caja: %1 is the option.
const char kNemo[] = R"([Nemo Action]
Active=true
Name=%1
Exec="/opt/Pikora Apps/pikora" %2 %F
Selection=notnone
Extensions=any;
Quote=double
)";

const char kNautilusScript[] = R"(#!/bin/sh
for f in "$@"; do
    case $f in /*) ;; *) f=$PWD/$f ;; esac
    set -- "$@" "$f"
    shift
done
exec '/opt/Pikora Apps/pikora' %1 "$@"
)";

const char kDolphin[] = R"([Desktop Entry]
Type=Service
Name=Pikora
MimeType=image/jpeg;image/jxl;inode/directory;
X-KDE-ServiceTypes=KonqPopupMenu/Plugin
Actions=compress;restore;

[Desktop Action compress]
Name=使用Pikora进行无损瘦身
Exec="/opt/Pikora Apps/pikora" --compress %F

[Desktop Action restore]
Name=使用Pikora还原为 JPEG
Exec="/opt/Pikora Apps/pikora" --restore %F
)";

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

} // namespace

class TestActions final : public QObject
{
    Q_OBJECT

private:
    QString home(const QString &relative) const { return m_root->path() + QStringLiteral("/home/") + relative; }
    QString bundle(const QString &name) const { return home(QStringLiteral("Library/Services/")) + name; }
    void makeBundle(const QString &name) { TestEnv::writeAll(bundle(name) + QStringLiteral("/Contents/marker"), "old"); }

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
        QCOMPARE((QStringList{where.servicesDirectory, where.dataHome, where.configHome}),
                 (QStringList{m_root->path() + QStringLiteral("/Library/Services"),
                              m_root->path() + QStringLiteral("/.local/share"), m_root->path() + QStringLiteral("/.config")}));
    }

    void bundleFilesExact()
    {
        QVERIFY(QAI::install(m_where));
        for (const auto &[name, data] : {std::pair{kCompressName, "compress/"}, std::pair{kRestoreName, "restore/"}}) {
            QCOMPARE(entries(bundle(name)), QStringList{QStringLiteral("Contents")});
            QCOMPARE(entries(bundle(name) + QStringLiteral("/Contents")), kBundleFiles);
            for (const QString &file : kBundleFiles) {
                const QByteArray wanted =
                    TestEnv::readAll(TestEnv::dataPath(QStringLiteral("quickactions/") + QLatin1String(data) + file));
                // Byte for byte, naming the first line that differs.
                QCOMPARE(TestEnv::readAll(bundle(name) + QStringLiteral("/Contents/") + file).split('\n'), wanted.split('\n'));
            }
        }
    }

    void reinstallReplaces()
    {
        QVERIFY(QAI::install(m_where));
        const QString info = bundle(kCompressName) + QStringLiteral("/Contents/Info.plist");
        TestEnv::writeAll(info, "stale");
        TestEnv::writeAll(bundle(kCompressName) + QStringLiteral("/Contents/stale.txt"), "stale");
        TestEnv::writeAll(bundle(kRestoreName) + QStringLiteral("/extra/stale.txt"), "stale");
        QVERIFY(QAI::install(m_where));
        QCOMPARE(TestEnv::readAll(info), TestEnv::readAll(TestEnv::dataPath(QStringLiteral("quickactions/compress/Info.plist"))));
        QVERIFY(!QFile::exists(bundle(kCompressName) + QStringLiteral("/Contents/stale.txt")));
        QVERIFY(!QFile::exists(bundle(kRestoreName) + QStringLiteral("/extra")));
    }

    // 0: missing, 1: bundle folder, 2: plain file in its place. Install repairs each, and leaves the retired bundle.
    void partialInstall_data()
    {
        QTest::addColumn<int>("compress");
        QTest::addColumn<int>("restore");
        QTest::addColumn<bool>("installed");
        QTest::newRow("nothing") << 0 << 0 << false;
        QTest::newRow("compress only") << 1 << 0 << false;
        QTest::newRow("restore only") << 0 << 1 << false;
        QTest::newRow("both") << 1 << 1 << true;
        QTest::newRow("both as files") << 2 << 2 << true;
    }

    void partialInstall()
    {
        QFETCH(int, compress);
        QFETCH(int, restore);
        for (const auto &[name, kind] : {std::pair{kCompressName, compress}, std::pair{kRestoreName, restore}}) {
            if (kind > 0)
                TestEnv::writeAll(bundle(name) + (kind == 1 ? QStringLiteral("/Contents/marker") : QString()), "old");
        }
        makeBundle(kRetiredName);
        QTEST(QAI::isInstalled(m_where), "installed");
        QVERIFY(QAI::install(m_where) && QAI::isInstalled(m_where));
        for (const QString &name : {kCompressName, kRestoreName})
            QCOMPARE(entries(bundle(name) + QStringLiteral("/Contents")), kBundleFiles);
        QVERIFY(QFile::exists(bundle(kRetiredName) + QStringLiteral("/Contents/marker")));
    }

    void uninstallRemovesOnlyOurs()
    {
        QString error;
        QVERIFY2(QAI::uninstall(m_where, &error) && error.isEmpty(), qPrintable(error)); // nothing there yet
        QVERIFY(QAI::install(m_where));
        makeBundle(kRetiredName);
        makeBundle(QStringLiteral("Other.workflow"));
        TestEnv::writeAll(home(QStringLiteral(".local/share/nautilus/scripts/Other")), "user's own");
        QVERIFY2(QAI::uninstall(m_where, &error), qPrintable(error));
        QCOMPARE(entries(home(QStringLiteral("Library/Services"))), QStringList{QStringLiteral("Other.workflow")});
        QCOMPARE(entries(home(QStringLiteral(".local/share/nautilus/scripts"))), QStringList{QStringLiteral("Other")});
        for (const char *folder : {".local/share/nemo/actions", ".config/caja/scripts", ".local/share/kio/servicemenus"})
            QVERIFY2(QDir(home(QLatin1String(folder))).exists() && entries(home(QLatin1String(folder))).isEmpty(), folder);
    }

    // Install says why it failed. The first removal that fails ends an uninstall: what comes after stays.
    void failuresReported()
    {
        TestEnv::writeAll(home(QStringLiteral("Library/Services")), "not a folder");
        QString error;
        QVERIFY(!QAI::install(m_where, &error));
        QVERIFY2(error.contains(QLatin1String("Library/Services")), qPrintable(error));

        QVERIFY(QFile::remove(home(QStringLiteral("Library/Services"))) && QAI::install(m_where));

        QAI::Locations unreachable = m_where; // a name too long to look up fails the first bundle, even for root
        unreachable.servicesDirectory += QLatin1Char('/') + QString(300, u'x');
        QVERIFY(!QAI::uninstall(unreachable, &error) && QFile::exists(home(kNautilusCompress)));
        QVERIFY(QFile::remove(home(kNautilusCompress))); // then a folder in a script's place fails the first native file
        TestEnv::writeAll(home(kNautilusCompress) + QStringLiteral("/keeps it"), "user's own");
        QVERIFY(!QAI::uninstall(m_where, &error));
        QVERIFY2(error.contains(home(kNautilusCompress)), qPrintable(error));
        QVERIFY(!QFileInfo::exists(bundle(kRestoreName)) && QFile::exists(home(kDolphinMenu)));
    }

    void nativeFiles_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("contents");
        QTest::addColumn<bool>("executable");
        const auto row = [](const char *name, const QString &path, const QString &contents, bool executable) {
            QTest::newRow(name) << path << contents << executable;
        };
        const QString compress = QStringLiteral("使用Pikora进行无损瘦身");
        const QString restore = QStringLiteral("使用Pikora还原为 JPEG");
        const QString toCompress = QString::fromUtf8(kNautilusScript).arg(QLatin1String("--compress"));
        const QString toRestore = QString::fromUtf8(kNautilusScript).arg(QLatin1String("--restore"));
        const QString nemo = QString::fromUtf8(kNemo);
        row("nautilus compress", kNautilusCompress, toCompress, true);
        row("nautilus restore", QStringLiteral(".local/share/nautilus/scripts/") + restore, toRestore, true);
        row("caja compress", QStringLiteral(".config/caja/scripts/") + compress, toCompress, true);
        row("caja restore", QStringLiteral(".config/caja/scripts/") + restore, toRestore, true);
        row("dolphin", kDolphinMenu, QString::fromUtf8(kDolphin), true);
        row("nemo compress", kNemoCompress, nemo.arg(compress, QLatin1String("--compress")), false);
        row("nemo restore", QStringLiteral(".local/share/nemo/actions/io.gitlab.tolvane.Pikora-restore.nemo_action"),
            nemo.arg(restore, QLatin1String("--restore")), false);
    }

    void nativeFiles()
    {
        QFETCH(QString, path);
        QFETCH(QString, contents);
        QFETCH(bool, executable);
        QVERIFY(QAI::install(m_where));
        QCOMPARE(QString::fromUtf8(TestEnv::readAll(home(path))), contents);
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

QTEST_GUILESS_MAIN(TestActions)
#include "tst_actions.moc"
