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

using namespace Qt::StringLiterals;

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
    bool quoted = false, started = false; // started: an argument, maybe empty ("")
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
    return quoted ? std::nullopt : std::optional(started ? arguments << current : arguments);
}

// What a checker (desktop-file-validate, systemd-analyze) says when it fails or says anything.
QString complaints(const QString &program, const QStringList &arguments)
{
    QProcess checker;
    checker.start(QStandardPaths::findExecutable(program), arguments);
    const bool ran = checker.waitForFinished(60'000);
    const QString said = QString::fromUtf8(checker.readAllStandardOutput() + checker.readAllStandardError());
    return ran && checker.exitCode() == 0 ? said : u"%1 failed (%2): %3"_s.arg(program).arg(checker.exitCode()).arg(said);
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
    const auto undo = [folder] { QProcess::execute(u"umount"_s, {u"-l"_s, folder}); };
    if (QProcess::execute(u"mount"_s, {u"--bind"_s, folder, folder}) != 0)
        return std::nullopt;
    if (QProcess::execute(u"mount"_s, {u"-o"_s, u"remount,bind,ro"_s, folder}) != 0)
        return undo(), std::nullopt;
    return undo;
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
    QString m_entry; // its path
    std::optional<EnglishTexts> m_english;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<AutoConvertAutostart> m_autostart;

    std::optional<QStringList> written() const { return execArguments(TestEnv::readAll(m_entry)); }
    QStringList expected(const char *originals, const QStringList &folders) const
    {
        return QStringList{m_where.program, u"watch"_s, u"--saved"_s, u"-q"_s, u"-o"_s, QString::fromLatin1(originals)} + folders;
    }
    void setFolders(const QStringList &folders, DeleteStrategy originals = DeleteStrategy::keepOriginal)
    {
        AppSettings s = m_settings->settings();
        s.autoConvertFolders = folders, s.autoConvertOriginals = originals;
        m_settings->setSettings(s);
    }
    void restart() { m_autostart.reset(), m_settings = std::make_unique<SettingsStore>(m_settings->hardware()); }
    // The integration tab, shown, and the section in it.
    AutoConvertSection *showTab(IntegrationSettingsTab &tab)
    {
        tab.resize(560, 640);
        tab.show();
        return QTest::qWaitForWindowExposed(&tab) ? tab.findChild<AutoConvertSection *>() : nullptr;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(TestEnv::isolate(m_root));
        // Apart from the settings' own config folder, which a test makes read-only.
        m_where = {m_root.filePath(u"session config"_s), m_root.filePath(u"bin dir/pikora-cli"_s)};
        m_entry = WatchAutostart::entryPath(m_where);
    }

    void init()
    {
        if (EnglishTexts::forThisRow())
            QVERIFY(m_english.emplace().isActive());
        TestEnv::forgetPreferences();
        QFile::remove(m_entry);
        m_settings = std::make_unique<SettingsStore>(HardwareInfo::fromFacts(u"Test CPU"_s, 4, std::nullopt, std::nullopt));
        m_autostart = std::make_unique<AutoConvertAutostart>(m_settings.get(), m_where);
    }

    void cleanup() { m_autostart.reset(), m_settings.reset(), m_english.reset(); }

    // Folder names a shell or a launcher would take apart come back whole from the Exec line, in
    // an entry desktop-file-validate accepts, written in one step; the entry goes without a trace.
    void entryWrittenAndRemoved()
    {
        QStringList folders;
        for (const QString &name : {u"My \"best\" 'shots'  2024"_s, u"$HOME `id` ${x}"_s, u"100% %f %%U"_s, u"a\\b\\\\c\\"_s,
                                    u"照片;<a>|&*?#(1)~\tend"_s})
            folders << m_root.filePath(name);
        QString error;
        QVERIFY2(WatchAutostart::enable(m_where, u"trash"_s, folders, &error), qPrintable(error));
        QCOMPARE(written(), expected("trash", folders));
        QCOMPARE(complaints(u"desktop-file-validate"_s, {u"--no-hints"_s, m_entry}), QString());
        const QByteArray entry = TestEnv::readAll(m_entry);
        QVERIFY(entry.contains("\nNoDisplay=true\n") && entry.contains("\nX-GNOME-Autostart-enabled=true\n"));
        const QString folder = m_where.configHome + u"/autostart"_s;
        QCOMPARE(TestEnv::entries(folder), QStringList{u"pikora-watch.desktop"_s});
        QVERIFY(WatchAutostart::disable(m_where, &error) && TestEnv::entries(folder).isEmpty());
        QVERIFY(WatchAutostart::disable(m_where, &error)); // nothing to remove is no error
    }

    // The fields survive a restart beside the record; settings from before them load with
    // defaults. The session looks for the entry below XDG_CONFIG_HOME when that is set, else ~/.config.
    void settingsKeptAndEntryFound()
    {
        setFolders({u"/photos/a b"_s, u"/photos/\"c\""_s}, DeleteStrategy::moveToTrash);
        AppSettings saved = m_settings->settings();
        restart();
        QVERIFY(m_settings->settings() == saved);
        Preferences().remove(SettingsStore::autoConvertKey); // as stored before the fields existed
        restart();
        saved.autoConvertFolders.clear(), saved.autoConvertOriginals = DeleteStrategy::keepOriginal;
        QVERIFY(m_settings->settings() == saved);
        QVERIFY(!decodeAutoConvert(R"({"folders":"/photos","originals":"keep"})", saved));
        QVERIFY(!decodeAutoConvert(R"({"folders":["/photos"],"originals":"bin"})", saved) && saved.autoConvertFolders.isEmpty());

        const auto entryHere = [] { return WatchAutostart::entryPath(WatchAutostart::locationsFromEnvironment()); };
        const auto restore = qScopeGuard([this] { TestEnv::isolateHome(m_root.path()); });
        qputenv("XDG_CONFIG_HOME", "/elsewhere");
        QCOMPARE(entryHere(), u"/elsewhere/autostart/pikora-watch.desktop"_s);
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(entryHere(), QDir::homePath() + u"/.config/autostart/pikora-watch.desktop"_s);
    }

    // The section as a user drives it: the switch off without folders, a folder from the dialog,
    // on; another folder and the originals choice rewrite the entry; deleted by hand, it shows as
    // off when the tab shows again and stays off; on again, removing every folder turns it off.
    void tabSwitch_data()
    {
        QTest::addColumn<bool>("english"); // init() reads the tag
        QTest::newRow("Chinese") << false;
        QTest::newRow("English") << true;
    }

    void tabSwitch()
    {
        FileManagerActions actions;
        IntegrationSettingsTab tab(&actions, m_settings.get(), m_autostart.get());
        AutoConvertSection *section = showTab(tab);
        QVERIFY(section);
        QCheckBox *toggle = section->loginSwitch();
        QVERIFY(!toggle->isEnabled() && !m_autostart->setEnabled(true)); // nothing to watch
        const QStringList folders{m_root.filePath(u"Pictures/Camera"_s), m_root.filePath(u"Pictures/手机 2024"_s)};
        QDir().mkpath(folders[0]);
        section->addButton()->click();
        auto *dialog = section->findChild<QFileDialog *>();
        QVERIFY(dialog && dialog->isVisible());
        auto *name = dialog->findChild<QLineEdit *>(u"fileNameEdit"_s);
        name->setText(folders[0]); // pasted: typed, the completer would chime in after each key
        QTest::keyClick(name, Qt::Key_Return);
        QVERIFY(!QFile::exists(m_entry)); // a folder alone turns nothing on
        QTest::mouseClick(toggle, Qt::LeftButton, {}, QPoint(6, toggle->height() / 2));
        QCOMPARE(written(), expected("keep", folders.mid(0, 1)));
        section->addFolder(folders[1]);
        section->addFolder(folders[1] + u'/'); // the same folder
        QTest::keyClick(section->originals(), Qt::Key_Down);
        QCOMPARE(written(), expected("trash", folders));
        QVERIFY(toggle->isChecked() && section->errorText()->isHidden());
        section->folders()->item(1)->setSelected(true);
        Screenshots::save(&tab, EnglishTexts::screensFolder() + u"settings-autoconvert"_s);

        QFile::remove(m_entry);
        tab.hide();
        tab.show();
        QVERIFY(!toggle->isChecked());
        QTest::keyClick(section->originals(), Qt::Key_Down);
        QVERIFY(!QFile::exists(m_entry));
        toggle->click();
        QCOMPARE(written(), expected("delete", folders));
        section->folders()->selectAll();
        section->removeButton()->click();
        QVERIFY(section->folders()->count() == 0 && m_settings->settings().autoConvertFolders.isEmpty());
        QVERIFY(!toggle->isChecked() && !QFile::exists(m_entry));
    }

    // A config folder that cannot be written: the reason is shown, the switch says what the disk has, and the entry already there stays as it was.
    void readOnlyConfig_data() { tabSwitch_data(); }

    void readOnlyConfig()
    {
        setFolders({u"/photos/one"_s});
        QVERIFY(m_autostart->setEnabled(true));
        const QByteArray before = TestEnv::readAll(m_entry);
        FileManagerActions actions;
        IntegrationSettingsTab tab(&actions, m_settings.get(), m_autostart.get());
        AutoConvertSection *section = showTab(tab);
        QVERIFY(section);
        const auto undo = makeReadOnly(m_where.configHome + u"/autostart"_s);
        if (!undo)
            QSKIP("the folder cannot be made read-only here");
        const auto restore = qScopeGuard(*undo);
        setFolders({u"/photos/one"_s, u"/photos/two"_s}); // the rewrite fails
        QCOMPARE(TestEnv::readAll(m_entry), before);
        QVERIFY(section->loginSwitch()->isChecked() && m_autostart->isEnabled());
        QVERIFY2(section->errorText()->isVisible() && section->errorText()->text().contains(m_entry), qPrintable(section->errorText()->text()));
        section->loginSwitch()->click(); // turning off fails too
        QVERIFY(section->loginSwitch()->isChecked() && QFile::exists(m_entry));
        Screenshots::save(&tab, EnglishTexts::screensFolder() + u"settings-autoconvert-read-only"_s);
    }

    // The systemd unit as systemd reads it, with ExecStart pointing at the built pikora-cli.
    void systemdUnit()
    {
        if (QStandardPaths::findExecutable(u"systemd-analyze"_s).isEmpty())
            QSKIP("systemd-analyze is missing (package systemd, installed by scripts/deps.sh)");
        const QByteArray unit = TestEnv::readAll(QStringLiteral(PIKORA_WATCH_UNIT));
        QVERIFY(unit.split('\n').contains("ExecStart=/usr/bin/pikora-cli watch --saved -q"));
        const QString copy = m_root.filePath(u"pikora-watch.service"_s);
        TestEnv::writeAll(copy, QByteArray(unit).replace("/usr/bin/pikora-cli", PIKORA_CLI_PATH));
        QCOMPARE(complaints(u"systemd-analyze"_s, {u"verify"_s, u"--man=no"_s, copy}), QString());
    }
};

QTEST_MAIN(TestAutostart)
#include "tst_autostart.moc"
