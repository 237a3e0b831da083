#include "integration/updatefeed.h"
#include "integration/updatemanager.h"
#include "testenv.h"
#include "testhttpserver.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using Delivery = TestHttpServer::Delivery;
using Response = TestHttpServer::Response;
using Kind = UpdateStatus::Kind;

namespace {

const QString website = QStringLiteral("https://tolvane.gitlab.io/pikora/");

std::optional<QUrl> url(const char *text) { return text ? std::optional(QUrl(QString::fromUtf8(text))) : std::nullopt; }

AppUpdateInfo release(const char *version, const char *title, const char *notes, const char *download = nullptr,
                      const char *html = nullptr, const char *published = nullptr)
{
    const auto text = [](const char *text) { return QString::fromUtf8(text); };
    return {text(version), text(title), text(notes), url(download), url(html), published ? std::optional(text(published)) : std::nullopt};
}

AppUpdateInfo downloadable(const QUrl &address, const char *version = "9.9.9") { return {QString::fromUtf8(version), {}, {}, address, {}, {}}; }

// JSON written with single quotes, which moc (reading the class) takes for nothing odd.
QByteArray json(const char *text) { return QByteArray(text).replace('\'', '"'); }

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
    QString m_downloads, m_temp;
    std::unique_ptr<TestHttpServer> m_server, m_tls;
    QList<UpdateStatus> m_statuses;
    int m_found = 0; // updateFound signals
    QList<QUrl> m_opened, m_revealed;

private slots:
    void initTestCase()
    {
        QVERIFY(TestEnv::isolate(m_root));
        m_downloads = QStandardPaths::standardLocations(QStandardPaths::DownloadLocation).value(0);
        QVERIFY(m_downloads.startsWith(m_root.path()));
        m_temp = TestEnv::isolateTemporaries(m_root.filePath(u"tmp"_s));
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"); // never a real file manager
    }

    void init()
    {
        m_statuses.clear(), m_opened.clear(), m_revealed.clear(), m_found = 0;
        QVERIFY(QDir(m_downloads).removeRecursively() && QDir(m_temp).removeRecursively() && QDir().mkpath(m_temp));
        QCOMPARE(QDir::tempPath(), m_temp); // else the checks for leftovers would look in the wrong place
        m_server = std::make_unique<TestHttpServer>(), m_tls = std::make_unique<TestHttpServer>();
        QVERIFY(m_server->listen() && m_tls->listen(true));
    }

