#include "integration/quickactioninstaller.h"

#include "testenv.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <memory>

namespace QAI = QuickActionInstaller;

namespace {

const QString kCompressName = QStringLiteral("使用Pikora进行无损瘦身.workflow");
const QString kRestoreName = QStringLiteral("使用Pikora还原为 JPEG.workflow");
const QString kRetiredName = QStringLiteral("🔍 在 Lumevo 中对比查看.workflow");
const QString kProgram = QStringLiteral("/opt/Pikora Apps/pikora");

// The restore script differs only in --restore; see scriptReadBack.
const QString kCompressScript = QStringLiteral("for f in \"$@\"\ndo\n    open -a \"Pikora\" --args --compress \"$f\"\ndone");
const QString kRestoreScript = QStringLiteral("for f in \"$@\"\ndo\n    open -a \"Pikora\" --args --restore \"$f\"\ndone");

const char kNautilusCompress[] = R"(#!/bin/sh
for f in "$@"; do
    case $f in /*) ;; *) f=$PWD/$f ;; esac
    set -- "$@" "$f"
    shift
done
exec '/opt/Pikora Apps/pikora' --compress "$@"
)";

const char kNautilusRestore[] = R"(#!/bin/sh
for f in "$@"; do
    case $f in /*) ;; *) f=$PWD/$f ;; esac
    set -- "$@" "$f"
    shift
done
exec '/opt/Pikora Apps/pikora' --restore "$@"
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

const char kNemoCompress[] = R"([Nemo Action]
Active=true
Name=使用Pikora进行无损瘦身
Exec="/opt/Pikora Apps/pikora" --compress %F
Selection=notnone
Extensions=any;
Quote=double
)";

const char kNemoRestore[] = R"([Nemo Action]
Active=true
Name=使用Pikora还原为 JPEG
Exec="/opt/Pikora Apps/pikora" --restore %F
Selection=notnone
Extensions=any;
Quote=double
)";

const QFileDevice::Permissions kModeBits = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
    | QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther
    | QFileDevice::WriteOther | QFileDevice::ExeOther;

// Just enough of a property-list reader to get typed values back.
QVariant readValue(QXmlStreamReader &xml)
{
    const QString element = xml.name().toString();
    if (element == QLatin1String("dict")) {
        QVariantMap map;
        while (xml.readNextStartElement()) {
            if (xml.name() != QLatin1String("key"))
                xml.raiseError(QStringLiteral("key expected"));
            const QString key = xml.readElementText();
            if (!xml.readNextStartElement())
                xml.raiseError(QStringLiteral("value expected for %1").arg(key));
            map.insert(key, readValue(xml));
        }
        return map;
    }
    if (element == QLatin1String("array")) {
        QVariantList list;
        while (xml.readNextStartElement())
            list.append(readValue(xml));
        return list;
    }
    if (element == QLatin1String("string"))
        return xml.readElementText();
    if (element == QLatin1String("integer"))
        return xml.readElementText().toLongLong();
    if (element == QLatin1String("true") || element == QLatin1String("false")) {
        xml.skipCurrentElement();
        return element == QLatin1String("true");
    }
    xml.raiseError(QStringLiteral("unexpected <%1>").arg(element));
    return {};
}

QVariantMap readPlist(const QString &path)
{
    QXmlStreamReader xml(TestEnv::readAll(path));
    if (!xml.readNextStartElement() || xml.name() != QLatin1String("plist") || !xml.readNextStartElement())
        return {};
    const QVariant value = readValue(xml);
    if (xml.hasError())
        qWarning() << path << xml.errorString();
    return xml.hasError() ? QVariantMap() : value.toMap();
}

QStringList entries(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    names.sort();
    return names;
}

// Root is not stopped by folder permissions, but the immutable flag stops it.
bool setImmutable(const QString &path, bool on)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

} // namespace

class TestActions final : public QObject
{
    Q_OBJECT

private:
    QString home(const QString &relative) const { return m_root->path() + QStringLiteral("/home/") + relative; }
    QString bundle(const QString &name) const { return home(QStringLiteral("Library/Services/")) + name; }
    void makeBundle(const QString &name, const QByteArray &marker)
    {
        TestEnv::writeAll(bundle(name) + QStringLiteral("/Contents/marker"), marker);
    }

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

    // Runs first: the no-argument operations keep the home folder of their first use.
    void defaultLocations()
    {
        QCOMPARE(QAI::servicesDirectory(), home(QStringLiteral("Library/Services")));
        QCOMPARE(QAI::locations().dataHome, home(QStringLiteral(".local/share")));
        QString error;
        QVERIFY2(QAI::install(&error), qPrintable(error));
        QVERIFY(QAI::isInstalled());
        QVERIFY(QFile::exists(home(QStringLiteral(".config/caja/scripts/使用Pikora进行无损瘦身"))));

        const QByteArray savedHome = qgetenv("HOME");
        qputenv("HOME", QFile::encodeName(m_root->path()));
        qunsetenv("XDG_DATA_HOME");
        qputenv("XDG_CONFIG_HOME", "relative/is/ignored");
        QCOMPARE(QAI::servicesDirectory(), home(QStringLiteral("Library/Services")));
        const QAI::Locations fresh = QAI::locationsFromEnvironment(kProgram);
        QCOMPARE(fresh.servicesDirectory, m_root->path() + QStringLiteral("/Library/Services"));
        QCOMPARE(fresh.dataHome, m_root->path() + QStringLiteral("/.local/share"));
        QCOMPARE(fresh.configHome, m_root->path() + QStringLiteral("/.config"));
        qputenv("HOME", savedHome);

        QVERIFY2(QAI::uninstall(&error), qPrintable(error));
        QVERIFY(!QAI::isInstalled());
        QVERIFY(!QFile::exists(bundle(kCompressName)));
    }

    void bundleTexts_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");
        QTest::newRow("compress") << kCompressName << QStringLiteral("quickactions/compress");
        QTest::newRow("restore") << kRestoreName << QStringLiteral("quickactions/restore");
    }

    void bundleTexts()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        QCOMPARE(QAI::compressActionName(), kCompressName);
        QCOMPARE(QAI::restoreActionName(), kRestoreName);
        QString error;
        QVERIFY2(QAI::install(m_where, &error), qPrintable(error));

        QCOMPARE(entries(bundle(name)), QStringList{QStringLiteral("Contents")});
        QCOMPARE(entries(bundle(name) + QStringLiteral("/Contents")),
                 (QStringList{QStringLiteral("Info.plist"), QStringLiteral("document.wflow")}));
        for (const QString &file : {QStringLiteral("Info.plist"), QStringLiteral("document.wflow")}) {
            const QByteArray actual = TestEnv::readAll(bundle(name) + QStringLiteral("/Contents/") + file);
            const QByteArray wanted = TestEnv::readAll(TestEnv::dataPath(expected + QLatin1Char('/') + file));
            QVERIFY(wanted.endsWith("</plist>"));
            // Line by line first, so a failure names the line.
            const QList<QByteArray> actualLines = actual.split('\n');
            const QList<QByteArray> wantedLines = wanted.split('\n');
            for (qsizetype i = 0; i < qMin(actualLines.size(), wantedLines.size()); ++i)
                QCOMPARE(actualLines.at(i), wantedLines.at(i));
            QCOMPARE(actual, wanted);
        }
    }

    void scriptReadBack()
    {
        QVERIFY(QAI::install(m_where));
        for (const auto &[name, script] : {std::pair{kCompressName, kCompressScript}, std::pair{kRestoreName, kRestoreScript}}) {
            const QVariantMap info = readPlist(bundle(name) + QStringLiteral("/Contents/Info.plist"));
            const QVariantMap service = info.value(QStringLiteral("NSServices")).toList().value(0).toMap();
            const QString title = service.value(QStringLiteral("NSMenuItem")).toMap().value(QStringLiteral("default")).toString();
            QCOMPARE(title, QString(name).chopped(9));
            QVERIFY(!title.contains(QLatin1String(".workflow")));
            QCOMPARE(service.value(QStringLiteral("NSSendFileTypes")).toStringList(),
                     (QStringList{QStringLiteral("public.item"), QStringLiteral("public.image"), QStringLiteral("public.folder")}));

            const QVariantMap wflow = readPlist(bundle(name) + QStringLiteral("/Contents/document.wflow"));
            const QVariantMap action =
                wflow.value(QStringLiteral("actions")).toList().value(0).toMap().value(QStringLiteral("action")).toMap();
            const QVariantMap parameters = action.value(QStringLiteral("ActionParameters")).toMap();
            const QVariantMap argument3 =
                action.value(QStringLiteral("arguments")).toMap().value(QStringLiteral("3")).toMap();
            QCOMPARE(parameters.value(QStringLiteral("COMMAND_STRING")).toString(), script);
            QCOMPARE(argument3.value(QStringLiteral("value")).toString(), script);
            QCOMPARE(script.split(QLatin1Char('\n')).size(), 4);
            QCOMPARE(parameters.value(QStringLiteral("inputMethod")), QVariant(1LL));
            QCOMPARE(parameters.value(QStringLiteral("CheckedForUserDefaultShell")), QVariant(true));
            QCOMPARE(parameters.value(QStringLiteral("source")), QVariant(QString()));
        }
    }

    void reinstallReplaces()
    {
        QVERIFY(QAI::install(m_where));
        const QString info = bundle(kCompressName) + QStringLiteral("/Contents/Info.plist");
        const QByteArray first = TestEnv::readAll(info);
        TestEnv::writeAll(info, "stale");
        TestEnv::writeAll(bundle(kCompressName) + QStringLiteral("/Contents/stale.txt"), "stale");
        TestEnv::writeAll(bundle(kRestoreName) + QStringLiteral("/extra/stale.txt"), "stale");
        QVERIFY(QAI::install(m_where));
        QCOMPARE(TestEnv::readAll(info), first);
        QVERIFY(!QFile::exists(bundle(kCompressName) + QStringLiteral("/Contents/stale.txt")));
        QVERIFY(!QFile::exists(bundle(kRestoreName) + QStringLiteral("/extra")));
    }

    // 0: missing, 1: bundle folder, 2: plain file in its place.
    void isInstalledAndRepair_data()
    {
        QTest::addColumn<int>("compress");
        QTest::addColumn<int>("restore");
        QTest::addColumn<bool>("expected");
        QTest::newRow("nothing") << 0 << 0 << false;
        QTest::newRow("compress only") << 1 << 0 << false;
        QTest::newRow("restore only") << 0 << 1 << false;
        QTest::newRow("both") << 1 << 1 << true;
        QTest::newRow("both as files") << 2 << 2 << true;
    }

    void isInstalledAndRepair()
    {
        QFETCH(int, compress);
        QFETCH(int, restore);
        QFETCH(bool, expected);
        for (const auto &[name, kind] : {std::pair{kCompressName, compress}, std::pair{kRestoreName, restore}}) {
            if (kind == 1)
                makeBundle(name, "old");
            else if (kind == 2)
                TestEnv::writeAll(bundle(name), "old");
        }
        makeBundle(kRetiredName, "retired");
        QCOMPARE(QAI::isInstalled(m_where), expected);

        QVERIFY(QAI::install(m_where));
        QVERIFY(QAI::isInstalled(m_where));
        for (const auto &[name, data] : {std::pair{kCompressName, "compress"}, std::pair{kRestoreName, "restore"}}) {
            QCOMPARE(TestEnv::readAll(bundle(name) + QStringLiteral("/Contents/Info.plist")),
                     TestEnv::readAll(TestEnv::dataPath(QStringLiteral("quickactions/%1/Info.plist").arg(QLatin1String(data)))));
            QVERIFY(!QFile::exists(bundle(name) + QStringLiteral("/Contents/marker")));
        }
        QCOMPARE(TestEnv::readAll(bundle(kRetiredName) + QStringLiteral("/Contents/marker")), QByteArray("retired"));
    }

    void uninstallRemovesOurs()
    {
        QVERIFY(QAI::install(m_where));
        makeBundle(kRetiredName, "retired");
        makeBundle(QStringLiteral("Other.workflow"), "user's own");
        TestEnv::writeAll(home(QStringLiteral(".local/share/nautilus/scripts/Other")), "user's own");
        QString error;
        QVERIFY2(QAI::uninstall(m_where, &error), qPrintable(error));
        for (const QString &name : {kCompressName, kRestoreName, kRetiredName})
            QVERIFY2(!QFileInfo::exists(bundle(name)), qPrintable(name));
        QVERIFY(!QAI::isInstalled(m_where));
        QCOMPARE(TestEnv::readAll(bundle(QStringLiteral("Other.workflow/Contents/marker"))), QByteArray("user's own"));
        QVERIFY(QFile::exists(home(QStringLiteral(".local/share/nautilus/scripts/Other"))));
        QCOMPARE(QDir(home(QStringLiteral(".local/share/nautilus/scripts"))).entryList(QDir::Files),
                 QStringList{QStringLiteral("Other")});
    }

    void uninstallNothing()
    {
        QVERIFY(!QFileInfo::exists(home(QStringLiteral("Library"))));
        QString error;
        QVERIFY2(QAI::uninstall(m_where, &error), qPrintable(error));
        QVERIFY(error.isEmpty());
    }

    void installFailureReported()
    {
        TestEnv::writeAll(home(QStringLiteral("Library/Services")), "not a folder");
        QString error;
        QVERIFY(!QAI::install(m_where, &error));
        QVERIFY2(error.contains(QLatin1String("Library/Services")), qPrintable(error));
        QVERIFY(!QAI::isInstalled(m_where));
    }

    void nativeFiles_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<bool>("executable");
        QTest::newRow("nautilus compress") << QStringLiteral(".local/share/nautilus/scripts/使用Pikora进行无损瘦身")
                                           << QByteArray(kNautilusCompress) << true;
        QTest::newRow("nautilus restore") << QStringLiteral(".local/share/nautilus/scripts/使用Pikora还原为 JPEG")
                                          << QByteArray(kNautilusRestore) << true;
        QTest::newRow("caja compress") << QStringLiteral(".config/caja/scripts/使用Pikora进行无损瘦身")
                                       << QByteArray(kNautilusCompress) << true;
        QTest::newRow("caja restore") << QStringLiteral(".config/caja/scripts/使用Pikora还原为 JPEG")
                                      << QByteArray(kNautilusRestore) << true;
        QTest::newRow("dolphin") << QStringLiteral(".local/share/kio/servicemenus/io.gitlab.tolvane.Pikora.desktop")
                                 << QByteArray(kDolphin) << true;
        QTest::newRow("nemo compress") << QStringLiteral(".local/share/nemo/actions/io.gitlab.tolvane.Pikora-compress.nemo_action")
                                       << QByteArray(kNemoCompress) << false;
        QTest::newRow("nemo restore") << QStringLiteral(".local/share/nemo/actions/io.gitlab.tolvane.Pikora-restore.nemo_action")
                                      << QByteArray(kNemoRestore) << false;
    }

    void nativeFiles()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, contents);
        QFETCH(bool, executable);
        QVERIFY(QAI::install(m_where));
        QCOMPARE(TestEnv::readAll(home(path)), contents);
        const QFileDevice::Permissions exe = QFileDevice::ExeOwner | QFileDevice::ExeGroup | QFileDevice::ExeOther;
        const QFileDevice::Permissions base =
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther;
        QCOMPARE(QFile::permissions(home(path)) & kModeBits, executable ? base | exe : base);
        QVERIFY(QAI::uninstall(m_where));
        QVERIFY(!QFileInfo::exists(home(path)));
        QVERIFY(QFileInfo(home(path)).dir().exists());
    }

    // The installed scripts really start the program, with absolute paths, whatever its folder is called.
    void nativeScriptRuns_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("option");
        QTest::newRow("nautilus") << QStringLiteral(".local/share/nautilus/scripts/使用Pikora进行无损瘦身")
                                  << QStringLiteral("--compress");
        QTest::newRow("caja") << QStringLiteral(".config/caja/scripts/使用Pikora还原为 JPEG") << QStringLiteral("--restore");
    }

    void nativeScriptRuns()
    {
        QFETCH(QString, script);
        QFETCH(QString, option);
        const QString record = m_root->filePath(QStringLiteral("args.txt"));
        m_where.program = TestEnv::writeScript(m_root->filePath(QStringLiteral("it's \"$HOME\" \\ `x`/pikora")),
                                               "printf '%s\\n' \"$@\" > \"$PIKORA_ARGS\"");
        QVERIFY(QAI::install(m_where));
        const QString photos = m_root->filePath(QStringLiteral("photos"));
        QVERIFY(QDir().mkpath(photos));

        QProcess run;
        run.setWorkingDirectory(photos);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PIKORA_ARGS"), record);
        run.setProcessEnvironment(environment);
        run.start(home(script), {QStringLiteral("a b.jpg"), QStringLiteral("/abs/c.jpg"), QStringLiteral("-sub/d.jpg")});
        QVERIFY(run.waitForFinished());
        QCOMPARE(run.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(TestEnv::readAll(record)).split(QLatin1Char('\n')),
                 (QStringList{option, photos + QStringLiteral("/a b.jpg"), QStringLiteral("/abs/c.jpg"),
                              photos + QStringLiteral("/-sub/d.jpg"), QString()}));
    }

    void execQuoting_data()
    {
        QTest::addColumn<QString>("program");
        QTest::addColumn<QString>("exec");
        QTest::newRow("plain") << QStringLiteral("/usr/bin/pikora") << QStringLiteral("Exec=/usr/bin/pikora --compress %F");
        QTest::newRow("bare name") << QStringLiteral("pikora") << QStringLiteral("Exec=pikora --compress %F");
        QTest::newRow("blank") << kProgram << QStringLiteral("Exec=\"/opt/Pikora Apps/pikora\" --compress %F");
        QTest::newRow("apostrophe") << QStringLiteral("/opt/it's/pikora")
                                    << QStringLiteral("Exec=\"/opt/it's/pikora\" --compress %F");
        QTest::newRow("escapes") << QStringLiteral("/opt/a\"b$c`d\\e%f/pikora")
                                 << QStringLiteral("Exec=\"/opt/a\\\\\"b\\\\$c\\\\`d\\\\\\\\e%%f/pikora\" --compress %F");
        QTest::newRow("percent only") << QStringLiteral("/opt/100%/pikora")
                                      << QStringLiteral("Exec=/opt/100%%/pikora --compress %F");
    }

    void execQuoting()
    {
        QFETCH(QString, program);
        QFETCH(QString, exec);
        m_where.program = program;
        QVERIFY(QAI::install(m_where));
        for (const char *file : {".local/share/kio/servicemenus/io.gitlab.tolvane.Pikora.desktop",
                                 ".local/share/nemo/actions/io.gitlab.tolvane.Pikora-compress.nemo_action"}) {
            const QStringList lines = QString::fromUtf8(TestEnv::readAll(home(QLatin1String(file)))).split(QLatin1Char('\n'));
            QVERIFY2(lines.contains(exec), qPrintable(lines.join(QLatin1Char('\n'))));
        }
    }

    // Service menus are not Application entries, so the validator's complaints about that are expected.
    void dolphinValidates()
    {
        const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
        if (validator.isEmpty())
            QSKIP("desktop-file-validate is not installed");
        QVERIFY(QAI::install(m_where));
        QProcess run;
        run.start(validator, {home(QStringLiteral(".local/share/kio/servicemenus/io.gitlab.tolvane.Pikora.desktop"))});
        QVERIFY(run.waitForFinished());
        const QByteArray output = run.readAllStandardOutput() + run.readAllStandardError();
        const QStringList lines = QString::fromUtf8(output).split(QLatin1Char('\n'));
        for (const QString &line : lines) {
            if (line.contains(QLatin1String("error:")))
                QVERIFY2(line.contains(QLatin1String(
                             "but the type is \"Service\" while this key is only valid for type \"Application\"")),
                         qPrintable(line));
        }
    }

    void uninstallFailureStops()
    {
        QVERIFY(QAI::install(m_where));
        makeBundle(kRetiredName, "retired");
        const QString stuck = bundle(kRestoreName) + QStringLiteral("/Contents");
        const QString stuckFile = stuck + QStringLiteral("/Info.plist");
        const bool root = ::geteuid() == 0;
        if (root ? !setImmutable(stuckFile, true) : !QFile::setPermissions(stuck, QFile::ReadOwner | QFile::ExeOwner))
            QSKIP("cannot make a file undeletable here");
        auto release = qScopeGuard([&] {
            if (root)
                setImmutable(stuckFile, false);
            else
                QFile::setPermissions(stuck, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        });

        QString error;
        QVERIFY(!QAI::uninstall(m_where, &error));
        QVERIFY2(error.contains(kRestoreName), qPrintable(error));
        QVERIFY(!QFileInfo::exists(bundle(kCompressName)));
        QVERIFY(QFileInfo::exists(stuckFile));
        QCOMPARE(TestEnv::readAll(bundle(kRetiredName) + QStringLiteral("/Contents/marker")), QByteArray("retired"));
        QVERIFY(QFile::exists(home(QStringLiteral(".local/share/kio/servicemenus/io.gitlab.tolvane.Pikora.desktop"))));
    }
};

QTEST_GUILESS_MAIN(TestActions)
#include "tst_actions.moc"
