// The English translation: complete, faithful, in step with the sources; the language rule; the programs speaking it.
#include "app/appstate.h"
#include "app/notificationmanager.h"
#include "englishtexts.h"
#include "integration/updatemanager.h"
#include "model/formattedbytes.h"
#include "model/taskitem.h"
#include "platform/preferences.h"
#include "platform/uilanguage.h"
#include "clirun.h"
#include "testenv.h"
#include "ui/mainwindow.h"
#include "ui/windowstate.h"
#include "ui/settingswindow.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QProcess>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

using namespace Qt::StringLiterals;

namespace {

struct Message
{
    QString context;
    QString source;
    bool numerus = false;
    QStringList translations; // one per numerus form, else one
    QString type;             // "unfinished", "vanished", "obsolete" or empty
};

// Every message of a Qt Linguist file; none when it cannot be read.
QList<Message> readTs(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<Message> messages;
    QXmlStreamReader xml(&file);
    QString context;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == u"name") {
            context = xml.readElementText();
        } else if (xml.name() == u"message") {
            Message message{context, {}, xml.attributes().value(u"numerus"_s) == u"yes", {}, {}};
            while (xml.readNextStartElement()) {
                if (xml.name() == u"source") {
                    message.source = xml.readElementText();
                } else if (xml.name() == u"translation") {
                    message.type = xml.attributes().value(u"type"_s).toString();
                    if (!message.numerus)
                        message.translations.append(xml.readElementText());
                    while (message.numerus && xml.readNextStartElement()) // numerusform only
                        message.translations.append(xml.readElementText());
                } else {
                    xml.skipCurrentElement();
                }
            }
            messages.append(message);
        }
    }
    if (xml.hasError())
        qWarning("%s: %s", qPrintable(path), qPrintable(xml.errorString()));
    return xml.hasError() ? QList<Message>() : messages;
}

// What a translation must keep: each placeholder as often, an accelerator ("&&" is none), the line breaks.
QString shape(const QString &text)
{
    static const QRegularExpression placeholder(u"%(L?n|[1-9][0-9]?)"_s), accelerator(u"&."_s);
    QStringList found;
    for (const QRegularExpressionMatch &match : placeholder.globalMatch(text))
        found.append(match.captured(0));
    found.sort();
    const bool hasAccelerator = QString(text).replace(u"&&"_s, QString()).contains(accelerator);
    return found.join(u' ') + (hasAccelerator ? u" &"_s : QString()) + QString(text.count(u'\n'), u'\n');
}

// This environment with only the given language variables, and a home where a stored choice may wait.
QProcessEnvironment languageEnvironment(const QStringList &languageVariables, const QString &home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"})
        environment.remove(QString::fromLatin1(name));
    for (const QString &assignment : languageVariables)
        environment.insert(assignment.section(u'=', 0, 0), assignment.section(u'=', 1));
    environment.insert(u"HOME"_s, home);
    environment.insert(u"XDG_CONFIG_HOME"_s, home + u"/.config"_s);
    return environment;
}

// Every text of root's widgets, shown or not, that a user or screen reader meets and that holds Chinese.
QStringList chineseTexts(const QWidget *root)
{
    static const QRegularExpression chinese(u"[\\p{Han}\\x{3000}-\\x{303F}\\x{FF00}-\\x{FFEF}]"_s);
    QStringList found;
    const auto check = [&](const QObject *owner, const char *what, const QString &text) {
        // A language's own name is written in that language.
        if (text.contains(chinese) && text != u"简体中文")
            found << u"%1 %2 %3: %4"_s.arg(QString::fromLatin1(owner->metaObject()->className()), owner->objectName(),
                                          QString::fromLatin1(what), text);
    };
    QList<const QWidget *> widgets{root};
    for (const QWidget *child : root->findChildren<QWidget *>())
        widgets.append(child);
    for (const QWidget *widget : widgets) {
        for (const char *property : {"text", "title", "placeholderText", "windowTitle", "toolTip", "statusTip",
                                     "whatsThis", "accessibleName", "accessibleDescription"}) {
            const QVariant value = widget->property(property);
            if (value.typeId() == QMetaType::QString)
                check(widget, property, value.toString());
        }
        if (const auto *tabs = qobject_cast<const QTabWidget *>(widget)) {
            for (int i = 0; i < tabs->count(); ++i) {
                check(tabs, "tabText", tabs->tabText(i));
                check(tabs, "tabToolTip", tabs->tabToolTip(i));
            }
        }
        if (const auto *box = qobject_cast<const QComboBox *>(widget)) {
            for (int i = 0; i < box->count(); ++i)
                check(box, "itemText", box->itemText(i));
        }
        for (const QAction *action : widget->actions()) {
            check(action, "text", action->text());
            check(action, "iconText", action->iconText());
            check(action, "toolTip", action->toolTip());
        }
    }
    return found;
}

} // namespace