    // The parsers, one row per rule: a version's blanks, v and prerelease; feed shapes; the package for this machine.
    void parsers()
    {
        for (const auto &[remote, current, newer] : {std::tuple(" v1.2.4-beta.1 ", "1.2.3", true), {"vv1", "0", false},
                                                     {"1.10", "1.9", true}, {"1.99999999999999999999.3", "1.2", true}})
            QVERIFY2(UpdateFeed::isRemoteVersionNewer(QString::fromUtf8(remote), QString::fromUtf8(current)) == newer, remote);
        const std::pair<const char *, AppUpdateInfo> feeds[] = {
            {"{'tag_name':'v1.4.0','name':'P 1.4','description':'d','released_at':'2025-01-02','_links':{'self':'https://h/r'},"
             "'assets':{'links':[{'url':'https://h/P.dmg'},{'url':'https://h/P_1.4.0_amd64.deb'},{'url':'https://h/P.zip'}]}}",
             release("1.4.0", "P 1.4", "d", "https://h/P_1.4.0_amd64.deb", "https://h/r", "2025-01-02")},
            {"{'tag_name':'1','description':'[P](/uploads/ab/P.dmg) or /uploads/x/P_amd64.deb'}", // the notes' upload
             release("1", "Pikora v1", "[P](/uploads/ab/P.dmg) or /uploads/x/P_amd64.deb",
                     "https://gitlab.com/tolvane/pikora-releases/uploads/x/P_amd64.deb")},
            {"{'version':'1.5.0','title':'P 1.5','releaseNotes':'N','htmlUrl':'https://h/','published_at':'2025-05-01','platforms':{"
             "'darwin-arm64':{'url':'https://h/P.dmg'},'linux-aarch64':{'url':'https://h/P_arm64.deb'},'linux-x86_64':{'url':'https://h/P_amd64.deb'}}}",
             release("1.5.0", "P 1.5", "N", "https://h/P_amd64.deb", "https://h/", "2025-05-01")},
            {"{'version':'3','platforms':{'linux-aarch64':{'url':'https://h/a.deb'}},'downloadUrl':'https://h/P.AppImage'}",
             release("3", "Pikora v3", "修复若干已知问题，带来更流畅的转码体验。", "https://h/P.AppImage")}};
        for (const auto &[body, expected] : feeds)
            QCOMPARE(UpdateFeed::parseReleaseData(json(body), QUrl(u"https://gitlab.com/tolvane/pikora-releases"_s), u"x86_64"_s).release.value_or(AppUpdateInfo()),
                     expected);
        for (const auto &[files, arch, expected] : {std::tuple("P.dmg P-x86_64.AppImage p_amd64.deb", "x86_64", "p_amd64.deb"),
                                                    {"p_arm64.deb P-aarch64.AppImage P-x86_64.AppImage", "x86_64", "P-x86_64.AppImage"},
                                                    {"p.deb p_amd64.deb", "x86_64", "p_amd64.deb"}, // named machine first
                                                    {"p-notarm64x.deb P-aarch64.AppImage", "aarch64", "p-notarm64x.deb"}, // whole word
                                                    {"P.dmg", "x86_64", ""}}) {
            QList<QUrl> addresses;
            for (const QString &file : QString::fromLatin1(files).split(u' '))
                addresses.append(QUrl(u"https://h/"_s + file));
            const std::optional<QUrl> chosen = UpdateFeed::linuxPackage(addresses, QString::fromLatin1(arch));
            QCOMPARE(chosen ? chosen->toString().mid(10) : QString(), QString::fromLatin1(expected));
        }
        // The name saved in Downloads (a .deb and an AppImage: the download tests), which stays there.
        QCOMPARE(UpdateFeed::installerFileName(u"2"_s, QUrl(u"https://h/download"_s)), u"Pikora-v2"_s);
        QCOMPARE(UpdateFeed::installerFileName(u"1/../../.profile"_s, QUrl(u"https://h/P.deb"_s)), u"Pikora-v1_.._.._.profile.deb"_s);
    }

    void check_data()
    {
        QTest::addColumn<Response>("response");
        QTest::addColumn<bool>("userInitiated");
        QTest::addColumn<UpdateStatus>("expected"); // a message ending in "：" is a prefix
        const auto failed = [](const char *message) { return UpdateStatus::failed(QString::fromUtf8(message)); };
        QTest::newRow("update found, silent") << Response{200, json("{'version':'9.2'}")} << false
            << UpdateStatus::available(release("9.2", "Pikora v9.2", "修复若干已知问题，带来更流畅的转码体验。"));
        QTest::newRow("neither shape") << Response{200, json("[{'version':'9'}]")} << true << failed("无法识别的更新数据结构");
        QTest::newRow("not JSON") << Response{200, "<html>hello</html>"} << true << failed("无法解析更新数据：");
        QTest::newRow("failing custom feed") << Response{404} << true << failed("服务器返回错误码：HTTP 404");
    }

