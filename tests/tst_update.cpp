#include "integration/updatefeed.h"
#include "integration/updatemanager.h"
#include "testenv.h"
#include "testhttpserver.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using Delivery = TestHttpServer::Delivery;
using Response = TestHttpServer::Response;
using Kind = UpdateStatus::Kind;

namespace {

const QString website = QStringLiteral("https://tolvane.gitlab.io/pikora/");

std::optional<QUrl> url(const char *text)
{
    return text ? std::optional(QUrl(QString::fromUtf8(text))) : std::nullopt;
}

AppUpdateInfo release(const char *version, const char *title, const char *notes, const char *download = nullptr,
                      const char *html = nullptr, const char *published = nullptr)
{
    const auto text = [](const char *text) { return text ? std::optional(QString::fromUtf8(text)) : std::nullopt; };
    return {*text(version), *text(title), *text(notes), url(download), url(html), text(published)};
}

AppUpdateInfo downloadable(const QUrl &address, const char *version = "9.9.9")
{
    return {QString::fromUtf8(version), {}, {}, address, std::nullopt, std::nullopt};
}

// JSON written with single quotes, which moc (reading the class) takes for nothing odd.
QByteArray json(const char *text)
{
    return QByteArray(text).replace('\'', '"');
}

// An expected message ending in "：" stands for any longer message that starts with it.
bool matches(const QString &actual, const QString &expected)
{
    return expected.endsWith(u'：') ? actual.startsWith(expected) && actual.size() > expected.size() : actual == expected;
}

} // namespace

class UpdateTest : public QObject
{
    Q_OBJECT

private:
    // Built-in feeds on the hosts given (primary, GitLab, pages), else all on m_server to log stray requests.
    std::unique_ptr<UpdateManager> makeManager(std::chrono::milliseconds timeout = 5s, QList<const TestHttpServer *> hosts = {})
    {
        if (hosts.isEmpty())
            hosts = {m_server.get(), m_server.get(), m_server.get()};
        const auto host = [&](int i) { return hosts.at(i)->url({}).toString(); };
        auto manager = std::make_unique<UpdateManager>(UpdateEndpoints::fromHosts(host(0), host(1), host(2), website), timeout);
        manager->setOpener([this](const QUrl &url) { m_opened.append(url); return true; });
        manager->setRevealer([this](const QUrl &url) { m_revealed.append(url); });
        connect(manager.get(), &UpdateManager::statusChanged, this, [this, raw = manager.get()] { m_statuses.append(raw->status()); });
        connect(manager.get(), &UpdateManager::updateFound, this, [this] { ++m_found; });
        return manager;
    }

    QTemporaryDir m_root;
    QString m_downloads;
    QString m_temp;
    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<TestHttpServer> m_tls;
    QList<UpdateStatus> m_statuses;
    int m_found = 0; // updateFound signals
    QList<QUrl> m_opened;
    QList<QUrl> m_revealed;

private slots:
    void initTestCase()
    {
        QVERIFY(TestEnv::isolate(m_root));
        m_downloads = QStandardPaths::standardLocations(QStandardPaths::DownloadLocation).value(0);
        QVERIFY(m_downloads.startsWith(m_root.path()));
        m_temp = m_root.path() + QStringLiteral("/tmp");
        qputenv("TMPDIR", QFile::encodeName(m_temp));
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"); // never a real file manager
    }

    void init()
    {
        m_statuses.clear();
        m_found = 0;
        m_opened.clear();
        m_revealed.clear();
        QDir(m_downloads).removeRecursively();
        QDir(m_temp).removeRecursively();
        QVERIFY(QDir().mkpath(m_temp));
        QCOMPARE(QDir::tempPath(), m_temp); // else the checks for leftovers would look in the wrong place
        m_server = std::make_unique<TestHttpServer>();
        m_tls = std::make_unique<TestHttpServer>();
        QVERIFY(m_server->listen() && m_tls->listen(true));
    }

