#include "app/autoconvertautostart.h"
#include "app/filemanageractions.h"
#include "app/settingsstore.h"
#include "platform/preferences.h"
#include "englishtexts.h"
#include "screenshots.h"
#include "testenv.h"
#include "ui/autoconvertsection.h"
#include "ui/integrationsettingstab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <unistd.h>

#include <functional>
#include <memory>
#include <optional>

namespace {

// The Exec value of an entry split back into arguments as a launcher does (the key file's
// escapes, then quoting, then %%); nothing when it breaks a rule of the format, a field code too.
std::optional<QStringList> execArguments(const QByteArray &entry)
{
    const qsizetype start = entry.indexOf("\nExec=") + 6;
    const QString value = QString::fromUtf8(entry.mid(start, entry.indexOf('\n', start) - start));
    QString text;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const qsizetype escape = value[i] == u'\\' && i + 1 < value.size() ? QStringLiteral("s\\ntr").indexOf(value[++i]) : -2;
        if (escape == -1)
            return std::nullopt; // not an escape of the key file format
        text += escape < 0 ? value[i] : QStringLiteral(" \\\n\t\r")[escape];
    }
    QStringList arguments;
    QString current;
    bool quoted = false, started = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'%' && (++i == text.size() || text[i] != u'%'))
            return std::nullopt; // a field code
        if (quoted && c == u'\\' && i + 1 < text.size() && QStringLiteral("\"`$\\").contains(text[i + 1]))
            current += text[++i];
        else if (c == u'"')
            quoted = !quoted, started = true;
        else if (!quoted && QStringLiteral("\t\n'\\><~|&;$*?#()`").contains(c))
            return std::nullopt; // reserved outside quotes
        else if (!quoted && c == u' ' && started)
            arguments << std::exchange(current, QString()), started = false;
        else if (quoted || c != u' ')
            current += c, started = true;
    }
    if (quoted)
        return std::nullopt;
    return started ? arguments << current : arguments;
}

// What a checker (desktop-file-validate, systemd-analyze) says when it fails or says anything.
QString complaints(const QString &program, const QStringList &arguments)
{
    QProcess checker;
    checker.start(QStandardPaths::findExecutable(program), arguments);
    if (!checker.waitForFinished(60'000))
        return program + QStringLiteral(" did not run");
    const QString said = QString::fromUtf8(checker.readAllStandardOutput() + checker.readAllStandardError());
    return checker.exitCode() == 0 ? said : QStringLiteral("exit %1: %2").arg(checker.exitCode()).arg(said);
}

// Makes folder read-only: a read-only bind mount where we are root (a mode would not stop
// root), else its mode. Returns how to undo it, or nothing when it cannot be done.
std::optional<std::function<void()>> makeReadOnly(const QString &folder)
{
    if (::geteuid() != 0) {
        if (!QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner))
            return std::nullopt;
        return [folder] { QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); };
    }
    const QString mount = QStandardPaths::findExecutable(QStringLiteral("mount"));
    const auto undo = [folder] { QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), folder}); };
    if (QProcess::execute(mount, {QStringLiteral("--bind"), folder, folder}) != 0)
        return std::nullopt;
    if (QProcess::execute(mount, {QStringLiteral("-o"), QStringLiteral("remount,bind,ro"), folder}) == 0)
        return undo;
    undo();
    return std::nullopt;
}

} // namespace