class TestTranslations final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;

private slots:
    void initTestCase() { QVERIFY(TestEnv::isolate(m_root)); }

    // Every source text has a finished English text of the same shape; plurals have both forms.
    void everyTextTranslated()
    {
        const QList<Message> messages = readTs(QStringLiteral(PIKORA_TS_FILE));
        QVERIFY(messages.size() > 100);
        QStringList problems;
        static const QRegularExpression han(u"\\p{Han}"_s);
        for (const Message &message : messages) {
            const QString where = message.context + u": \""_s + message.source + u"\" "_s;
            if (!message.type.isEmpty() || message.translations.size() != (message.numerus ? 2 : 1))
                problems << where + u"is "_s + message.type + u" with %1 English forms"_s.arg(message.translations.size());
            for (const QString &translation : message.translations) {
                if (translation.trimmed().isEmpty() || shape(translation) != shape(message.source) || translation.contains(han))
                    problems << where + u"-> \""_s + translation + u"\" is empty, holds Chinese or changes a placeholder, "
                                                                     "the accelerator or the line breaks"_s;
            }
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
    }

    // The file holds exactly the texts the sources ask for: lupdate, run as its target runs it, changes nothing in a copy.
    void inStepWithTheSources()
    {
        if (!QFile::exists(QStringLiteral(PIKORA_LUPDATE)))
            QSKIP("lupdate is not installed");
        const QString copy = m_root.filePath(u"pikora_en.ts"_s);
        QVERIFY(QFile::copy(QStringLiteral(PIKORA_TS_FILE), copy));
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral(PIKORA_LUPDATE), {u"-silent"_s, u"-locations"_s, u"none"_s, u"-no-obsolete"_s,
                                                       QStringLiteral(PIKORA_SOURCES_DIR), u"-ts"_s, copy});
        QVERIFY2(process.waitForFinished(120000) && process.exitCode() == 0, process.readAll().constData());
        QVERIFY2(TestEnv::readAll(copy) == TestEnv::readAll(QStringLiteral(PIKORA_TS_FILE)),
                 "the translation is not in step with the sources: run the lupdate target");
    }

    // Following the system, the first Chinese or English language decides (C: Chinese, neither: English);
    // a stored choice, kept out of the settings record, overrides it. Numbers follow the system's
    // locale where it speaks the language shown, else that language's usual one.
    void languageRules()
    {
        using enum UiLanguage::Choice;
        QVERIFY(!UiLanguage::isEnglish(followSystem, {u"C"_s}));
        QVERIFY(!UiLanguage::isEnglish(followSystem, {u"de"_s, u"zh-CN"_s, u"en-US"_s}));
        QVERIFY(UiLanguage::isEnglish(followSystem, {u"en"_s, u"zh-CN"_s}));
        QVERIFY(UiLanguage::isEnglish(followSystem, {u"zha"_s, u"eng"_s})); // names merely starting with zh or en
        QVERIFY(!UiLanguage::isEnglish(chinese, {u"en-US"_s}));
        QVERIFY(UiLanguage::isEnglish(english, {u"zh-CN"_s}));

        Preferences preferences; // a choice made in the settings: ui_settings
        preferences.setData(UiLanguage::preferenceKey, "klingon");
        QCOMPARE(UiLanguage::storedChoice(preferences), followSystem);
        preferences.remove(UiLanguage::preferenceKey);

        const QLocale british(QLocale::English, QLocale::UnitedKingdom), german(QLocale::German, QLocale::Germany);
        QCOMPARE(UiLanguage::formattingLocale(true, british), british);
        QCOMPARE(UiLanguage::formattingLocale(true, german), QLocale(QLocale::English, QLocale::UnitedStates));
        QCOMPARE(UiLanguage::formattingLocale(false, QLocale::c()), QLocale::c());
        QCOMPARE(UiLanguage::formattingLocale(false, german), QLocale(QLocale::Chinese, QLocale::China));
    }

    // The core's compiled translation: plurals, whole sentences, the decimal mark of the locale.
    void coreTextsInEnglish()
    {
        EnglishTexts english;
        QVERIFY(english.isActive());
        QCOMPARE(formattedBytes(1), u"1 byte"_s);
        QCOMPARE(completionNotificationBody(ConversionMode::jpegToJXL, 12, 3'400'000, 1),
                 u"Compressed 12 photos losslessly, saving 3.4 MB in total (1 item failed)"_s);
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(formattedBytes(-3'400'000), u"-3,4 MB"_s);
        QLocale::setDefault(QLocale::c());
    }

    // Under English no text of the window or the settings is left in Chinese, accessible names included.
    void windowHasNoChineseUnderEnglish()
    {
        EnglishTexts english;
        QVERIFY(english.isActive());
        AppState state(BatchFeedback::Devices{});
        UpdateManager updates;
        MainWindow window(&state, &updates, nullptr, nullptr);
        window.showSettings();
        window.windowState()->setShowUpdateSheet(true); // made on first use, like the settings
        const QStringList found = chineseTexts(&window);
        QVERIFY2(found.isEmpty(), qPrintable(found.join(u'\n')));
        // The walk sees what it must: the settings' pages, the menus' commands.
        QVERIFY(!window.findChildren<SettingsWindow *>().isEmpty() && window.findChildren<QMenu *>().size() >= 5);
    }

    // pikora-cli, the thumbnailer and the window speak as the desktop's variables and the stored choice
    // say: their own texts, Qt's, and --help (help2man runs it under C with English stored). JSON never.
    void programsFollowTheDesktop_data()
    {
        QTest::addColumn<QStringList>("variables");
        QTest::addColumn<QString>("stored"); // empty: none
        QTest::addColumn<bool>("english");
        QTest::newRow("LANG German") << QStringList{u"LANG=de_DE.UTF-8"_s} << QString() << true;
        QTest::newRow("LC_MESSAGES over LANG") << QStringList{u"LANG=zh_CN.UTF-8"_s, u"LC_MESSAGES=en_US.UTF-8"_s} << QString() << true;
        QTest::newRow("LC_ALL over LANG") << QStringList{u"LANG=en_US.UTF-8"_s, u"LC_ALL=zh_TW.UTF-8"_s} << QString() << false;
        QTest::newRow("LANGUAGE list") << QStringList{u"LANG=de_DE.UTF-8"_s, u"LANGUAGE=de:zh_CN"_s} << QString() << false;
        QTest::newRow("as the manual pages are made") << QStringList{u"LC_ALL=C.UTF-8"_s} << u"en"_s << true;
        QTest::newRow("stored Chinese over English") << QStringList{u"LANG=en_US.UTF-8"_s} << u"zh_CN"_s << false;
    }

    void programsFollowTheDesktop()
    {
        QFETCH(QStringList, variables);
        QFETCH(QString, stored);
        QFETCH(bool, english);
        QTemporaryDir home;
        QVERIFY(home.isValid());
        if (!stored.isEmpty()) {
            // Where the programs' preferences live, written as dist/linux writes it for help2man.
            TestEnv::writeAll(home.path() + u"/.config/pikora/pikora.ini"_s,
                              "[General]\ncom.lumevo.uiLanguage=@ByteArray(" + stored.toUtf8() + ")\n");
        }
        const QProcessEnvironment environment = languageEnvironment(variables, home.path());
        const QString missing = m_root.filePath(u"no such folder"_s);
        const CliRun run = CliRun::run({u"scan"_s, missing}, {}, environment);
        QCOMPARE(run.exitCode, 1);
        const QString expected = (english ? u"pikora-cli: File not found: "_s : u"pikora-cli: 找不到指定文件: "_s) + missing;
        QVERIFY2(QString::fromUtf8(run.err).startsWith(expected), run.err.constData());
        const CliRun unknown = CliRun::run({u"scan"_s, u"--bogus"_s}, {}, environment);
        QCOMPARE(unknown.exitCode, 2);
        QVERIFY2(QString::fromUtf8(unknown.err)
                     .startsWith(english ? u"pikora-cli: Unknown option 'bogus'."_s : u"pikora-cli: 未知选项“bogus”。"_s),
                 unknown.err.constData());
        const CliRun json = CliRun::run({u"scan"_s, u"--json"_s, TestEnv::dataPath(u"jpeg/cameras"_s)}, {}, environment);
        QCOMPARE(json.exitCode, 0);
        QVERIFY2(QJsonDocument::fromJson(json.out).object().contains(u"jpegFiles"_s), json.out.constData());

        QStringList programs{QStringLiteral(PIKORA_THUMBNAILER_PATH)};
#ifdef PIKORA_APP_PATH
        programs.append(QStringLiteral(PIKORA_APP_PATH));
#endif
        for (const QString &program : programs) {
            const QString name = QFileInfo(program).fileName();
            // No display: the window's help must not need one.
            const CliRun help = CliRun::runProgram(
                program, {u"--help"_s}, {},
                languageEnvironment(variables + QStringList{u"QT_QPA_PLATFORM=xcb"_s, u"DISPLAY="_s}, home.path()));
            QCOMPARE(help.exitCode, 0);
            const QString out = QString::fromUtf8(help.out);
            QVERIFY2(out.startsWith((english ? u"Usage: "_s : u"用法："_s) + name + u' '), qPrintable(out));
            static const QRegularExpression han(u"\\p{Han}"_s);
            QCOMPARE(out.contains(han), !english);
            // Qt's parser writes the option list: its headings follow too.
            QVERIFY2(out.contains(english ? u"Options:"_s : u"选项："_s) && out.contains(u"Options:"_s) == english, qPrintable(out));
        }
    }
};

QTEST_MAIN(TestTranslations)
#include "tst_translations.moc"
