#include "app/appstate.h"
#include "app/batchrunner.h"
#include "app/importservice.h"
#include "app/launchrequest.h"
#include "app/singleinstance.h"
#include "app/tasklist.h"
#include "app/workspace.h"
#include "testenv.h"

#include <QDBusConnectionInterface>
#include <QDir>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/types.h>

// The launch request from command lines and URLs, and the hand-over between two processes'
// worth of single-instance objects on the suite's private session bus.
using namespace Qt::StringLiterals;

namespace {

QStringList list(std::initializer_list<const char *> words)
{
    QStringList out;
    for (const char *word : words)
        out.append(QString::fromUtf8(word));
    return out;
}

} // namespace

class TestLaunch final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QString m_photos; // a.jpg, b.jxl, notes.txt, sub/c.jpg, link.jpg -> a.jpg, pipe.jpg (a FIFO)

    QString photo(const QString &name) const { return QDir(m_photos).filePath(name); }
    QUrl url(const QString &name) const { return QUrl::fromLocalFile(photo(name)); }

    // {dir} in an argument stands for the photos folder's absolute path.
    QStringList expand(const QStringList &words) const
    {
        QStringList out;
        for (QString word : words)
            out.append(word.replace(QStringLiteral("{dir}"), m_photos));
        return out;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(TestEnv::isolate(m_root));
        m_photos = m_root.filePath(QStringLiteral("photos with space"));
        TestEnv::copyData(QStringLiteral("jpeg/cameras/Canon_40D.jpg"), m_photos, QStringLiteral("a.jpg"));
        TestEnv::writeAll(photo(QStringLiteral("b.jxl")), QByteArrayLiteral("\xff\x0a"));
        TestEnv::writeAll(photo(QStringLiteral("notes.txt")), QByteArrayLiteral("x"));
        TestEnv::writeAll(photo(QStringLiteral("sub/c.jpg")), QByteArrayLiteral("x"));
        QVERIFY(QFile::link(photo(QStringLiteral("a.jpg")), photo(QStringLiteral("link.jpg"))));
        QCOMPARE(::mkfifo(QFile::encodeName(photo(QStringLiteral("pipe.jpg"))).constData(), 0600), 0);
    }

    void arguments_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("workingDirectory"); // relative to the photos folder
        QTest::addColumn<int>("direction");            // -1 none, else ConversionMode
        QTest::addColumn<QStringList>("files");        // names under the photos folder

        const int none = -1, compress = int(ConversionMode::jpegToJXL), restore = int(ConversionMode::jxlToJPEG);
        QTest::newRow("nothing") << list({}) << u"."_s << none << list({});
        QTest::newRow("last direction wins, both paths kept")
            << list({"--restore", "{dir}/b.jxl", "--compress", "{dir}/a.jpg"}) << u"."_s << compress
            << list({"b.jxl", "a.jpg"});
        QTest::newRow("direction only") << list({"--restore"}) << u"."_s << restore << list({});
        QTest::newRow("relative paths from the working folder")
            << list({"a.jpg", "sub", "../photos with space/notes.txt"}) << u"."_s << none
            << list({"a.jpg", "sub", "notes.txt"});
        QTest::newRow("relative path in a subfolder") << list({"c.jpg", "a.jpg"}) << u"sub"_s << none
                                                      << list({"sub/c.jpg"});
        QTest::newRow("missing paths and options ignored")
            << list({"-psn_0_1234", "--style=fusion", "-", "missing.jpg", "{dir}/a.jpg"}) << u"."_s << none
            << list({"a.jpg"});
        QTest::newRow("dot segments cleaned") << list({"{dir}/sub/../a.jpg"}) << u"/"_s << none
                                              << list({"a.jpg"});
        QTest::newRow("file URLs as a desktop passes them")
            << list({"file://{dir}/a.jpg", "file://{dir}/missing.jpg", "file://localhost{dir}/b.jxl"}) << u"/"_s
            << none << list({"a.jpg", "b.jxl"});
        QTest::newRow("percent-encoded file URL")
            << QStringList{QUrl::fromLocalFile(photo(u"sub"_s)).toString(QUrl::FullyEncoded)} << u"/"_s
            << none << list({"sub"});
        QTest::newRow("file URL of another host") << list({"file://elsewhere{dir}/a.jpg"}) << u"/"_s << none
                                                  << list({});
        QTest::newRow("scheme URLs") << list({"pikora://import?path={dir}/a.jpg",
                                                    "lumevo://anything?path={dir}/b.jxl"})
                                     << u"/"_s << none << list({"a.jpg", "b.jxl"});
        QTest::newRow("scheme URL: first path item, link to a photo")
            << list({"pikora://import?path={dir}/link.jpg&path={dir}/a.jpg"}) << u"/"_s << none
            << list({"link.jpg"});
        QTest::newRow("scheme URL refusals")
            << list({"pikora://import?file={dir}/a.jpg", "pikora://import?path=", "pikora://import?path=/",
                           "pikora://import?path={dir}", "pikora://import?path={dir}/notes.txt",
                           "pikora://import?path={dir}/missing.jpg", "pikora://import?path={dir}/pipe.jpg",
                           "pikora://import?path=a.jpg", "https://example.com/?path={dir}/a.jpg"})
            << u"."_s << none << list({});
    }

    void arguments()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, workingDirectory);
        QFETCH(int, direction);
        QFETCH(QStringList, files);

        // Encode the folder's blank inside URLs as a browser or file manager would.
        QStringList words;
        for (const QString &word : expand(arguments)) {
            const bool isUrl = word.contains(QStringLiteral("://"));
            words.append(isUrl ? QString(word).replace(QLatin1Char(' '), QStringLiteral("%20")) : word);
        }
        const LaunchRequest request =
            LaunchRequest::fromArguments(words, QDir(m_photos).absoluteFilePath(workingDirectory));
        QCOMPARE(request.direction ? int(*request.direction) : -1, direction);
        QList<QUrl> expected;
        for (const QString &name : files)
            expected.append(url(name));
        QCOMPARE(request.files, expected);
        for (const QUrl &file : request.files)
            QVERIFY(file.isLocalFile() && QDir::isAbsolutePath(file.toLocalFile()));
    }

    // What arrives over D-Bus must be a URL: a bare word would resolve against our own folder.
    void handedOverUris()
    {
        const QStringList uris{url(QStringLiteral("a.jpg")).toString(), photo(QStringLiteral("b.jxl")),
                               QStringLiteral("pikora://import?path=") + photo(QStringLiteral("sub")),
                               QStringLiteral("lumevo://x?path=") + QString::fromLatin1(QUrl::toPercentEncoding(photo(QStringLiteral("b.jxl")))),
                               QStringLiteral("--compress")};
        const LaunchRequest request = LaunchRequest::fromUris(uris);
        QVERIFY(!request.direction);
        QCOMPARE(request.files, (QList<QUrl>{url(QStringLiteral("a.jpg")), url(QStringLiteral("b.jxl"))}));
        QCOMPARE(LaunchRequest::fromUris(request.uris()), request);
    }

    void appliedToState()
    {
        AppState state(BatchFeedback::Devices{});
        TaskItem listed;
        listed.sourceURL = url(QStringLiteral("a.jpg"));
        state.workspace()->compressTasks()->append({listed});
        state.workspace()->selectAllTasks();
        state.workspace()->switchMode(ConversionMode::jxlToJPEG);

        QSignalSpy imported(state.imports(), &ImportService::importFinished);
        LaunchRequest request =
            LaunchRequest::fromArguments({QStringLiteral("--restore"), photo(QStringLiteral("b.jxl")),
                                          QStringLiteral("--compress"), m_photos},
                                         QDir::rootPath());
        request.applyTo(state.workspace(), state.imports());
        QCOMPARE(state.workspace()->activeMode(), ConversionMode::jpegToJXL);
        QVERIFY(state.workspace()->selectedTaskIds().isEmpty());
        QVERIFY(imported.wait(30000));
        // The folder's sub/c.jpg joins; a.jpg is listed already, and so is the photo link.jpg
        // names; the JXL belongs elsewhere.
        QCOMPARE(imported.first().first().toInt(), 1);
        QVERIFY(state.workspace()->restoreTasks()->isEmpty());
        QVERIFY(!state.runner()->isProcessing());

        // A direction alone starts no import.
        LaunchRequest{ConversionMode::jxlToJPEG, {}}.applyTo(state.workspace(), state.imports());
        QCOMPARE(state.workspace()->activeMode(), ConversionMode::jxlToJPEG);
        QVERIFY(!state.imports()->isScanning());
    }

    void requestsWaitForTheReceiver()
    {
        SingleInstance instance(QDBusConnection(QStringLiteral("no such connection")));
        QCOMPARE(instance.claim(), SingleInstance::Role::alone);

        QList<LaunchRequest> received;
        instance.deliver(LaunchRequest{ConversionMode::jxlToJPEG, {}});
        instance.Open({url(QStringLiteral("a.jpg")).toString()}, {});
        QVERIFY(received.isEmpty());
        {
            QObject window;
            instance.setReceiver(&window, [&](const LaunchRequest &r, const QVariantMap &) { received.append(r); });
            QCOMPARE(received.size(), 2);
            QCOMPARE(received.at(0).direction, std::optional(ConversionMode::jxlToJPEG));
            QCOMPARE(received.at(1).files, QList<QUrl>{url(QStringLiteral("a.jpg"))});
            instance.ActivateAction(SingleInstance::compressAction, {}, {});
            QCOMPARE(received.size(), 3);
        }
        // The receiver's context is gone: requests wait again rather than reach a dead window.
        instance.Activate({});
        QCOMPARE(received.size(), 3);
    }

    void forwardedOverTheSessionBus()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus (the suite runs under dbus-run-session)");
        SingleInstance first;
        QCOMPARE(first.claim(), SingleInstance::Role::primary);
        QVERIFY(QDBusConnection::sessionBus().interface()->isServiceRegistered(SingleInstance::serviceName));

        QList<std::pair<LaunchRequest, QVariantMap>> received;
        first.setReceiver(this, [&](const LaunchRequest &r, const QVariantMap &data) { received.append({r, data}); });

        // The later launch has a connection of its own, like another process.
        const QDBusConnection other = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("later"));
        {
            SingleInstance later(other);
            QCOMPARE(later.claim(), SingleInstance::Role::secondary);
            const LaunchRequest request = LaunchRequest::fromArguments(
                {QStringLiteral("--restore"), QStringLiteral("b.jxl"), QStringLiteral("sub"),
                 QStringLiteral("pikora://import?path=") + photo(QStringLiteral("a.jpg"))},
                m_photos);
            const QVariantMap token{{QStringLiteral("activation-token"), QStringLiteral("t-1")}};
            QVERIFY(later.forward(request, token));
            QVERIFY(later.forward(LaunchRequest{}, {}));

            QTRY_COMPARE(received.size(), 3);
            QCOMPARE(received.at(0).first, (LaunchRequest{ConversionMode::jxlToJPEG, {}}));
            QCOMPARE(received.at(0).second, token);
            QCOMPARE(received.at(1).first.files,
                     (QList<QUrl>{url(QStringLiteral("b.jxl")), url(QStringLiteral("sub")), url(QStringLiteral("a.jpg"))}));
            QVERIFY(received.at(2).first.isEmpty()); // a plain launch only raises the window
        }
        QDBusConnection::disconnectFromBus(QStringLiteral("later"));
    }
};

QTEST_GUILESS_MAIN(TestLaunch)
#include "tst_launch.moc"