// The login entry that runs pikora-cli watch: as written and removed, quoted and validated; the
// settings behind it; the switch in the integration tab; the systemd unit beside it.
class TestAutostart final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    WatchAutostart::Locations m_where;
    std::optional<EnglishTexts> m_english;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<AutoConvertAutostart> m_autostart;

    QByteArray entry() const { return TestEnv::readAll(WatchAutostart::entryPath(m_where)); }
    QStringList expected(const QString &originals, const QStringList &folders) const
    {
        return QStringList{m_where.program, QStringLiteral("watch"), QStringLiteral("-q"), QStringLiteral("-o"), originals}
        + folders;
    }
    void setFolders(const QStringList &folders, DeleteStrategy originals = DeleteStrategy::keepOriginal)
    {
        AppSettings s = m_settings->settings();
        s.autoConvertFolders = folders;
        s.autoConvertOriginals = originals;
        m_settings->setSettings(s);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(TestEnv::isolate(m_root));
        // Apart from the settings' own config folder, which a test makes read-only.
        m_where = {m_root.filePath(QStringLiteral("session config")), m_root.filePath(QStringLiteral("bin dir/pikora-cli"))};
    }

    void init()
    {
        if (EnglishTexts::forThisRow())
            QVERIFY(m_english.emplace().isActive());
        TestEnv::forgetPreferences();
        QFile::remove(WatchAutostart::entryPath(m_where));
        m_settings = std::make_unique<SettingsStore>(HardwareInfo::fromFacts(QStringLiteral("Test CPU"), 4, std::nullopt, std::nullopt));
        m_autostart = std::make_unique<AutoConvertAutostart>(m_settings.get(), m_where);
    }

    void cleanup()
    {
        m_autostart.reset();
        m_settings.reset();
        m_english.reset();
    }

    // Folder names a shell or a launcher would take apart come back whole from the Exec line, in
    // an entry desktop-file-validate accepts, written in one step; the entry goes without a trace.
    void entryWrittenAndRemoved_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("originals");
        QTest::newRow("plain") << QStringLiteral("Photos") << QStringLiteral("keep");
        QTest::newRow("spaces and quotes") << QStringLiteral("My \"best\" 'shots'  2024") << QStringLiteral("trash");
        QTest::newRow("dollar and backtick") << QStringLiteral("$HOME `id` ${x}") << QStringLiteral("delete");
        QTest::newRow("percent") << QStringLiteral("100% %f %%U") << QStringLiteral("keep");
        QTest::newRow("backslashes") << QStringLiteral("a\\b\\\\c\\") << QStringLiteral("keep");
        QTest::newRow("other reserved") << QStringLiteral("照片;<a>|&*?#(1)~\tend") << QStringLiteral("trash");
    }

    void entryWrittenAndRemoved()
    {
        QFETCH(QString, name);
        QFETCH(QString, originals);
        const QStringList folders{m_root.filePath(name), m_root.filePath(QStringLiteral("second"))};
        QString error;
        QVERIFY2(WatchAutostart::enable(m_where, originals, folders, &error), qPrintable(error));
        QCOMPARE(execArguments(entry()), expected(originals, folders));
        QCOMPARE(complaints(QStringLiteral("desktop-file-validate"), {QStringLiteral("--no-hints"), WatchAutostart::entryPath(m_where)}),
                 QString());
        for (const char *line : {"\nType=Application\n", "\nNoDisplay=true\n", "\nTerminal=false\n",
                                 "\nX-GNOME-Autostart-enabled=true\n", "\nName[zh_CN]=", "\nComment[zh_CN]="})
            QVERIFY2(entry().contains(line), line);
        const QString folder = m_where.configHome + QStringLiteral("/autostart");
        QCOMPARE(TestEnv::entries(folder), QStringList{QStringLiteral("pikora-watch.desktop")});
        QVERIFY(WatchAutostart::disable(m_where, &error) && TestEnv::entries(folder).isEmpty());
        QVERIFY(WatchAutostart::disable(m_where, &error)); // nothing to remove is no error
    }

    // The fields survive a restart beside the record; settings from before them load with defaults.
    void settingsKept()
    {
        setFolders({QStringLiteral("/photos/a b"), QStringLiteral("/photos/\"c\"")}, DeleteStrategy::moveToTrash);
        AppSettings saved = m_settings->settings();
        m_autostart.reset();
        m_settings = std::make_unique<SettingsStore>(m_settings->hardware());
        QVERIFY(m_settings->settings() == saved);
        Preferences().remove(SettingsStore::autoConvertKey); // as stored before the fields existed
        m_settings = std::make_unique<SettingsStore>(m_settings->hardware());
        saved.autoConvertFolders.clear();
        saved.autoConvertOriginals = DeleteStrategy::keepOriginal;
        QVERIFY(m_settings->settings() == saved);
        QVERIFY(!decodeAutoConvert(R"({"folders":"/photos","originals":"keep"})", saved));
        QVERIFY(!decodeAutoConvert(R"({"folders":["/photos"],"originals":"bin"})", saved) && saved.autoConvertFolders.isEmpty());
    }

    // The section as a user drives it: the switch off without folders, a folder from the dialog,
    // on; another folder and the originals choice rewrite the entry; deleted by hand, it shows as
    // off when the tab shows again and stays off; on again, removing every folder turns it off.
    void tabSwitch_data()
    {
        QTest::addColumn<QString>("switchText");
        QTest::newRow("Chinese") << QStringLiteral("登录时自动转换新照片");
        QTest::newRow("English") << QStringLiteral("Convert new photos at login");
    }

    void tabSwitch()
    {
        QFETCH(QString, switchText);
        FileManagerActions actions;
        IntegrationSettingsTab tab(&actions, m_settings.get(), m_autostart.get());
        tab.resize(560, 640);
        tab.show();
        QVERIFY(QTest::qWaitForWindowExposed(&tab));
        auto *section = tab.findChild<AutoConvertSection *>();
        QCheckBox *toggle = section->loginSwitch();
        QCOMPARE(toggle->text(), switchText);
        QVERIFY(!toggle->isEnabled() && !m_autostart->setEnabled(true)); // nothing to watch
        const QStringList folders{m_root.filePath(QStringLiteral("Pictures/Camera")), m_root.filePath(QStringLiteral("Pictures/手机 2024"))};
        QDir().mkpath(folders[0]);
        section->addButton()->click();
        auto *dialog = section->findChild<QFileDialog *>();
        QVERIFY(dialog && dialog->isVisible());
        auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
        name->setText(folders[0]); // pasted: typed, the completer would chime in after each key
        QTest::keyClick(name, Qt::Key_Return);
        QVERIFY(!QFile::exists(WatchAutostart::entryPath(m_where))); // a folder alone turns nothing on
        QTest::mouseClick(toggle, Qt::LeftButton, {}, QPoint(6, toggle->height() / 2));
        QCOMPARE(execArguments(entry()), expected(QStringLiteral("keep"), folders.mid(0, 1)));
        section->addFolder(folders[1]);
        section->addFolder(folders[1] + u'/'); // the same folder
        QTest::keyClick(section->originals(), Qt::Key_Down);
        QCOMPARE(execArguments(entry()), expected(QStringLiteral("trash"), folders));
        QVERIFY(toggle->isChecked() && section->errorText()->isHidden());
        section->folders()->item(1)->setSelected(true);
        Screenshots::save(&tab, EnglishTexts::screensFolder() + QStringLiteral("settings-autoconvert"));

        QFile::remove(WatchAutostart::entryPath(m_where));
        tab.hide();
        tab.show();
        QVERIFY(!toggle->isChecked());
        QTest::keyClick(section->originals(), Qt::Key_Down);
        QVERIFY(!QFile::exists(WatchAutostart::entryPath(m_where)));
        toggle->click();
        QCOMPARE(execArguments(entry()), expected(QStringLiteral("delete"), folders));
        section->folders()->selectAll();
        section->removeButton()->click();
        QVERIFY(section->folders()->count() == 0 && m_settings->settings().autoConvertFolders.isEmpty());
        QVERIFY(!toggle->isChecked() && !QFile::exists(WatchAutostart::entryPath(m_where)));
    }

    // A config folder that cannot be written: the reason is shown, the switch says what the disk
    // has, and the entry already there stays as it was.
    void readOnlyConfig_data() { tabSwitch_data(); }

    void readOnlyConfig()
    {
        setFolders({QStringLiteral("/photos/one")});
        QVERIFY(m_autostart->setEnabled(true));
        const QByteArray before = entry();
        FileManagerActions actions;
        IntegrationSettingsTab tab(&actions, m_settings.get(), m_autostart.get());
        auto *section = tab.findChild<AutoConvertSection *>();
        tab.resize(560, 640);
        tab.show();
        const auto undo = makeReadOnly(m_where.configHome + QStringLiteral("/autostart"));
        if (!undo)
            QSKIP("the folder cannot be made read-only here");
        const auto restore = qScopeGuard(*undo);
        setFolders({QStringLiteral("/photos/one"), QStringLiteral("/photos/two")}); // the rewrite fails
        QCOMPARE(entry(), before);
        QVERIFY(section->loginSwitch()->isChecked() && m_autostart->isEnabled());
        QVERIFY2(section->errorText()->isVisible() && section->errorText()->text().contains(WatchAutostart::entryPath(m_where)),
                 qPrintable(section->errorText()->text()));
        section->loginSwitch()->click(); // turning off fails too
        QVERIFY(section->loginSwitch()->isChecked() && QFile::exists(WatchAutostart::entryPath(m_where)));
        Screenshots::save(&tab, EnglishTexts::screensFolder() + QStringLiteral("settings-autoconvert-read-only"));
    }

    // Where the session looks for it: below XDG_CONFIG_HOME when that is set, else ~/.config.
    void entryLocation()
    {
        const auto entryHere = [] { return WatchAutostart::entryPath(WatchAutostart::locationsFromEnvironment()); };
        const auto restore = qScopeGuard([this] { TestEnv::isolateHome(m_root.path()); });
        qputenv("XDG_CONFIG_HOME", "/elsewhere");
        QCOMPARE(entryHere(), QStringLiteral("/elsewhere/autostart/pikora-watch.desktop"));
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(entryHere(), QDir::homePath() + QStringLiteral("/.config/autostart/pikora-watch.desktop"));
    }

    // The systemd unit as systemd reads it, with ExecStart pointing at the built pikora-cli.
    void systemdUnit()
    {
        const QString analyze = QStringLiteral("systemd-analyze");
        if (QStandardPaths::findExecutable(analyze).isEmpty())
            QSKIP("systemd-analyze is missing (package systemd, installed by scripts/deps.sh)");
        const QByteArray unit = TestEnv::readAll(QStringLiteral(PIKORA_WATCH_UNIT));
        QVERIFY(unit.split('\n').contains("ExecStart=/usr/bin/pikora-cli watch --saved -q"));
        const QString copy = m_root.filePath(QStringLiteral("pikora-watch.service"));
        TestEnv::writeAll(copy, QByteArray(unit).replace("/usr/bin/pikora-cli", PIKORA_CLI_PATH));
        QCOMPARE(complaints(analyze, {QStringLiteral("verify"), QStringLiteral("--man=no"), copy}), QString());
    }
};

QTEST_MAIN(TestAutostart)
#include "tst_autostart.moc"