    void check()
    {
        QFETCH(Response, response);
        QFETCH(bool, userInitiated);
        QFETCH(UpdateStatus, expected);
        m_server->setResponse("/feed", response);
        auto manager = makeManager();
        manager->checkForUpdates(m_server->url(u"/feed"_s).toString(), userInitiated);
        manager->checkForUpdates(m_server->url(u"/other"_s).toString(), !userInitiated); // ignored while checking
        QCOMPARE(manager->isManualChecking(), userInitiated);
        QTRY_VERIFY(manager->status().kind != Kind::checking);

        const UpdateStatus status = manager->status();
        const bool found = status.kind == Kind::available;
        QVERIFY2(matches(status.message, expected.message), qPrintable(status.message));
        expected.message = status.message;
        QCOMPARE(status, expected);
        QCOMPARE(m_statuses, (QList<UpdateStatus>{UpdateStatus::checking(), status}));
        QVERIFY(!manager->isManualChecking());
        QCOMPARE(manager->lastCheckedDate().isValid(), found);
        QCOMPARE(m_found, found ? 1 : 0);
        QCOMPARE(manager->currentUpdateInfo(), found ? std::optional(status.updateInfo) : std::nullopt);
        // A custom feed is the only one asked (the built-in ones are on m_server too).
        QCOMPARE(m_server->requestedPaths(), QList<QByteArray>{"/feed"});
        const QByteArray head = m_server->requests().constFirst() + "\r\n";
        QVERIFY2(head.contains(QByteArray("\r\nUser-Agent: Pikora/" + UpdateManager::currentAppVersion().toUtf8() + " (Linux)\r\n"))
                     && head.contains("\r\nAccept: application/json\r\n"), head.constData());
    }

    // Network failures read in the user's words first; the system's text, naming the host,
    // follows (a refused connection here; the other kinds map alike).
    void offlineCheckSaysWhy()
    {
        QTcpServer closed; // a port that nobody listens on any more
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const quint16 port = closed.serverPort();
        closed.close();
        auto manager = makeManager(30s);
        manager->checkForUpdates(u"http://127.0.0.1:%1/feed"_s.arg(port), true);
        QTRY_COMPARE_WITH_TIMEOUT(manager->status().kind, Kind::failed, 40000);
        const QString message = manager->status().message, words = u"无法连接到更新服务器，请检查网络连接 ("_s;
        QVERIFY2(message.startsWith(words) && message.endsWith(u')') && message.size() > words.size() + 1, qPrintable(message));
        for (const auto &[error, start] : {std::pair(QNetworkReply::TimeoutError, u"连接超时，服务器长时间没有响应 (x)"_s),
                                           {QNetworkReply::SslHandshakeFailedError, u"无法与更新服务器建立安全连接 (TLS) (x)"_s}})
            QCOMPARE(UpdateFeed::networkError(error, u"x"_s), start);
    }

    // Only the last built-in feed's failure counts; a 404 passes the turn to the next feed. The
    // browser gets the page given, else the release found last, else the product web site; only web pages.
    void builtInFeedsAndBrowser()
    {
        TestHttpServer primary, gitLab, pages;
        QVERIFY(primary.listen() && gitLab.listen() && pages.listen());
        const QByteArray releasePath = "/api/v4/projects/tolvane%2Fpikora-releases/releases/permalink/latest";
        pages.setResponse("/pikora/version.json", {500, json("{'version':'9.5'}")});
        auto manager = makeManager(5s, {&primary, &gitLab, &pages});
        manager->openInBrowser();
        manager->openInBrowser(url("file:///etc/passwd"));
        manager->checkForUpdates(u" http://exa mple.com/feed "_s, true); // no URL: nothing asked
        QTRY_COMPARE(manager->status(), UpdateStatus::failed(u"无效的更新源地址： http://exa mple.com/feed "_s));
        manager->checkForUpdates(u" \t\n "_s, true); // a blank custom feed is none
        QTRY_COMPARE(manager->status(), UpdateStatus::failed(u"服务器返回错误码：HTTP 500"_s));
        gitLab.setResponse(releasePath, {200, json("{'tag_name':'v9.0','description':'/uploads/u1/P.deb','_links':{'self':'https://h/r'}}")});
        manager->checkForUpdates({}, true);
        // Upload paths in the notes belong to the GitLab host.
        const QByteArray upload = gitLab.url(u"/tolvane/pikora-releases/uploads/u1/P.deb"_s).toEncoded();
        QTRY_COMPARE(manager->status(), UpdateStatus::available(release("9.0", "Pikora v9.0", "/uploads/u1/P.deb", upload.constData(), "https://h/r")));
        QCOMPARE(primary.requestedPaths(), QList<QByteArray>(2, "/pikora/version.json"));
        QCOMPARE(gitLab.requestedPaths(), QList<QByteArray>(2, releasePath));
        QCOMPARE(pages.requestedPaths(), QList<QByteArray>{"/pikora/version.json"});
        manager->openInBrowser();
        manager->openInBrowser(url("https://h/p"));
        manager->openProductWebsite();
        QCOMPARE(m_opened, (QList<QUrl>{QUrl(website), QUrl(website), *url("https://h/r"), *url("https://h/p"), QUrl(website)}));
    }

