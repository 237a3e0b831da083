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
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

// The launch request from command lines and URLs, and its hand-over to the running instance.
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
        QTest::addColumn<QStringList>("arguments"); // {dir}: the photos folder
        QTest::addColumn<QString>("workingDirectory"); // relative to the photos folder
        QTest::addColumn<int>("direction");            // -1 none, else ConversionMode
        QTest::addColumn<QStringList>("files");        // names under the photos folder

        const int none = -1, compress = int(ConversionMode::jpegToJXL), restore = int(ConversionMode::jxlToJPEG);
        QTest::newRow("last direction wins, both paths kept")
            << list({"--restore", "{dir}/b.jxl", "--compress", "{dir}/a.jpg"}) << u"."_s << compress << list({"b.jxl", "a.jpg"});
        QTest::newRow("direction only") << list({"--restore"}) << u"."_s << restore << list({});
        QTest::newRow("relative paths from the working folder; missing paths and options ignored")
            << list({"-psn_0_1234", "a.jpg", "--style=fusion", "-", "missing.jpg", "sub", "../photos with space/notes.txt"})
            << u"."_s << none << list({"a.jpg", "sub", "notes.txt"});
        QTest::newRow("file URLs as a desktop passes them")
            << list({"file://{dir}/a.jpg", "file://{dir}/missing.jpg", "file://localhost{dir}/b.jxl"}) << u"/"_s << none
            << list({"a.jpg", "b.jxl"});
        // A scheme URL takes its first path item, which may be a link to a photo.
        QTest::newRow("scheme URLs")
            << list({"pikora://import?path={dir}/link.jpg&path={dir}/a.jpg", "lumevo://anything?path={dir}/b.jxl"}) << u"/"_s
            << none << list({"link.jpg", "b.jxl"});
        QTest::newRow("refused URLs")
            << list({"file://elsewhere{dir}/a.jpg", "pikora://import?file={dir}/a.jpg", "pikora://import?path=",
                     "pikora://import?path=/", "pikora://import?path={dir}", "pikora://import?path={dir}/notes.txt",
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

        // The folder's blank is encoded inside URLs, as a browser or file manager would.
        QStringList words;
        for (QString word : arguments) {
            word.replace(u"{dir}"_s, m_photos);
            words.append(word.contains(u"://"_s) ? word.replace(u' ', u"%20"_s) : word);
        }
        const LaunchRequest request =
            LaunchRequest::fromArguments(words, QDir(m_photos).absoluteFilePath(workingDirectory));
        QCOMPARE(request.direction ? int(*request.direction) : -1, direction);
        QList<QUrl> expected;
        for (const QString &name : files)
            expected.append(url(name));
        QCOMPARE(request.files, expected);
    }

    // What arrives over D-Bus must be a URL: a bare word would resolve against our own folder.
    void handedOverUris()
    {
        const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(photo(u"b.jxl"_s)));
        const LaunchRequest request = LaunchRequest::fromUris({url(u"a.jpg"_s).toString(), photo(u"b.jxl"_s),
                                                               u"pikora://import?path="_s + photo(u"sub"_s),
                                                               u"lumevo://x?path="_s + encoded, u"--compress"_s});
        QVERIFY(!request.direction);
        QCOMPARE(request.files, (QList<QUrl>{url(u"a.jpg"_s), url(u"b.jxl"_s)}));
        QCOMPARE(LaunchRequest::fromUris(request.uris()), request);
    }

    void appliedToState()
    {
        AppState state(BatchFeedback::Devices{});
        TaskItem listed;
        listed.sourceURL = url(u"a.jpg"_s);
        state.workspace()->compressTasks()->append({listed});
        state.workspace()->switchMode(ConversionMode::jxlToJPEG);

        QSignalSpy imported(state.imports(), &ImportService::importFinished);
        LaunchRequest::fromArguments({u"--restore"_s, photo(u"b.jxl"_s), u"--compress"_s, m_photos}, QDir::rootPath())
            .applyTo(state.workspace(), state.imports());
        QCOMPARE(state.workspace()->activeMode(), ConversionMode::jpegToJXL);
        QVERIFY(imported.wait(30000));
        // Only sub/c.jpg is new: a.jpg is listed already (link.jpg names it), the JXL belongs elsewhere.
        QCOMPARE(imported.first().first().toInt(), 1);
        QVERIFY(!state.runner()->isProcessing());

        // A direction alone starts no import.
        LaunchRequest{ConversionMode::jxlToJPEG, {}}.applyTo(state.workspace(), state.imports());
        QCOMPARE(state.workspace()->activeMode(), ConversionMode::jxlToJPEG);
        QVERIFY(!state.imports()->isScanning());
    }

    void requestsWaitForTheReceiver()
    {
        SingleInstance instance(QDBusConnection(u"no such connection"_s));
        QCOMPARE(instance.claim(), SingleInstance::Role::alone);
        QList<LaunchRequest> received;
        instance.deliver(LaunchRequest{ConversionMode::jxlToJPEG, {}});
        instance.Open({url(u"a.jpg"_s).toString()}, {});
        QVERIFY(received.isEmpty());
        {
            QObject window;
            instance.setReceiver(&window, [&](const LaunchRequest &r, const QVariantMap &) { received.append(r); });
            QCOMPARE(received, (QList<LaunchRequest>{{ConversionMode::jxlToJPEG, {}}, {std::nullopt, {url(u"a.jpg"_s)}}}));
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
        const QDBusConnection other = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"later"_s);
        {
            SingleInstance later(other);
            QCOMPARE(later.claim(), SingleInstance::Role::secondary);
            const QVariantMap token{{u"activation-token"_s, u"t-1"_s}};
            QVERIFY(later.forward(LaunchRequest::fromArguments({u"--restore"_s, u"b.jxl"_s, u"sub"_s,
                                                                u"pikora://import?path="_s + photo(u"a.jpg"_s)},
                                                               m_photos),
                                  token));
            QVERIFY(later.forward(LaunchRequest{}, {}));
            // The direction and the files arrive apart; a plain launch only raises the window.
            QTRY_COMPARE(received.size(), 3);
            QCOMPARE(received.at(0), std::pair(LaunchRequest{ConversionMode::jxlToJPEG, {}}, token));
            QCOMPARE(received.at(1).first.files, (QList<QUrl>{url(u"b.jxl"_s), url(u"sub"_s), url(u"a.jpg"_s)}));
            QVERIFY(received.at(2).first.isEmpty());
        }
        QDBusConnection::disconnectFromBus(u"later"_s);
    }
};

QTEST_GUILESS_MAIN(TestLaunch)
#include "tst_launch.moc"
