// The English translation beside the Chinese source texts: complete, faithful to every
// placeholder, in step with the sources; the rule that picks the language; and the programs
// speaking it, Qt's own texts included.
#include "app/appstate.h"
#include "app/notificationmanager.h"
#include "engine/diskspaceguard.h"
#include "engine/filesignature.h"
#include "englishtexts.h"
#include "integration/updatemanager.h"
#include "model/appsettings.h"
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
#include <QSettings>
#include <QStandardPaths>
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
    QString comment;
    bool numerus = false;
    QStringList translations; // one per numerus form, else one
    QString type;             // "unfinished", "vanished", "obsolete" or empty

    QString key() const { return context + u'\x1f' + source + u'\x1f' + comment + (numerus ? u"\x1fN"_s : QString()); }
};

// Every message of a Qt Linguist file, or an error text.
QList<Message> readTs(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return {};
    }
    QList<Message> messages;
    QXmlStreamReader xml(&file);
    QString context;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == u"context") {
            context.clear();
        } else if (xml.name() == u"name") {
            context = xml.readElementText();
        } else if (xml.name() == u"message") {
            Message message;
            message.context = context;
            message.numerus = xml.attributes().value(u"numerus"_s) == u"yes";
            while (xml.readNextStartElement()) {
                if (xml.name() == u"source") {
                    message.source = xml.readElementText();
                } else if (xml.name() == u"comment") {
                    message.comment = xml.readElementText();
                } else if (xml.name() == u"translation") {
                    message.type = xml.attributes().value(u"type"_s).toString();
                    if (message.numerus) {
                        while (xml.readNextStartElement()) {
                            if (xml.name() == u"numerusform")
                                message.translations.append(xml.readElementText());
                            else
                                xml.skipCurrentElement();
                        }
                    } else {
                        message.translations.append(xml.readElementText());
                    }
                } else {
                    xml.skipCurrentElement();
                }
            }
            messages.append(message);
        }
    }
    if (xml.hasError())
        *error = xml.errorString();
    return messages;
}

// The placeholders a text carries (%1 … %99, %n, %Ln), sorted, each as often as it occurs.
QStringList placeholders(const QString &text)
{
    static const QRegularExpression pattern(u"%(L?n|[1-9][0-9]?)"_s);
    QStringList found;
    for (const QRegularExpressionMatch &match : pattern.globalMatch(text))
        found.append(match.captured(0));
    found.sort();
    return found;
}

// A keyboard accelerator: a single ampersand, which marks the character after it ("&&" is a
// literal one). A stray "&" in a translation would underline the next character, a space too.
bool hasAccelerator(const QString &text)
{
    static const QRegularExpression pattern(u"&."_s);
    return QString(text).replace(u"&&"_s, QString()).contains(pattern);
}

// This environment with the given language variables (all others of that kind cleared) and a
// home of its own, where a stored language choice may wait.
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

// Chinese characters and punctuation, full-width forms included.
const QRegularExpression &chineseCharacters()
{
    static const QRegularExpression pattern(u"[\\p{Han}\\x{3000}-\\x{303F}\\x{FF00}-\\x{FFEF}]"_s);
    return pattern;
}