    // Over https with a length, then the same version over loopback http without: the file is replaced, shown in the file manager, never opened.
    void downloadSameVersionTwice()
    {
        const QString target = m_downloads + u"/Pikora-v1.4.0.deb"_s;
        auto manager = makeManager();
        for (const bool sized : {true, false}) {
            TestHttpServer &server = sized ? *m_tls : *m_server;
            const QByteArray image(sized ? 200'000 : 50'000, sized ? 'x' : 'y');
            server.setResponse("/pikora_1.4.0_amd64.deb", {200, image, sized ? Delivery::complete : Delivery::withoutLength});
            const AppUpdateInfo info = downloadable(server.url(u"/pikora_1.4.0_amd64.deb"_s), "1.4.0");
            m_statuses.clear();
            manager->startDownload(info);
            QTRY_COMPARE(manager->status().kind, Kind::readyToInstall);
            QCOMPARE(m_statuses.first(), UpdateStatus::downloading(0.0, 0, 0));
            QCOMPARE(m_statuses.at(m_statuses.size() - 2), UpdateStatus::downloading(sized ? 1.0 : 0.0, image.size(), sized ? image.size() : -1));
            QCOMPARE(m_statuses.last(), UpdateStatus::readyToInstall(QUrl::fromLocalFile(target), info));
            QCOMPARE(TestEnv::readAll(target), image);
        }
        QCOMPARE(TestEnv::entries(m_downloads), QStringList{u"Pikora-v1.4.0.deb"_s});
        QCOMPARE(TestEnv::entries(m_temp), QStringList());
        QCOMPARE(m_revealed, QList<QUrl>(2, QUrl::fromLocalFile(target)));
        QVERIFY(m_opened.isEmpty());
    }