    void versions_data()
    {
        QTest::addColumn<QString>("remote");
        QTest::addColumn<QString>("current");
        QTest::addColumn<bool>("newer");
        const auto row = [](const char *remote, const char *current, bool newer) {
            QTest::addRow("%s vs %s", remote, current) << QString::fromUtf8(remote) << QString::fromUtf8(current) << newer;
        };
        row(" v1.2.4-beta.1 ", "1.2.3", true); // blanks, v and the prerelease go
        row("vv1", "0", false); // one v only
        row("1.10", "1.9", true); // numbers, not text
        row("1.99999999999999999999.3", "1.2", true); // too large for a number: dropped, not 0
    }

    void versions()
    {
        QFETCH(QString, remote);
        QFETCH(QString, current);
        QFETCH(bool, newer);
        QCOMPARE(UpdateFeed::isRemoteVersionNewer(remote, current), newer);
    }

    void parseReleaseData_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<AppUpdateInfo>("expected");
        const auto row = [](const char *name, const QByteArray &body, const AppUpdateInfo &expected) {
            QTest::newRow(name) << body << expected;
        };
        row("release: package among links", json("{'tag_name':'v1.4.0','name':'P 1.4','description':'d',"
            "'released_at':'2025-01-02','_links':{'self':'https://h/r'},'assets':{'links':[{'url':'https://h/P.dmg'},"
            "{'url':'https://h/P_1.4.0_amd64.deb'},{'url':'https://h/P.zip'}]}}"),
            release("1.4.0", "P 1.4", "d", "https://h/P_1.4.0_amd64.deb", "https://h/r", "2025-01-02"));
        row("release: notes' upload", json("{'tag_name':'1','description':'[P](/uploads/ab/P.dmg) or /uploads/x/P_amd64.deb'}"),
            release("1", "Pikora v1", "[P](/uploads/ab/P.dmg) or /uploads/x/P_amd64.deb", "https://gitlab.com/tolvane/pikora-releases/uploads/x/P_amd64.deb"));
        row("feed: complete document", json("{'version':'1.5.0','title':'P 1.5','releaseNotes':'N','htmlUrl':'https://h/','published_at':'2025-05-01',"
            "'platforms':{'darwin-arm64':{'url':'https://h/P.dmg'},'linux-aarch64':{'url':'https://h/P_arm64.deb'},'linux-x86_64':{'url':'https://h/P_amd64.deb'}}}"),
            release("1.5.0", "P 1.5", "N", "https://h/P_amd64.deb", "https://h/", "2025-05-01"));
        row("feed: top-level package without an entry for this machine", json("{'version':'3','platforms':{'linux-aarch64':{'url':'https://h/a.deb'}},"
            "'downloadUrl':'https://h/P.AppImage'}"), release("3", "Pikora v3", "修复若干已知问题，带来更流畅的转码体验。", "https://h/P.AppImage"));
    }

    void parseReleaseData()
    {
        QFETCH(QByteArray, body);
        QFETCH(AppUpdateInfo, expected);
        const QUrl projectPage(QStringLiteral("https://gitlab.com/tolvane/pikora-releases"));
        QCOMPARE(UpdateFeed::parseReleaseData(body, projectPage, QStringLiteral("x86_64")).release.value_or(AppUpdateInfo()), expected);
    }

    void linuxPackage_data()
    {
        QTest::addColumn<QStringList>("files"); // below https://h/
        QTest::addColumn<QString>("arch");
        QTest::addColumn<QString>("expected"); // empty: none
        const auto row = [](const char *name, const char *files, const char *arch, const char *expected) {
            QTest::newRow(name) << QString::fromLatin1(files).split(u' ') << QString::fromLatin1(arch) << QString::fromLatin1(expected);
        };
        row("deb before AppImage", "P.dmg P-x86_64.AppImage p_amd64.deb", "x86_64", "p_amd64.deb");
        row("AppImage when the deb is for another machine", "p_arm64.deb P-aarch64.AppImage P-x86_64.AppImage", "x86_64", "P-x86_64.AppImage");
        row("named machine before unnamed", "p.deb p_amd64.deb", "x86_64", "p_amd64.deb");
        row("marker only as a whole word", "p-notarm64x.deb P-aarch64.AppImage", "aarch64", "p-notarm64x.deb");
        row("none", "P.dmg", "x86_64", "");
    }

    void linuxPackage()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, arch);
        QFETCH(QString, expected);
        QList<QUrl> addresses;
        for (const QString &file : files)
            addresses.append(QUrl(QStringLiteral("https://h/") + file));
        const std::optional<QUrl> chosen = UpdateFeed::linuxPackage(addresses, arch);
        QCOMPARE(chosen ? chosen->toString().mid(10) : QString(), expected);
    }

    // The name the package is saved under in Downloads (a .deb and an AppImage: the download tests).
    void installerFileName()
    {
        QCOMPARE(UpdateFeed::installerFileName(QStringLiteral("2"), QUrl(QStringLiteral("https://h/download"))), QStringLiteral("Pikora-v2"));
        QCOMPARE(UpdateFeed::installerFileName(QStringLiteral("1/../../../.profile"), QUrl(QStringLiteral("https://h/P.deb"))),
                 QStringLiteral("Pikora-v1_.._.._.._.profile.deb")); // stays in Downloads
    }

    void check_data()
    {
        QTest::addColumn<Response>("response");
        QTest::addColumn<bool>("userInitiated");
        QTest::addColumn<UpdateStatus>("expected"); // a message ending in "：" is a prefix
        const auto row = [](const char *name, const Response &response, bool manual, const UpdateStatus &expected) {
            QTest::newRow(name) << response << manual << expected;
        };
        const auto failed = [](const char *message) { return UpdateStatus::failed(QString::fromUtf8(message)); };
        row("update found, silent", {200, json("{'version':'9.2'}")}, false,
            UpdateStatus::available(release("9.2", "Pikora v9.2", "修复若干已知问题，带来更流畅的转码体验。")));
        row("same version, silent", {200, json("{'version':'") + UpdateManager::currentAppVersion().toUtf8() + "\"}"}, false,
            UpdateStatus::upToDate(UpdateManager::currentAppVersion()));
        row("neither shape", {200, json("[{'version':'9'}]")}, true, failed("无法识别的更新数据结构"));
        row("not JSON", {200, "<html>hello</html>"}, true, failed("无法解析更新数据："));
        row("failing custom feed", {404}, true, failed("服务器返回错误码：HTTP 404"));
        row("failing custom feed, silent", {404}, false, UpdateStatus::idle());
        row("slow server", {200, "{}", Delivery::stallHalfway}, true, failed("连接超时，服务器长时间没有响应"));
    }

    void check()
    {
        QFETCH(Response, response);
        QFETCH(bool, userInitiated);
        QFETCH(UpdateStatus, expected);
        m_server->setResponse("/feed", response);
        auto manager = makeManager(response.delivery == Delivery::stallHalfway ? 300ms : 5s);
        manager->checkForUpdates(m_server->url(QStringLiteral("/feed")).toString(), userInitiated);
        manager->checkForUpdates(m_server->url(QStringLiteral("/other")).toString(), !userInitiated); // ignored while checking
        QCOMPARE(manager->isManualChecking(), userInitiated);
        QTRY_VERIFY(manager->status().kind != Kind::checking);

        const UpdateStatus status = manager->status();
        QVERIFY2(matches(status.message, expected.message), qPrintable(status.message));
        expected.message = status.message;
        QCOMPARE(status, expected);
        QCOMPARE(m_statuses, (QList<UpdateStatus>{UpdateStatus::checking(), status}));
        QVERIFY(!manager->isManualChecking());
        QCOMPARE(manager->lastCheckedDate().isValid(), status.kind == Kind::available || status.kind == Kind::upToDate);
        QCOMPARE(m_found, status.kind == Kind::available ? 1 : 0);
        QCOMPARE(manager->currentUpdateInfo(), status.kind == Kind::available ? std::optional(status.updateInfo) : std::nullopt);
        // A custom feed is the only one asked (the built-in ones are on m_server too).
        QCOMPARE(m_server->requestedPaths(), QList<QByteArray>{"/feed"});
        const QByteArray head = m_server->requests().constFirst() + "\r\n";
        QVERIFY(head.contains(QByteArray("\r\nUser-Agent: Pikora/" + UpdateManager::currentAppVersion().toUtf8() + " (Linux)\r\n")));
        QVERIFY(head.contains("\r\nAccept: application/json\r\n"));
    }

    // Network failures read in the user's words first; the system's text, naming the host,
    // follows: a refused connection, and TLS spoken to a server that answers in plain text.
    void offlineCheckSaysWhy()
    {
        QTcpServer plain;
        QVERIFY(plain.listen(QHostAddress::LocalHost));
        connect(&plain, &QTcpServer::newConnection, &plain, [&plain] {
            while (QTcpSocket *socket = plain.nextPendingConnection()) {
                socket->write("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n");
                socket->disconnectFromHost();
            }
        });
        QTcpServer closed; // a port that nobody listens on any more
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        for (const auto &[address, words] : {std::pair(u"http://127.0.0.1:%1/feed"_s.arg(port), u"无法连接到更新服务器，请检查网络连接 ("_s),
                                             std::pair(u"https://127.0.0.1:%1/feed"_s.arg(plain.serverPort()),
                                                       u"无法与更新服务器建立安全连接 (TLS) ("_s)}) {
            auto manager = makeManager(30s);
            manager->checkForUpdates(address, true);
            QTRY_COMPARE_WITH_TIMEOUT(manager->status().kind, Kind::failed, 40000);
            const QString message = manager->status().message;
            QVERIFY2(message.startsWith(words) && message.endsWith(u')') && message.size() > words.size() + 1, qPrintable(message));
        }
        // A time-out Qt reports as such reads like the one the manager's own timer ends.
        QVERIFY(UpdateFeed::networkError(QNetworkReply::TimeoutError, u"Socket operation timed out"_s)
                    .startsWith(u"连接超时，服务器长时间没有响应 ("_s));
    }

    // Only the last built-in feed's failure counts; a 404 passes the turn to the next feed.
    void builtInFeeds()
    {
        TestHttpServer primary, gitLab, pages;
        QVERIFY(primary.listen() && gitLab.listen() && pages.listen());
        const QByteArray releasePath = "/api/v4/projects/tolvane%2Fpikora-releases/releases/permalink/latest";
        pages.setResponse("/pikora/version.json", {500, json("{'version':'9.5'}")});
        auto manager = makeManager(5s, {&primary, &gitLab, &pages});
        manager->checkForUpdates(QStringLiteral(" http://exa mple.com/feed "), true); // no URL: nothing asked
        QTRY_COMPARE(manager->status(), UpdateStatus::failed(QStringLiteral("无效的更新源地址： http://exa mple.com/feed ")));
        manager->checkForUpdates(QStringLiteral(" \t\n "), true); // a blank custom feed is none
        QTRY_COMPARE(manager->status(), UpdateStatus::failed(QStringLiteral("服务器返回错误码：HTTP 500")));

        gitLab.setResponse(releasePath, {200, json("{'tag_name':'v9.0','description':'/uploads/u1/P.deb'}")});
        manager->checkForUpdates({}, true);
        // Upload paths in the notes belong to the GitLab host.
        const QByteArray upload = gitLab.url(QStringLiteral("/tolvane/pikora-releases/uploads/u1/P.deb")).toEncoded();
        QTRY_COMPARE(manager->status(), UpdateStatus::available(release("9.0", "Pikora v9.0", "/uploads/u1/P.deb", upload.constData())));
        QCOMPARE(primary.requestedPaths(), QList<QByteArray>(2, "/pikora/version.json"));
        QCOMPARE(gitLab.requestedPaths(), QList<QByteArray>(2, releasePath));
        QCOMPARE(pages.requestedPaths(), QList<QByteArray>{"/pikora/version.json"});
    }

    // Over https with a length, then the same version over loopback http without: the file is replaced.
    void downloadSameVersionTwice()
    {
        const QString target = m_downloads + QStringLiteral("/Pikora-v1.4.0.deb");
        auto manager = makeManager();
        for (const bool sized : {true, false}) {
            TestHttpServer &server = sized ? *m_tls : *m_server;
            const QByteArray image(sized ? 200'000 : 50'000, sized ? 'x' : 'y');
            server.setResponse("/pikora_1.4.0_amd64.deb", {200, image, sized ? Delivery::complete : Delivery::withoutLength});
            const AppUpdateInfo info = downloadable(server.url(QStringLiteral("/pikora_1.4.0_amd64.deb")), "1.4.0");
            m_statuses.clear();
            manager->startDownload(info);
            QTRY_COMPARE(manager->status().kind, Kind::readyToInstall);
            QCOMPARE(m_statuses.first(), UpdateStatus::downloading(0.0, 0, 0));
            QCOMPARE(m_statuses.at(m_statuses.size() - 2), UpdateStatus::downloading(sized ? 1.0 : 0.0, image.size(), sized ? image.size() : -1));
            QCOMPARE(m_statuses.last(), UpdateStatus::readyToInstall(QUrl::fromLocalFile(target), info));
            QCOMPARE(TestEnv::readAll(target), image);
        }
        QCOMPARE(TestEnv::entries(m_downloads), QStringList{QStringLiteral("Pikora-v1.4.0.deb")});
        QCOMPARE(TestEnv::entries(m_temp), QStringList());
        // Shown in the file manager, never opened.
        QCOMPARE(m_revealed, QList<QUrl>(2, QUrl::fromLocalFile(target)));
        QVERIFY(m_opened.isEmpty());
    }

    void interruptDownload_data()
    {
        QTest::addColumn<bool>("releaseKnown");
        QTest::addColumn<bool>("replace");
        QTest::newRow("cancel after a check") << true << false;
        QTest::newRow("cancel without a check") << false << false;
        QTest::newRow("a second download replaces the first") << false << true;
    }

    void interruptDownload()
    {
        QFETCH(bool, releaseKnown);
        QFETCH(bool, replace);
        m_server->setResponse("/old.deb", {200, QByteArray(100'000, 'o'), Delivery::stallHalfway});
        m_server->setResponse("/new.AppImage", {200, "new image"});
        m_server->setResponse("/feed", {200, json("{'version':'99'}")});
        auto manager = makeManager();
        if (releaseKnown)
            manager->checkForUpdates(m_server->url(QStringLiteral("/feed")).toString(), true);
        QTRY_COMPARE(manager->status().kind, releaseKnown ? Kind::available : Kind::idle);
        manager->startDownload(downloadable(m_server->url(QStringLiteral("/old.deb"))));
        QTRY_VERIFY(manager->status().receivedBytes > 0);
        QCOMPARE(TestEnv::entries(m_temp).size(), 1);
        QVERIFY(!manager->canCheckForUpdates());
        manager->checkForUpdates(m_server->url(QStringLiteral("/feed")).toString(), true); // would overwrite the download
        QCOMPARE(manager->status().kind, Kind::downloading);
        const AppUpdateInfo second = downloadable(m_server->url(QStringLiteral("/new.AppImage")), "9.1");
        if (replace)
            manager->startDownload(second);
        else
            manager->cancelDownload();
        QTRY_VERIFY(manager->status().kind != Kind::downloading);

        const UpdateStatus expected = replace        ? UpdateStatus::readyToInstall(QUrl::fromLocalFile(m_downloads + QStringLiteral("/Pikora-v9.1.AppImage")), second)
                                      : releaseKnown ? UpdateStatus::available(*manager->currentUpdateInfo())
                                                     : UpdateStatus::idle();
        QTest::qWait(200); // proves that the abandoned transfer does not fail later
        manager->cancelDownload(); // outside a download: changes nothing
        QCOMPARE(manager->status(), expected);
        QVERIFY(std::none_of(m_statuses.begin(), m_statuses.end(), [](const UpdateStatus &s) { return s.kind == Kind::failed; }));
        QCOMPARE(TestEnv::entries(m_temp), QStringList());
        QCOMPARE(TestEnv::entries(m_downloads), replace ? QStringList{QStringLiteral("Pikora-v9.1.AppImage")} : QStringList());
    }

    void downloadFailure_data()
    {
        QTest::addColumn<QString>("address"); // a path on the TLS server, or absolute
        QTest::addColumn<QString>("message"); // a message ending in "：" is a prefix
        for (const char *address : {"http://h/P.deb", "file:///tmp/P.deb"})
            QTest::addRow("%s refused", address) << QString::fromUtf8(address)
                                                 << QStringLiteral("下载更新包失败：下载地址未使用 HTTPS 加密连接，已拒绝：") + QString::fromUtf8(address);
        QTest::newRow("redirect to http not followed")
            << QStringLiteral("/redirect.deb") << QStringLiteral("下载更新包失败：服务器把请求转向了不安全的 HTTP 地址，已拒绝");
        QTest::newRow("folder in the way is kept") << QStringLiteral("/P.deb") << QStringLiteral("保存安装包至下载文件夹失败：");
    }

    void downloadFailure()
    {
        QFETCH(QString, address);
        QFETCH(QString, message);
        const bool fetched = address.startsWith(u'/');
        const bool folderInTheWay = address == QLatin1String("/P.deb");
        const QString keep = m_downloads + QStringLiteral("/Pikora-v9.9.9.deb/keep.txt");
        if (folderInTheWay)
            TestEnv::writeAll(keep, "mine");
        m_tls->setResponse("/P.deb", {200, "image"});
        m_tls->setResponse("/redirect.deb", {302, {}, Delivery::complete, m_server->url(QStringLiteral("/P.deb")).toEncoded()});
        auto manager = makeManager();
        manager->startDownload(downloadable(fetched ? m_tls->url(address) : QUrl(address)));
        QTRY_COMPARE(manager->status().kind, Kind::failed);

        QVERIFY2(matches(manager->status().message, message), qPrintable(manager->status().message));
        QCOMPARE(m_statuses.first().kind, fetched ? Kind::downloading : Kind::failed); // refused before any fetch
        QVERIFY(m_server->requests().isEmpty());
        QVERIFY(m_opened.isEmpty() && m_revealed.isEmpty());
        // A finished copy that cannot be moved stays in the temporary folder for the user to rescue.
        QCOMPARE(TestEnv::entries(m_temp).size(), folderInTheWay ? 1 : 0);
        QCOMPARE(TestEnv::readAll(keep), QByteArray(folderInTheWay ? "mine" : ""));
    }

    // Given page, else the release found last, else the product web site; only web pages count.
    // (A release without a package opens its page: tst_ui_update.)
    void openInBrowser()
    {
        m_server->setResponse("/feed", {200, json("{'tag_name':'v99','_links':{'self':'https://h/r'}}")});
        auto manager = makeManager();
        manager->openInBrowser();
        manager->openInBrowser(url("file:///etc/passwd"));
        manager->checkForUpdates(m_server->url(u"/feed"_s).toString(), true);
        QTRY_COMPARE(manager->status().kind, Kind::available);
        manager->openInBrowser();
        manager->openInBrowser(url("https://h/p"));
        manager->openProductWebsite();
        QCOMPARE(m_opened, (QList<QUrl>{QUrl(website), QUrl(website), *url("https://h/r"), *url("https://h/p"), QUrl(website)}));
    }

    void cliCheckUpdate()
    {
        m_server->setResponse("/feed", {200, json("{'version':'99.1','downloadUrl':'https://h/P-99.1.deb'}")});
        QProcess cli;
        cli.start(QStringLiteral(PIKORA_CLI_PATH), {QStringLiteral("check-update"), QStringLiteral("--feed"), m_server->url(QStringLiteral("/feed")).toString()});
        QTRY_COMPARE_WITH_TIMEOUT(cli.state(), QProcess::NotRunning, 20'000);
        QCOMPARE(cli.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(cli.readAllStandardOutput()),
                 QStringLiteral("发现新版本 v99.1（当前版本 v%1）\n下载地址：https://h/P-99.1.deb\n").arg(UpdateManager::currentAppVersion()));
    }
};

QTEST_GUILESS_MAIN(UpdateTest)
#include "tst_update.moc"