// Every text of root and its widgets, shown now or not, that a user or a screen reader meets
// and that holds Chinese: widget properties, tab and list entries, and the commands' texts.
QStringList chineseTexts(const QWidget *root)
{
    QStringList found;
    const auto check = [&](const QObject *owner, const char *what, const QString &text) {
        // A language's own name is written in that language.
        if (text.contains(chineseCharacters()) && text != u"简体中文")
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
    void initTestCase()
    {
        QVERIFY(TestEnv::isolate(m_root));
    }

    // Every source text has a finished English text that keeps its placeholders, accelerators
    // and line breaks; plural texts have both English forms.
    void everyTextTranslated()
    {
        QString error;
        const QList<Message> messages = readTs(QStringLiteral(PIKORA_TS_FILE), &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(messages.size() > 100);
        QStringList problems;
        for (const Message &message : messages) {
            const QString where = message.context + u": \""_s + message.source + u'"';
            if (!message.type.isEmpty()) {
                problems << where + u" is "_s + message.type;
                continue;
            }
            if (message.translations.size() != (message.numerus ? 2 : 1)) {
                problems << where + u" has %1 English forms"_s.arg(message.translations.size());
                continue;
            }
            for (const QString &translation : message.translations) {
                if (translation.trimmed().isEmpty())
                    problems << where + u" has an empty translation"_s;
                if (placeholders(translation) != placeholders(message.source))
                    problems << where + u" -> \""_s + translation + u"\" changes the placeholders"_s;
                if (hasAccelerator(translation) != hasAccelerator(message.source))
                    problems << where + u" -> \""_s + translation + u"\" changes the accelerator"_s;
                if (translation.count(u'\n') != message.source.count(u'\n'))
                    problems << where + u" -> \""_s + translation + u"\" changes the line breaks"_s;
                // A Chinese character left in an English text (the language names aside) was
                // not translated.
                static const QRegularExpression han(u"\\p{Han}"_s);
                if (translation.contains(han))
                    problems << where + u" -> \""_s + translation + u"\" still holds Chinese"_s;
            }
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
    }

    // The file holds exactly the texts the sources ask for: lupdate, run afresh on the sources
    // into a file of its own, finds the same texts (context, text, disambiguation, plural).
    void inStepWithTheSources()
    {
        const QString lupdate = QStringLiteral(PIKORA_LUPDATE);
        if (!QFile::exists(lupdate))
            QSKIP("lupdate is not installed");
        const QString fresh = m_root.filePath(u"fresh_en.ts"_s);
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(lupdate, {u"-silent"_s, u"-locations"_s, u"none"_s, u"-no-obsolete"_s,
                                QStringLiteral(PIKORA_SOURCES_DIR), u"-ts"_s, fresh});
        QVERIFY2(process.waitForFinished(120000), "lupdate did not finish");
        QVERIFY2(process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0,
                 process.readAll().constData());

        QString error;
        QSet<QString> wanted;
        for (const Message &message : readTs(fresh, &error))
            wanted.insert(message.key());
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QSet<QString> kept;
        for (const Message &message : readTs(QStringLiteral(PIKORA_TS_FILE), &error))
            kept.insert(message.key());
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QVERIFY(!wanted.isEmpty());
        const auto describe = [](QSet<QString> keys) {
            QStringList list(keys.begin(), keys.end());
            list.sort();
            return list.join(u'\n').replace(u'\x1f', u" | "_s);
        };
        QVERIFY2((wanted - kept).isEmpty(),
                 qPrintable(u"Texts missing from the translation (run the lupdate target):\n"_s + describe(wanted - kept)));
        QVERIFY2((kept - wanted).isEmpty(),
                 qPrintable(u"Texts no source uses any more (run the lupdate target):\n"_s + describe(kept - wanted)));
    }

    void languageRule_data()
    {
        QTest::addColumn<int>("choice");
        QTest::addColumn<QStringList>("uiLanguages");
        QTest::addColumn<bool>("english");

        const int system = int(UiLanguage::Choice::followSystem);
        QTest::newRow("C locale") << system << QStringList{u"C"_s} << false;
        QTest::newRow("mainland Chinese") << system << QStringList{u"zh-CN"_s, u"zh-Hans-CN"_s, u"zh"_s} << false;
        QTest::newRow("Taiwan Chinese") << system << QStringList{u"zh-TW"_s, u"zh-Hant-TW"_s} << false;
        QTest::newRow("US English") << system << QStringList{u"en-US"_s, u"en-Latn-US"_s, u"en"_s} << true;
        QTest::newRow("German") << system << QStringList{u"de-DE"_s, u"de-Latn-DE"_s, u"de"_s} << true;
        QTest::newRow("German, then Chinese") << system << QStringList{u"de"_s, u"de-DE"_s, u"zh-CN"_s} << false;
        QTest::newRow("German, then English") << system << QStringList{u"de"_s, u"en-US"_s, u"zh-CN"_s} << true;
        QTest::newRow("English before Chinese") << system << QStringList{u"en"_s, u"zh-CN"_s} << true;
        QTest::newRow("nothing listed") << system << QStringList() << true;
        QTest::newRow("a name merely starting with zh or en") << system << QStringList{u"zha"_s, u"eng"_s} << true;
        QTest::newRow("chosen Chinese on an English desktop") << int(UiLanguage::Choice::chinese)
                                                              << QStringList{u"en-US"_s} << false;
        QTest::newRow("chosen English on a Chinese desktop") << int(UiLanguage::Choice::english)
                                                             << QStringList{u"zh-CN"_s} << true;
    }

    void languageRule()
    {
        QFETCH(int, choice);
        QFETCH(QStringList, uiLanguages);
        QFETCH(bool, english);
        QCOMPARE(UiLanguage::isEnglish(static_cast<UiLanguage::Choice>(choice), uiLanguages), english);
    }

    void formattingLocale()
    {
        const QLocale british(QLocale::English, QLocale::UnitedKingdom);
        const QLocale german(QLocale::German, QLocale::Germany);
        const QLocale taiwan(QLocale::Chinese, QLocale::TraditionalChineseScript, QLocale::Taiwan);
        QCOMPARE(UiLanguage::formattingLocale(true, british), british);
        QCOMPARE(UiLanguage::formattingLocale(true, german), QLocale(QLocale::English, QLocale::UnitedStates));
        QCOMPARE(UiLanguage::formattingLocale(true, QLocale::c()), QLocale(QLocale::English, QLocale::UnitedStates));
        QCOMPARE(UiLanguage::formattingLocale(false, taiwan), taiwan);
        QCOMPARE(UiLanguage::formattingLocale(false, QLocale::c()), QLocale::c());
        QCOMPARE(UiLanguage::formattingLocale(false, german), QLocale(QLocale::Chinese, QLocale::China));
    }

    // The choice lives under a key of its own; the settings record never sees it.
    void storedChoice()
    {
        Preferences preferences;
        preferences.remove(UiLanguage::preferenceKey);
        QCOMPARE(UiLanguage::storedChoice(preferences), UiLanguage::Choice::followSystem);
        for (UiLanguage::Choice choice :
             {UiLanguage::Choice::english, UiLanguage::Choice::chinese, UiLanguage::Choice::followSystem}) {
            UiLanguage::storeChoice(preferences, choice);
            QCOMPARE(UiLanguage::storedChoice(Preferences()), choice);
            QCOMPARE(UiLanguage::choiceFromStoredName(UiLanguage::storedName(choice)), choice);
        }
        preferences.setData(UiLanguage::preferenceKey, "klingon");
        QCOMPARE(UiLanguage::storedChoice(preferences), UiLanguage::Choice::followSystem);
        QVERIFY(!encodeSettings(AppSettings()).contains("uiLanguage"));
        preferences.remove(UiLanguage::preferenceKey);
    }

    // The compiled translation in the core's resources: plurals, the article, whole sentences, the
    // locale's numbers; and the Chinese texts once it is gone.
    void coreTextsInEnglish()
    {
        const auto chinese = [] {
            QCOMPARE(formattedBytes(1), u"1 字节"_s);
            QCOMPARE(completionNotificationBody(ConversionMode::jpegToJXL, 12, 3'400'000, 1),
                     u"已完成 12 张照片无损压缩，累计节省 3.4 MB（1 个项目失败）"_s);
        };
        // A Chinese locale, as a Chinese desktop or the choice of Chinese brings, changes nothing.
        QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
        chinese();
        QLocale::setDefault(QLocale::c());
        {
            EnglishTexts english;
            QVERIFY(english.isActive());
            QCOMPARE(formattedBytes(1), u"1 byte"_s);
            QCOMPARE(formattedBytes(512), u"512 bytes"_s);
            QCOMPARE(*FileSignature::notJpegReason(FileSignature::Format::avif),
                     u"This file is not a JPEG image but an AVIF image (its extension does not match its content)"_s);
            QCOMPARE(*FileSignature::notJpegReason(FileSignature::Format::heif),
                     u"This file is not a JPEG image but a HEIF image (its extension does not match its content)"_s);
            QCOMPARE(completionNotificationBody(ConversionMode::jpegToJXL, 1, 0, 0), u"Compressed 1 photo losslessly"_s);
            QCOMPARE(completionNotificationBody(ConversionMode::jpegToJXL, 12, 3'400'000, 1),
                     u"Compressed 12 photos losslessly, saving 3.4 MB in total (1 item failed)"_s);
            const DiskSpaceGuard::CapacityCheck check{false, 1'500'000'000, 2'000'000'000, QString()};
            QCOMPARE(DiskSpaceGuard::warningMessage(check),
                     u"Not enough disk space: only 1.5 GB is free on this volume, and this batch needs about 2 GB. "
                     "Free up space first so that no file is written incompletely."_s);
            // Sizes take the decimal mark of the locale the language brought.
            QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
            QCOMPARE(formattedBytes(-3'400'000), u"-3,4 MB"_s);
        }
        chinese();
    }

    // Under English no text of the window or the settings is left in Chinese, the accessible
    // names and descriptions a screen reader speaks included.
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

    // pikora-cli picks the language from the desktop's variables and the stored choice; the
    // core's texts follow, JSON keys never do.
    void cliFollowsTheDesktop_data()
    {
        QTest::addColumn<QStringList>("variables");
        QTest::addColumn<QString>("stored"); // empty: none
        QTest::addColumn<bool>("english");
        QTest::newRow("C.UTF-8") << QStringList{u"LC_ALL=C.UTF-8"_s} << QString() << false;
        QTest::newRow("LANG German") << QStringList{u"LANG=de_DE.UTF-8"_s} << QString() << true;
        QTest::newRow("LC_MESSAGES over LANG") << QStringList{u"LANG=zh_CN.UTF-8"_s, u"LC_MESSAGES=en_US.UTF-8"_s}
                                               << QString() << true;
        QTest::newRow("LC_ALL over LANG") << QStringList{u"LANG=en_US.UTF-8"_s, u"LC_ALL=zh_TW.UTF-8"_s} << QString()
                                          << false;
        QTest::newRow("LANGUAGE list") << QStringList{u"LANG=de_DE.UTF-8"_s, u"LANGUAGE=de:zh_CN"_s} << QString()
                                       << false;
        QTest::newRow("stored English over C") << QStringList{u"LC_ALL=C.UTF-8"_s} << u"en"_s << true;
        QTest::newRow("stored Chinese over English")
            << QStringList{u"LANG=en_US.UTF-8"_s} << u"zh_CN"_s << false;
    }

    void cliFollowsTheDesktop()
    {
        QFETCH(QStringList, variables);
        QFETCH(QString, stored);
        QFETCH(bool, english);

        QTemporaryDir home;
        QVERIFY(home.isValid());
        if (!stored.isEmpty()) {
            // Where the child's preferences live, written as they store a choice.
            QSettings file(home.path() + u"/.config/pikora/pikora.ini"_s, QSettings::IniFormat);
            file.setValue(UiLanguage::preferenceKey, stored.toUtf8());
            file.sync();
            QCOMPARE(file.status(), QSettings::NoError);
        }
        const QString missing = m_root.filePath(u"no such folder"_s);
        const QProcessEnvironment environment = languageEnvironment(variables, home.path());
        const CliRun run = CliRun::run({u"scan"_s, missing}, {}, environment);
        QCOMPARE(run.exitCode, 1);
        const QString expected = (english ? u"pikora-cli: File not found: "_s : u"pikora-cli: 找不到指定文件: "_s) + missing;
        QVERIFY2(QString::fromUtf8(run.err).startsWith(expected), run.err.constData());

        // Qt's own texts (here the option parser's) speak the same language.
        const CliRun unknown = CliRun::run({u"scan"_s, u"--bogus"_s}, {}, environment);
        QCOMPARE(unknown.exitCode, 2);
        QVERIFY2(QString::fromUtf8(unknown.err)
                     .startsWith(english ? u"pikora-cli: Unknown option 'bogus'."_s : u"pikora-cli: 未知选项“bogus”。"_s),
                 unknown.err.constData());

        const CliRun json = CliRun::run({u"scan"_s, u"--json"_s, TestEnv::dataPath(u"jpeg/cameras"_s)}, {}, environment);
        QCOMPARE(json.exitCode, 0);
        const QJsonObject object = QJsonDocument::fromJson(json.out).object();
        QCOMPARE(object.keys(), (QStringList{u"estimatedSavedBytes"_s, u"jpegBytes"_s, u"jpegFiles"_s, u"jxlBytes"_s,
                                             u"jxlFiles"_s}));
    }

    // The window's and the thumbnailer's help, which the manual pages are made of, follow the
    // same rule. help2man runs them under the C locale alone, with a stored choice of English.
    void helpFollowsTheDesktop_data()
    {
        QTest::addColumn<QStringList>("variables");
        QTest::addColumn<bool>("storedEnglish");
        QTest::addColumn<bool>("english");
        QTest::newRow("C.UTF-8") << QStringList{u"LC_ALL=C.UTF-8"_s} << false << false;
        QTest::newRow("LANG Chinese") << QStringList{u"LANG=zh_CN.UTF-8"_s} << false << false;
        QTest::newRow("LANG German") << QStringList{u"LANG=de_DE.UTF-8"_s} << false << true;
        QTest::newRow("LANGUAGE over the C locale") << QStringList{u"LANGUAGE=en"_s, u"LC_ALL=C.UTF-8"_s} << false
                                                    << true;
        QTest::newRow("as the manual pages are made") << QStringList{u"LC_ALL=C.UTF-8"_s} << true << true;
    }

    void helpFollowsTheDesktop()
    {
        QFETCH(QStringList, variables);
        QFETCH(bool, storedEnglish);
        QFETCH(bool, english);
        QTemporaryDir home;
        QVERIFY(home.isValid());
        if (storedEnglish) {
            // As dist/linux writes it for help2man.
            TestEnv::writeAll(home.path() + u"/.config/pikora/pikora.ini"_s,
                              "[General]\ncom.lumevo.uiLanguage=@ByteArray(en)\n");
        }

        QStringList programs{QStringLiteral(PIKORA_THUMBNAILER_PATH)};
#ifdef PIKORA_APP_PATH
        programs.append(QStringLiteral(PIKORA_APP_PATH));
#endif
        for (const QString &program : programs) {
            const QString name = QFileInfo(program).fileName();
            // No display: the window's help must not need one.
            const CliRun run = CliRun::runProgram(
                program, {u"--help"_s}, {},
                languageEnvironment(variables + QStringList{u"QT_QPA_PLATFORM=xcb"_s, u"DISPLAY="_s}, home.path()));
            QCOMPARE(run.exitCode, 0);
            const QString usage = (english ? u"Usage: "_s : u"用法："_s) + name + u' ';
            const QString out = QString::fromUtf8(run.out);
            QVERIFY2(out.startsWith(usage), qPrintable(name + u": "_s + out));
            static const QRegularExpression han(u"\\p{Han}"_s);
            QCOMPARE(out.contains(han), !english);
            // Qt's parser writes the thumbnailer's option list: its headings follow too.
            QVERIFY2(out.contains(english ? u"Options:"_s : u"选项："_s) && out.contains(u"Options:"_s) == english,
                     qPrintable(name + u": "_s + out));
        }
        const CliRun refused = CliRun::runProgram(QStringLiteral(PIKORA_THUMBNAILER_PATH), {u"-s"_s, u"0"_s, u"a"_s, u"b"_s},
                                                  {}, languageEnvironment(variables, home.path()));
        QCOMPARE(refused.exitCode, 2);
        QVERIFY2(QString::fromUtf8(refused.err)
                     .startsWith(english ? u"pikora-thumbnailer: -s SIZE must be a number from 1 to 4096\n"_s
                                         : u"pikora-thumbnailer: -s SIZE 必须是 1 到 4096 之间的数字\n"_s),
                 refused.err.constData());
    }
};

QTEST_MAIN(TestTranslations)
#include "tst_translations.moc"