    // Cancelled without a check (after one: tst_ui_update), or replaced by a second download: no
    // failure comes later, nothing is left in the temporary folder.
    void interruptDownload()
    {
        m_server->setResponse("/old.deb", {200, QByteArray(100'000, 'o'), Delivery::stallHalfway});
        m_server->setResponse("/new.AppImage", {200, "new image"});
        for (const bool replace : {false, true}) {
            m_statuses.clear();
            auto manager = makeManager();
            manager->startDownload(downloadable(m_server->url(u"/old.deb"_s)));
            QTRY_VERIFY(manager->status().receivedBytes > 0);
            QCOMPARE(TestEnv::entries(m_temp).size(), 1);
            QVERIFY(!manager->canCheckForUpdates());
            manager->checkForUpdates(m_server->url(u"/feed"_s).toString(), true); // would overwrite the download
            QCOMPARE(manager->status().kind, Kind::downloading);
            const AppUpdateInfo second = downloadable(m_server->url(u"/new.AppImage"_s), "9.1");
            replace ? manager->startDownload(second) : manager->cancelDownload();
            QTRY_VERIFY(manager->status().kind != Kind::downloading);

            const UpdateStatus expected = replace ? UpdateStatus::readyToInstall(QUrl::fromLocalFile(m_downloads + u"/Pikora-v9.1.AppImage"_s), second)
                                                  : UpdateStatus::idle();
            QTest::qWait(200); // proves that the abandoned transfer does not fail later
            manager->cancelDownload(); // outside a download: changes nothing
            QCOMPARE(manager->status(), expected);
            QVERIFY(std::none_of(m_statuses.begin(), m_statuses.end(), [](const UpdateStatus &s) { return s.kind == Kind::failed; }));
            QCOMPARE(TestEnv::entries(m_temp), QStringList());
            QCOMPARE(TestEnv::entries(m_downloads), replace ? QStringList{u"Pikora-v9.1.AppImage"_s} : QStringList());
        }
    }

    void downloadFailure_data()
    {
        QTest::addColumn<QString>("address"); // a path on the TLS server, or absolute
        QTest::addColumn<QString>("message"); // a message ending in "：" is a prefix
        for (const QString &address : {u"http://h/P.deb"_s, u"file:///tmp/P.deb"_s})
            QTest::addRow("%s refused", qPrintable(address)) << address << u"下载更新包失败：下载地址未使用 HTTPS 加密连接，已拒绝："_s + address;
        QTest::newRow("redirect to http not followed") << u"/redirect.deb"_s << u"下载更新包失败：服务器把请求转向了不安全的 HTTP 地址，已拒绝"_s;
        QTest::newRow("folder in the way is kept") << u"/P.deb"_s << u"保存安装包至下载文件夹失败："_s;
    }

    void downloadFailure()
    {
        QFETCH(QString, address);
        QFETCH(QString, message);
        const bool fetched = address.startsWith(u'/'), folderInTheWay = address == u"/P.deb"_s;
        const QString keep = m_downloads + u"/Pikora-v9.9.9.deb/keep.txt"_s;
        if (folderInTheWay)
            TestEnv::writeAll(keep, "mine");
        m_tls->setResponse("/P.deb", {200, "image"});
        m_tls->setResponse("/redirect.deb", {302, {}, Delivery::complete, m_server->url(u"/P.deb"_s).toEncoded()});
        auto manager = makeManager();
        manager->startDownload(downloadable(fetched ? m_tls->url(address) : QUrl(address)));
        QTRY_COMPARE(manager->status().kind, Kind::failed);

        QVERIFY2(matches(manager->status().message, message), qPrintable(manager->status().message));
        QCOMPARE(m_statuses.first().kind, fetched ? Kind::downloading : Kind::failed); // refused before any fetch
        QVERIFY(m_server->requests().isEmpty() && m_opened.isEmpty() && m_revealed.isEmpty());
        // A finished copy that cannot be moved stays in the temporary folder for the user to rescue.
        QCOMPARE(TestEnv::entries(m_temp).size(), folderInTheWay ? 1 : 0);
        QCOMPARE(TestEnv::readAll(keep), QByteArray(folderInTheWay ? "mine" : ""));
    }

    void cliCheckUpdate()
    {
        m_server->setResponse("/feed", {200, json("{'version':'99.1','downloadUrl':'https://h/P-99.1.deb'}")});
        QProcess cli;
        cli.start(QStringLiteral(PIKORA_CLI_PATH), {u"check-update"_s, u"--feed"_s, m_server->url(u"/feed"_s).toString()});
        QTRY_COMPARE_WITH_TIMEOUT(cli.state(), QProcess::NotRunning, 20'000);
        QCOMPARE(cli.exitCode(), 0);
        QCOMPARE(QString::fromUtf8(cli.readAllStandardOutput()),
                 u"发现新版本 v99.1（当前版本 v%1）\n下载地址：https://h/P-99.1.deb\n"_s.arg(UpdateManager::currentAppVersion()));
    }
};

QTEST_GUILESS_MAIN(UpdateTest)
#include "tst_update.moc"
