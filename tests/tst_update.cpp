#include "integration/updatefeed.h"
#include "integration/updatemanager.h"
#include "platform/desktopopener.h"
#include "testenv.h"
#include "testhttpserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace std::chrono_literals;
using Delivery = TestHttpServer::Response::Delivery;
using Kind = UpdateStatus::Kind;

namespace {

const QUrl projectPage(QStringLiteral("https://gitlab.com/tolvane/pikora-releases"));
const QString structureError = QStringLiteral("无法识别的更新数据结构");

std::optional<QUrl> url(const char *text)
{
    return text ? std::optional<QUrl>(QUrl(QString::fromUtf8(text))) : std::nullopt;
}

AppUpdateInfo release(const char *version, const char *title, const char *notes, const char *download = nullptr,
                      const char *html = nullptr, const char *published = nullptr)
{
    AppUpdateInfo info;
    info.version = QString::fromUtf8(version);
    info.title = QString::fromUtf8(title);
    info.releaseNotes = QString::fromUtf8(notes);
    info.downloadURL = url(download);
    info.htmlURL = url(html);
    if (published)
        info.publishedAt = QString::fromUtf8(published);
    return info;
}

QString describe(const std::optional<QUrl> &url)
{
    return url ? url->toString() : QStringLiteral("none");
}

QString describe(const AppUpdateInfo &info)
{
    return QStringLiteral("{%1 | %2 | %3 | download %4 | page %5 | published %6}")
        .arg(info.version, info.title, info.releaseNotes, describe(info.downloadURL), describe(info.htmlURL),
             info.publishedAt.value_or(QStringLiteral("none")));
}

// A release whose file is served by server at path.
AppUpdateInfo downloadable(const TestHttpServer &server, const QString &path, const char *version = "9.9.9")
{
    AppUpdateInfo info = release(version, "Pikora", "notes");
    info.downloadURL = server.url(path);
    return info;
}

} // namespace

char *toString(const AppUpdateInfo &info)
{
    return qstrdup(describe(info).toUtf8().constData());
}

char *toString(const UpdateStatus &status)
{
    const QString text = QStringLiteral("kind %1, version %2, info %3, progress %4 %5/%6, file %7, message %8")
                             .arg(static_cast<int>(status.kind))
                             .arg(status.version, describe(status.updateInfo))
                             .arg(status.progress)
                             .arg(status.receivedBytes)
                             .arg(status.totalBytes)
                             .arg(status.fileURL.toString(), status.message);
    return qstrdup(text.toUtf8().constData());
}

class UpdateTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void cleanVersionString_data();
    void cleanVersionString();
    void versionComparison_data();
    void versionComparison();
    void releaseData_data();
    void releaseData();
    void unrecognisedData_data();
    void unrecognisedData();
    void downloadRefusal_data();
    void downloadRefusal();
    void installerFileName();

    void checkReadsBothShapes_data();
    void checkReadsBothShapes();
    void builtInFeedsFallThrough();
    void lastBuiltInErrorOnlyWhenManual_data();
    void lastBuiltInErrorOnlyWhenManual();
    void manualCheckFailures_data();
    void manualCheckFailures();
    void blankCustomFeedUsesBuiltIns();
    void failingCustomFeedIsFinal();
    void slowServerTimesOut();
    void silentCheckOutcome_data();
    void silentCheckOutcome();
    void secondCheckWhileCheckingIsIgnored();

    void downloadOverHttps();
    void downloadWithoutContentLength();
    void cancelDownload_data();
    void cancelDownload();
    void secondDownloadReplacesFirst();
    void sameVersionTwiceReplacesFile();
    void plainHttpDownloadRefused();
    void redirectToHttpNotFollowed();
    void downloadHttpErrorFails();
    void folderInTheWayIsKept();
    void openInBrowserFallbacks_data();
    void openInBrowserFallbacks();
    void releaseWithoutDownloadOpensPage();

    void desktopOpenerRunsXdgOpen();
    void cliCheckUpdate_data();
    void cliCheckUpdate();

private:
    // Built-in feeds on the given servers (primary, GitLab, pages), by default all on m_server,
    // so any stray request shows in its log.
    std::unique_ptr<UpdateManager> makeManager(std::chrono::milliseconds timeout = 5s,
                                               QList<const TestHttpServer *> hosts = {});
    // Runs a manual check against the given feed and waits for its end.
    void checkFeed(UpdateManager &manager, const QUrl &feed, bool userInitiated = true);
    QStringList tempLeftovers() const;
    QStringList downloadedFiles() const;
    bool anyFailed() const;

    QTemporaryDir m_root;
    QString m_downloads;
    QString m_temp;
    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<TestHttpServer> m_tlsServer;
    QList<UpdateStatus> m_statuses;
    QList<QUrl> m_opened;
};

void UpdateTest::initTestCase()
{
    QVERIFY(m_root.isValid());
    TestEnv::isolateHome(m_root.path());
    QStandardPaths::setTestModeEnabled(true);
    // Test mode pins the Downloads folder below the isolated home.
    m_downloads = m_root.path() + QStringLiteral("/home/Downloads");
    QCOMPARE(QStandardPaths::standardLocations(QStandardPaths::DownloadLocation).value(0), m_downloads);
    m_temp = m_root.path() + QStringLiteral("/tmp");
    QVERIFY(QDir().mkpath(m_temp));
    qputenv("TMPDIR", QFile::encodeName(m_temp));
    QCOMPARE(QDir::tempPath(), m_temp);

    QVERIFY(QSslSocket::supportsSsl());
    TestHttpServer::trustTestCertificate();
}

void UpdateTest::init()
{
    m_statuses.clear();
    m_opened.clear();
    m_server = std::make_unique<TestHttpServer>();
    QVERIFY(m_server->listen());
    m_tlsServer = std::make_unique<TestHttpServer>();
    QVERIFY(m_tlsServer->listen(true));
}

void UpdateTest::cleanup()
{
    m_server.reset();
    m_tlsServer.reset();
    QDir(m_downloads).removeRecursively();
    QDir(m_temp).removeRecursively();
    QDir().mkpath(m_temp);
}

std::unique_ptr<UpdateManager> UpdateTest::makeManager(std::chrono::milliseconds timeout,
                                                       QList<const TestHttpServer *> hosts)
{
    if (hosts.isEmpty())
        hosts = {m_server.get(), m_server.get(), m_server.get()};
    const auto host = [&](int i) { return hosts.at(i)->url({}).toString(); };
    auto manager = std::make_unique<UpdateManager>(
        UpdateEndpoints::fromHosts(host(0), host(1), host(2), QStringLiteral("https://tolvane.gitlab.io/pikora/")),
        timeout);
    manager->setOpener([this](const QUrl &url) {
        m_opened.append(url);
        return true;
    });
    UpdateManager *raw = manager.get();
    connect(raw, &UpdateManager::statusChanged, this, [this, raw] { m_statuses.append(raw->status()); });
    return manager;
}

void UpdateTest::checkFeed(UpdateManager &manager, const QUrl &feed, bool userInitiated)
{
    manager.checkForUpdates(feed.toString(), userInitiated);
    QCOMPARE(manager.status().kind, Kind::checking);
    QTRY_VERIFY(manager.status().kind != Kind::checking);
}

QStringList UpdateTest::tempLeftovers() const
{
    return QDir(m_temp).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

QStringList UpdateTest::downloadedFiles() const
{
    return QDir(m_downloads).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

bool UpdateTest::anyFailed() const
{
    return std::any_of(m_statuses.begin(), m_statuses.end(), [](const UpdateStatus &s) { return s.kind == Kind::failed; });
}

// ---- Parsers ----

void UpdateTest::cleanVersionString_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("cleaned");
    QTest::newRow("prerelease with blanks") << QStringLiteral(" v1.2.3-beta.1 ") << QStringLiteral("1.2.3");
    QTest::newRow("capital V") << QStringLiteral("V2.0") << QStringLiteral("2.0");
    QTest::newRow("line breaks and tabs") << QStringLiteral("\n\tv1.4\n") << QStringLiteral("1.4");
    QTest::newRow("only one v dropped") << QStringLiteral("vv1") << QStringLiteral("v1");
    QTest::newRow("plain") << QStringLiteral("1.0") << QStringLiteral("1.0");
    QTest::newRow("empty") << QString() << QString();
}

void UpdateTest::cleanVersionString()
{
    QFETCH(QString, text);
    QFETCH(QString, cleaned);
    QCOMPARE(UpdateFeed::cleanVersionString(text), cleaned);
}

void UpdateTest::versionComparison_data()
{
    QTest::addColumn<QString>("remote");
    QTest::addColumn<QString>("current");
    QTest::addColumn<bool>("newer");
    const auto row = [](const char *name, const char *remote, const char *current, bool newer) {
        QTest::newRow(name) << QString::fromUtf8(remote) << QString::fromUtf8(current) << newer;
    };
    row("numeric not textual", "1.10", "1.9", true);
    row("patch 10 after 9", "1.2.10", "1.2.9", true);
    row("v1.2 older than 1.10", "v1.2", "1.10", false);
    row("1.10 newer than v1.2", "1.10", "v1.2", true);
    row("missing positions are 0", "1.0.0", "1", false);
    row("1.2 equals 1.2.0", "1.2", "1.2.0", false);
    row("release candidate equals release", "1.2.3-rc1", "1.2.3", false);
    row("beta equals release", "2.0-beta", "2.0", false);
    row("equal", "1.0.0", "1.0.0", false);
    row("older", "0.9", "1.0.0", false);
    row("capital V, longer current", "V3", "2.9.9", true);
    row("non-numeric piece dropped", "1.x.3", "1.2", true);
    row("empty pieces skipped", "1..2", "1.1", true);
    row("signs allowed", "+2", "1", true);
    row("negative number", "-1", "0", false);
    row("nothing numeric", "abc", "0.0.1", false);
    row("against empty", "0.0.1", "", true);
    row("too large is dropped", "99999999999999999999", "1", false);
    row("inner blank is not a number", "1. 5", "1.4", false);
}

void UpdateTest::versionComparison()
{
    QFETCH(QString, remote);
    QFETCH(QString, current);
    QFETCH(bool, newer);
    QCOMPARE(UpdateFeed::isRemoteVersionNewer(remote, current), newer);
}

void UpdateTest::releaseData_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<AppUpdateInfo>("expected");

    // GitLab release objects.
    QTest::newRow("release: archive link wins over a package")
        << QByteArray(R"({"tag_name":"v1.4.0","name":"Pikora 1.4","description":"Faster",
            "released_at":"2025-01-02T03:04:05Z",
            "_links":{"self":"https://gitlab.com/tolvane/pikora-releases/-/releases/v1.4.0"},
            "assets":{"links":[{"url":"https://gitlab.com/x/Pikora.pkg"},{"url":"https://gitlab.com/x/Pikora-1.4.0.zip"}]}})")
        << release("1.4.0", "Pikora 1.4", "Faster", "https://gitlab.com/x/Pikora-1.4.0.zip",
                   "https://gitlab.com/tolvane/pikora-releases/-/releases/v1.4.0", "2025-01-02T03:04:05Z");
    QTest::newRow("release: image suffix compared in lower case")
        << QByteArray(R"({"tag_name":"1.4","assets":{"links":[{"url":"https://h.test/readme.txt"},{"url":"https://h.test/P.DMG"}]}})")
        << release("1.4", "Pikora v1.4", "无更新日志", "https://h.test/P.DMG");
    QTest::newRow("release: no image among links takes the first")
        << QByteArray(R"({"tag_name":"1.4","assets":{"links":[{"url":"https://h.test/readme.txt"},{"url":"https://h.test/b.tar"}]}})")
        << release("1.4", "Pikora v1.4", "无更新日志", "https://h.test/readme.txt");
    QTest::newRow("release: image link that is no URL is passed over")
        << QByteArray(R"({"tag_name":"1.4","assets":{"links":[{"url":"https://h.test/a b.dmg"},{"url":"https://h.test/ok.zip"}]}})")
        << release("1.4", "Pikora v1.4", "无更新日志", "https://h.test/ok.zip");
    QTest::newRow("release: first link without text url, then the notes")
        << QByteArray(R"({"tag_name":"1.4","description":"see /uploads/ab12/Pikora-1.4.dmg",
            "assets":{"links":[{"url":5},{"url":"https://h.test/b.tar"}]}})")
        << release("1.4", "Pikora v1.4", "see /uploads/ab12/Pikora-1.4.dmg",
                   "https://gitlab.com/tolvane/pikora-releases/uploads/ab12/Pikora-1.4.dmg");
    QTest::newRow("release: upload path in a Markdown link")
        << QByteArray(R"({"tag_name":"v2","description":"[Pikora.dmg](/uploads/ab12/Pikora.dmg) and /uploads/x/y.dmg"})")
        << release("2", "Pikora v2", "[Pikora.dmg](/uploads/ab12/Pikora.dmg) and /uploads/x/y.dmg",
                   "https://gitlab.com/tolvane/pikora-releases/uploads/ab12/Pikora.dmg");
    QTest::newRow("release: absolute image address in notes, any case")
        << QByteArray(R"({"tag_name":"v2","description":"Get HTTPS://tolvane.gitlab.io/P.DMG\nor /uploads/a/b.dmg"})")
        << release("2", "Pikora v2", "Get HTTPS://tolvane.gitlab.io/P.DMG\nor /uploads/a/b.dmg",
                   "https://tolvane.gitlab.io/P.DMG");
    QTest::newRow("release: links holding a non-object are no links")
        << QByteArray(R"({"tag_name":"2","assets":{"links":[{"url":"https://h.test/x.dmg"},"junk"]}})")
        << release("2", "Pikora v2", "无更新日志");
    QTest::newRow("release: wrong types fall back")
        << QByteArray(R"({"tag_name":" V2.0v ","name":7,"description":null,"released_at":1,"_links":{"self":3}})")
        << release("2.0", "Pikora v2.0", "无更新日志");
    QTest::newRow("release: empty name is kept")
        << QByteArray(R"({"tag_name":"2","name":""})") << release("2", "", "无更新日志");

    // Version feed documents.
    QTest::newRow("feed: complete document")
        << QByteArray(R"({"version":"1.5.0","title":"Pikora 1.5","releaseNotes":"Notes",
            "platforms":{"darwin-arm64":{"url":"https://tolvane.gitlab.io/pikora/Pikora-1.5.0.dmg"}},
            "htmlUrl":"https://tolvane.gitlab.io/pikora/","published_at":"2025-05-01"})")
        << release("1.5.0", "Pikora 1.5", "Notes", "https://tolvane.gitlab.io/pikora/Pikora-1.5.0.dmg",
                   "https://tolvane.gitlab.io/pikora/", "2025-05-01");
    QTest::newRow("feed: version only")
        << QByteArray(R"({"version":"v1.5"})") << release("1.5", "Pikora v1.5", "修复若干已知问题，带来更流畅的转码体验。");
    QTest::newRow("feed: second-choice keys")
        << QByteArray(R"({"latest_version":"2","notes":"n","changelog":"c","html_url":"https://h.test/p",
            "platforms":{"macos":{"url":"https://h.test/m.dmg"}},"download_url":"https://h.test/top.dmg"})")
        << release("2", "Pikora v2", "n", "https://h.test/m.dmg", "https://h.test/p");
    QTest::newRow("feed: darwin when macos is no object")
        << QByteArray(R"({"version":"2","changelog":"c","platforms":{"darwin-arm64":{},"macos":"x","darwin":{"url":"https://h.test/d.dmg"}}})")
        << release("2", "Pikora v2", "c", "https://h.test/d.dmg");
    QTest::newRow("feed: bad arm address falls to the top level, not to macos")
        << QByteArray(R"({"version":"3","platforms":{"darwin-arm64":{"url":"bad url"},"macos":{"url":"https://h.test/m.dmg"}},
            "downloadUrl":"https://h.test/top.dmg"})")
        << release("3", "Pikora v3", "修复若干已知问题，带来更流畅的转码体验。", "https://h.test/top.dmg");
    QTest::newRow("feed: wrong types count as missing")
        << QByteArray(R"({"tag_name":1,"version":3,"latest_version":"v3.1","releaseNotes":5,"notes":"n",
            "download_url":"https://h.test/u.zip"})")
        << release("3.1", "Pikora v3.1", "n", "https://h.test/u.zip");
}

void UpdateTest::releaseData()
{
    QFETCH(QByteArray, body);
    QFETCH(AppUpdateInfo, expected);
    const UpdateFeed::Result result = UpdateFeed::parseReleaseData(body, projectPage);
    QCOMPARE(result.error, QString());
    QVERIFY(result.release);
    QCOMPARE(*result.release, expected);
}

void UpdateTest::unrecognisedData_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("isJson");
    QTest::newRow("array") << QByteArray(R"([{"version":"9"}])") << true;
    QTest::newRow("empty object") << QByteArray("{}") << true;
    QTest::newRow("neither shape") << QByteArray(R"({"name":"Pikora","title":"x"})") << true;
    QTest::newRow("html page") << QByteArray("<html>503</html>") << false;
    QTest::newRow("empty body") << QByteArray() << false;
}

void UpdateTest::unrecognisedData()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, isJson);
    const UpdateFeed::Result result = UpdateFeed::parseReleaseData(body, projectPage);
    QVERIFY(!result.release);
    if (isJson)
        QCOMPARE(result.error, structureError);
    else
        QVERIFY2(result.error.startsWith(QStringLiteral("无法解析更新数据：")) && result.error.size() > 10,
                 qPrintable(result.error));
}

void UpdateTest::downloadRefusal_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("allowed");
    QTest::newRow("https") << QStringLiteral("https://gitlab.com/x/Pikora.dmg") << true;
    QTest::newRow("http") << QStringLiteral("http://gitlab.com/x/Pikora.dmg") << false;
    QTest::newRow("http loopback v4") << QStringLiteral("http://127.0.0.1:8080/a.dmg") << true;
    QTest::newRow("http loopback v6") << QStringLiteral("http://[::1]/a.dmg") << true;
    QTest::newRow("http localhost") << QStringLiteral("http://LocalHost/a.dmg") << true;
    QTest::newRow("loopback-looking host name") << QStringLiteral("http://127.0.0.1.nip.test/a.dmg") << false;
    QTest::newRow("local file") << QStringLiteral("file:///tmp/a.dmg") << false;
    QTest::newRow("relative") << QStringLiteral("a.dmg") << false;
    QTest::newRow("ftp") << QStringLiteral("ftp://gitlab.com/a.dmg") << false;
}

void UpdateTest::downloadRefusal()
{
    QFETCH(QString, address);
    QFETCH(bool, allowed);
    QCOMPARE(UpdateFeed::downloadRefusal(QUrl(address)).isEmpty(), allowed);
}

void UpdateTest::installerFileName()
{
    QCOMPARE(UpdateFeed::installerFileName(QStringLiteral("1.4.0")), QStringLiteral("Pikora-v1.4.0.dmg"));
    // A feed must not be able to place the file outside the Downloads folder.
    QVERIFY(!UpdateFeed::installerFileName(QStringLiteral("1/../../../.profile")).contains(u'/'));
}

// ---- Checks ----

void UpdateTest::checkReadsBothShapes_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<AppUpdateInfo>("expected");
    QTest::newRow("GitLab release")
        << QByteArray(R"({"tag_name":"v9.1.0","name":"Pikora 9.1","description":"New",
            "assets":{"links":[{"url":"https://gitlab.com/x/Pikora-9.1.0.dmg"}]}})")
        << release("9.1.0", "Pikora 9.1", "New", "https://gitlab.com/x/Pikora-9.1.0.dmg");
    QTest::newRow("version feed")
        << QByteArray(R"({"version":"9.2","platforms":{"darwin-arm64":{"url":"https://h.test/P.dmg"}}})")
        << release("9.2", "Pikora v9.2", "修复若干已知问题，带来更流畅的转码体验。", "https://h.test/P.dmg");
}

void UpdateTest::checkReadsBothShapes()
{
    QFETCH(QByteArray, body);
    QFETCH(AppUpdateInfo, expected);
    m_server->setResponse("/feed.json", TestHttpServer::json(body));
    auto manager = makeManager();
    QSignalSpy sheet(manager.get(), &UpdateManager::updateSheetPresentedChanged);

    checkFeed(*manager, m_server->url(QStringLiteral("/feed.json")));

    QCOMPARE(manager->status(), UpdateStatus::available(expected));
    QCOMPARE(manager->currentUpdateInfo(), std::optional<AppUpdateInfo>(expected));
    QVERIFY(manager->isUpdateSheetPresented());
    QCOMPARE(sheet.count(), 1);
    QVERIFY(manager->lastCheckedDate().isValid());
    QVERIFY(!manager->isManualChecking());
    QCOMPARE(m_statuses, (QList<UpdateStatus>{UpdateStatus::checking(), UpdateStatus::available(expected)}));

    const QList<TestHttpServer::Request> requests = m_server->requests();
    QCOMPARE(requests.size(), 1);
    QCOMPARE(requests.first().headers.value("user-agent"), "Pikora-macOS/" + UpdateManager::currentAppVersion().toUtf8());
    QCOMPARE(requests.first().headers.value("accept"), QByteArray("application/json"));
}

void UpdateTest::builtInFeedsFallThrough()
{
    TestHttpServer primary;
    TestHttpServer gitLab;
    TestHttpServer pages;
    QVERIFY(primary.listen() && gitLab.listen() && pages.listen());
    const QByteArray releasePath = "/api/v4/projects/tolvane%2Fpikora-releases/releases/permalink/latest";
    gitLab.setResponse(releasePath, TestHttpServer::json(R"({"tag_name":"v9.0","description":"/uploads/u1/P.dmg"})"));
    pages.setResponse("/pikora/version.json", TestHttpServer::json(R"({"version":"9.5"})"));

    auto manager = makeManager(5s, {&primary, &gitLab, &pages});
    checkFeed(*manager, {});

    // The primary's 404 is dropped; the GitLab answer is used, with upload paths on the GitLab host.
    QCOMPARE(primary.requestedPaths(), QList<QByteArray>{"/pikora/version.json"});
    QCOMPARE(gitLab.requestedPaths(), QList<QByteArray>{releasePath});
    QVERIFY(pages.requests().isEmpty());
    QCOMPARE(manager->status().kind, Kind::available);
    QCOMPARE(manager->status().updateInfo.version, QStringLiteral("9.0"));
    QCOMPARE(manager->status().updateInfo.downloadURL,
             QUrl(gitLab.url({}).toString() + QStringLiteral("/tolvane/pikora-releases/uploads/u1/P.dmg")));
    QCOMPARE(m_statuses.size(), 2);
}

void UpdateTest::lastBuiltInErrorOnlyWhenManual_data()
{
    QTest::addColumn<bool>("userInitiated");
    QTest::newRow("manual") << true;
    QTest::newRow("silent") << false;
}

void UpdateTest::lastBuiltInErrorOnlyWhenManual()
{
    QFETCH(bool, userInitiated);
    TestHttpServer primary;
    TestHttpServer gitLab;
    QVERIFY(primary.listen() && gitLab.listen());
    primary.setResponse("/pikora/version.json", TestHttpServer::status(503));
    m_server->setResponse("/pikora/version.json", TestHttpServer::status(500));
    auto manager = makeManager(5s, {&primary, &gitLab, m_server.get()});

    checkFeed(*manager, {}, userInitiated);

    QCOMPARE(primary.requests().size(), 1);
    QCOMPARE(gitLab.requests().size(), 1);
    QCOMPARE(m_server->requests().size(), 1);
    QCOMPARE(manager->status(), userInitiated ? UpdateStatus::failed(QStringLiteral("服务器返回错误码：HTTP 500"))
                                              : UpdateStatus::idle());
    QVERIFY(!manager->lastCheckedDate().isValid());
    QVERIFY(!manager->isManualChecking());
    QVERIFY(!manager->isUpdateSheetPresented());
}

void UpdateTest::manualCheckFailures_data()
{
    QTest::addColumn<QString>("feed");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("statusCode");
    QTest::addColumn<QString>("message"); // exact, or a prefix when it ends in "…"

    QTest::newRow("JSON array") << QStringLiteral("/feed") << QByteArray(R"([{"version":"9"}])") << 200 << structureError;
    QTest::newRow("neither shape") << QStringLiteral("/feed") << QByteArray(R"({"name":"x"})") << 200 << structureError;
    QTest::newRow("not JSON") << QStringLiteral("/feed") << QByteArray("<html>hello</html>") << 200
                              << QStringLiteral("无法解析更新数据：…");
    QTest::newRow("HTTP 404") << QStringLiteral("/feed") << QByteArray() << 404
                              << QStringLiteral("服务器返回错误码：HTTP 404");
    QTest::newRow("not a URL") << QStringLiteral(" http://exa mple.com/feed ") << QByteArray() << 0
                               << QStringLiteral("无效的更新源地址： http://exa mple.com/feed ");
}

void UpdateTest::manualCheckFailures()
{
    QFETCH(QString, feed);
    QFETCH(QByteArray, body);
    QFETCH(int, statusCode);
    QFETCH(QString, message);
    TestHttpServer::Response response = TestHttpServer::json(body);
    response.status = statusCode;
    m_server->setResponse("/feed", response);
    auto manager = makeManager();

    const QString address = feed.startsWith(u'/') ? m_server->url(feed).toString() : feed;
    manager->checkForUpdates(address, true);
    QVERIFY(manager->isManualChecking());
    QTRY_VERIFY(manager->status().kind != Kind::checking);

    QCOMPARE(manager->status().kind, Kind::failed);
    if (message.endsWith(u'…'))
        QVERIFY2(manager->status().message.startsWith(message.chopped(1)), qPrintable(manager->status().message));
    else
        QCOMPARE(manager->status().message, message);
    QVERIFY(!manager->isManualChecking());
    QVERIFY(!manager->currentUpdateInfo());
    QVERIFY(!manager->lastCheckedDate().isValid());
}

void UpdateTest::blankCustomFeedUsesBuiltIns()
{
    m_server->setResponse("/pikora/version.json", TestHttpServer::json(R"({"version":"9.0"})"));
    auto manager = makeManager();
    manager->checkForUpdates(QStringLiteral(" \t\n "), true);
    QTRY_VERIFY(manager->status().kind != Kind::checking);
    QCOMPARE(manager->status().kind, Kind::available);
    QCOMPARE(m_server->requestedPaths(), QList<QByteArray>{"/pikora/version.json"});
}

void UpdateTest::failingCustomFeedIsFinal()
{
    m_server->setResponse("/pikora/version.json", TestHttpServer::json(R"({"version":"9.0"})"));
    TestHttpServer custom;
    QVERIFY(custom.listen());
    auto manager = makeManager();
    checkFeed(*manager, custom.url(QStringLiteral("/mine.json")));
    QCOMPARE(manager->status(), UpdateStatus::failed(QStringLiteral("服务器返回错误码：HTTP 404")));
    QVERIFY(m_server->requests().isEmpty());
}

void UpdateTest::slowServerTimesOut()
{
    TestHttpServer::Response silent;
    silent.delivery = Delivery::never;
    m_server->setResponse("/slow", silent);
    auto manager = makeManager(300ms);
    QElapsedTimer clock;
    clock.start();
    checkFeed(*manager, m_server->url(QStringLiteral("/slow")));
    QCOMPARE(manager->status(), UpdateStatus::failed(QStringLiteral("连接超时，服务器长时间没有响应")));
    QVERIFY(clock.elapsed() >= 300);
    QVERIFY(clock.elapsed() < 4000);
}

void UpdateTest::silentCheckOutcome_data()
{
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<bool>("newer");
    QTest::newRow("newer") << QByteArray("99.0") << true;
    QTest::newRow("same") << UpdateManager::currentAppVersion().toUtf8() << false;
    QTest::newRow("older") << QByteArray("0.0.1") << false;
}

void UpdateTest::silentCheckOutcome()
{
    QFETCH(QByteArray, version);
    QFETCH(bool, newer);
    m_server->setResponse("/feed", TestHttpServer::json(R"({"version":")" + version + R"("})"));
    auto manager = makeManager();
    checkFeed(*manager, m_server->url(QStringLiteral("/feed")), false);
    QVERIFY(!manager->isManualChecking());
    QVERIFY(manager->lastCheckedDate().isValid());
    QCOMPARE(manager->isUpdateSheetPresented(), newer);
    QCOMPARE(manager->currentUpdateInfo().has_value(), newer);
    if (!newer)
        QCOMPARE(manager->status(), UpdateStatus::upToDate(UpdateManager::currentAppVersion()));
}

void UpdateTest::secondCheckWhileCheckingIsIgnored()
{
    TestHttpServer::Response silent;
    silent.delivery = Delivery::never;
    m_server->setResponse("/slow", silent);
    m_server->setResponse("/fast", TestHttpServer::json(R"({"version":"99"})"));
    auto manager = makeManager();
    manager->checkForUpdates(m_server->url(QStringLiteral("/slow")).toString(), false);
    QTRY_COMPARE(m_server->requests().size(), 1);
    manager->checkForUpdates(m_server->url(QStringLiteral("/fast")).toString(), true);
    QTest::qWait(200);
    QCOMPARE(m_server->requestedPaths(), QList<QByteArray>{"/slow"});
    QCOMPARE(manager->status(), UpdateStatus::checking());
    QVERIFY(!manager->isManualChecking());
}

// ---- Downloads ----

void UpdateTest::downloadOverHttps()
{
    const QByteArray image = QByteArray(200'000, 'x') + "end";
    m_tlsServer->setResponse("/Pikora.dmg", TestHttpServer::file(image));
    auto manager = makeManager();
    const AppUpdateInfo info = downloadable(*m_tlsServer, QStringLiteral("/Pikora.dmg"));

    manager->startDownload(info);
    QCOMPARE(manager->status(), UpdateStatus::downloading(0.0, 0, 0));
    QTRY_COMPARE(manager->status().kind, Kind::readyToInstall);

    const QString target = m_downloads + QStringLiteral("/Pikora-v9.9.9.dmg");
    QCOMPARE(manager->status(), UpdateStatus::readyToInstall(QUrl::fromLocalFile(target), info));
    QCOMPARE(TestEnv::readAll(target), image);
    QCOMPARE(m_opened, QList<QUrl>{QUrl::fromLocalFile(target)});
    QCOMPARE(m_statuses.at(m_statuses.size() - 2),
             UpdateStatus::downloading(1.0, image.size(), image.size()));
    QVERIFY(!anyFailed());
    QCOMPARE(tempLeftovers(), QStringList());
}

void UpdateTest::downloadWithoutContentLength()
{
    const QByteArray image(50'000, 'y');
    m_server->setResponse("/Pikora.dmg", TestHttpServer::file(image, Delivery::withoutLength));
    auto manager = makeManager();
    manager->startDownload(downloadable(*m_server, QStringLiteral("/Pikora.dmg")));
    QTRY_COMPARE(manager->status().kind, Kind::readyToInstall);

    const bool unknownSizeShown = std::any_of(m_statuses.begin(), m_statuses.end(), [](const UpdateStatus &s) {
        return s.kind == Kind::downloading && s.receivedBytes > 0 && s.totalBytes < 0 && s.progress == 0.0;
    });
    QVERIFY(unknownSizeShown);
    QCOMPARE(TestEnv::readAll(m_downloads + QStringLiteral("/Pikora-v9.9.9.dmg")), image);
}

void UpdateTest::cancelDownload_data()
{
    QTest::addColumn<bool>("releaseKnown");
    QTest::newRow("after a check") << true;
    QTest::newRow("without a check") << false;
}

void UpdateTest::cancelDownload()
{
    QFETCH(bool, releaseKnown);
    m_server->setResponse("/Pikora.dmg", TestHttpServer::file(QByteArray(100'000, 'z'), Delivery::stallHalfway));
    m_server->setResponse("/feed", TestHttpServer::json(R"({"version":"99"})"));
    auto manager = makeManager();
    if (releaseKnown)
        checkFeed(*manager, m_server->url(QStringLiteral("/feed")));

    manager->startDownload(downloadable(*m_server, QStringLiteral("/Pikora.dmg")));
    QTRY_VERIFY(manager->status().receivedBytes > 0);
    QCOMPARE(tempLeftovers().size(), 1);
    manager->cancelDownload();

    const UpdateStatus expected = releaseKnown ? UpdateStatus::available(*manager->currentUpdateInfo()) : UpdateStatus::idle();
    QCOMPARE(manager->status(), expected);
    QTest::qWait(200);
    QCOMPARE(manager->status(), expected);
    QVERIFY(!anyFailed());
    QCOMPARE(tempLeftovers(), QStringList());
    QCOMPARE(downloadedFiles(), QStringList());

    // Cancelling again, outside a download, changes nothing.
    manager->cancelDownload();
    QCOMPARE(manager->status(), expected);
}

void UpdateTest::secondDownloadReplacesFirst()
{
    m_server->setResponse("/old.dmg", TestHttpServer::file(QByteArray(100'000, 'o'), Delivery::stallHalfway));
    m_server->setResponse("/new.dmg", TestHttpServer::file("new image"));
    auto manager = makeManager();
    manager->startDownload(downloadable(*m_server, QStringLiteral("/old.dmg"), "9.0"));
    QTRY_VERIFY(manager->status().receivedBytes > 0);

    manager->startDownload(downloadable(*m_server, QStringLiteral("/new.dmg"), "9.1"));
    QTRY_COMPARE(manager->status().kind, Kind::readyToInstall);
    QTest::qWait(100);
    QCOMPARE(manager->status().kind, Kind::readyToInstall);
    QVERIFY(!anyFailed());
    QCOMPARE(downloadedFiles(), QStringList{QStringLiteral("Pikora-v9.1.dmg")});
    QCOMPARE(tempLeftovers(), QStringList());
}

void UpdateTest::sameVersionTwiceReplacesFile()
{
    auto manager = makeManager();
    for (const QByteArray &content : {QByteArray("first image, longer"), QByteArray("second")}) {
        m_tlsServer->setResponse("/Pikora.dmg", TestHttpServer::file(content));
        manager->startDownload(downloadable(*m_tlsServer, QStringLiteral("/Pikora.dmg"), "1.4.0"));
        QTRY_COMPARE(manager->status().kind, Kind::readyToInstall);
        QCOMPARE(TestEnv::readAll(m_downloads + QStringLiteral("/Pikora-v1.4.0.dmg")), content);
    }
    QCOMPARE(downloadedFiles(), QStringList{QStringLiteral("Pikora-v1.4.0.dmg")});
    QCOMPARE(m_opened.size(), 2);
}

void UpdateTest::plainHttpDownloadRefused()
{
    auto manager = makeManager();
    AppUpdateInfo info = release("9.9.9", "Pikora", "notes", "http://updates.pikora.invalid/Pikora.dmg");
    manager->startDownload(info);
    const UpdateStatus status = manager->status();
    QCOMPARE(status.kind, Kind::failed);
    QVERIFY2(status.message.startsWith(QStringLiteral("下载更新包失败：")) && status.message.contains(QLatin1String("HTTPS")),
             qPrintable(status.message));
    QTest::qWait(100);
    QCOMPARE(manager->status(), status);
    QCOMPARE(m_statuses, QList<UpdateStatus>{status});
    QVERIFY(m_opened.isEmpty());
    QCOMPARE(tempLeftovers(), QStringList());
}

void UpdateTest::redirectToHttpNotFollowed()
{
    m_server->setResponse("/Pikora.dmg", TestHttpServer::file("image"));
    m_tlsServer->setResponse("/Pikora.dmg", TestHttpServer::redirect(m_server->url(QStringLiteral("/Pikora.dmg"))));
    auto manager = makeManager();
    manager->startDownload(downloadable(*m_tlsServer, QStringLiteral("/Pikora.dmg")));
    QTRY_COMPARE(manager->status().kind, Kind::failed);
    QCOMPARE(manager->status().message, QStringLiteral("下载更新包失败：服务器把请求转向了不安全的 HTTP 地址，已拒绝"));
    QVERIFY(m_server->requests().isEmpty());
    QCOMPARE(downloadedFiles(), QStringList());
    QCOMPARE(tempLeftovers(), QStringList());
}

void UpdateTest::downloadHttpErrorFails()
{
    auto manager = makeManager();
    manager->startDownload(downloadable(*m_tlsServer, QStringLiteral("/missing.dmg")));
    QTRY_COMPARE(manager->status().kind, Kind::failed);
    QCOMPARE(manager->status().message, QStringLiteral("下载更新包失败：服务器返回错误码：HTTP 404"));
    QCOMPARE(downloadedFiles(), QStringList());
    QCOMPARE(tempLeftovers(), QStringList());
    QVERIFY(m_opened.isEmpty());
}

void UpdateTest::folderInTheWayIsKept()
{
    const QString folder = m_downloads + QStringLiteral("/Pikora-v9.9.9.dmg");
    TestEnv::writeAll(folder + QStringLiteral("/keep.txt"), "mine");
    m_tlsServer->setResponse("/Pikora.dmg", TestHttpServer::file("image"));
    auto manager = makeManager();
    manager->startDownload(downloadable(*m_tlsServer, QStringLiteral("/Pikora.dmg")));
    QTRY_COMPARE(manager->status().kind, Kind::failed);
    QVERIFY(manager->status().message.startsWith(QStringLiteral("保存安装包至下载文件夹失败：")));
    QCOMPARE(TestEnv::readAll(folder + QStringLiteral("/keep.txt")), QByteArray("mine"));
    // The finished copy stays in the temporary folder for the user to rescue.
    QCOMPARE(tempLeftovers().size(), 1);
}

void UpdateTest::openInBrowserFallbacks_data()
{
    QTest::addColumn<QString>("given");
    QTest::addColumn<bool>("releaseKnown");
    QTest::addColumn<QString>("opened");
    const QString website = QStringLiteral("https://tolvane.gitlab.io/pikora/");
    const QString releasePage = QStringLiteral("https://gitlab.com/tolvane/pikora-releases/-/releases/v99");
    QTest::newRow("given page") << QStringLiteral("https://gitlab.com/p") << true << QStringLiteral("https://gitlab.com/p");
    QTest::newRow("page of the release found") << QString() << true << releasePage;
    QTest::newRow("product web site") << QString() << false << website;
    QTest::newRow("local file is no page") << QStringLiteral("file:///etc/passwd") << false << website;
}

void UpdateTest::openInBrowserFallbacks()
{
    QFETCH(QString, given);
    QFETCH(bool, releaseKnown);
    QFETCH(QString, opened);
    m_server->setResponse("/feed", TestHttpServer::json(
        R"({"tag_name":"v99","_links":{"self":"https://gitlab.com/tolvane/pikora-releases/-/releases/v99"}})"));
    auto manager = makeManager();
    if (releaseKnown)
        checkFeed(*manager, m_server->url(QStringLiteral("/feed")));
    manager->openInBrowser(given.isEmpty() ? std::nullopt : std::optional<QUrl>(QUrl(given)));
    QCOMPARE(m_opened, QList<QUrl>{QUrl(opened)});
}

void UpdateTest::releaseWithoutDownloadOpensPage()
{
    auto manager = makeManager();
    manager->startDownload(release("9.9.9", "Pikora", "notes", nullptr, "https://gitlab.com/r"));
    QCOMPARE(m_opened, QList<QUrl>{QUrl(QStringLiteral("https://gitlab.com/r"))});
    manager->startDownload(release("9.9.9", "Pikora", "notes"));
    QCOMPARE(m_opened.last(), QUrl(QStringLiteral("https://tolvane.gitlab.io/pikora/")));
    QCOMPARE(manager->status(), UpdateStatus::idle());
    QVERIFY(m_statuses.isEmpty());
}

// ---- Desktop hand-over and command line ----

void UpdateTest::desktopOpenerRunsXdgOpen()
{
    const QString bin = m_root.path() + QStringLiteral("/bin");
    const QString log = m_root.path() + QStringLiteral("/opened.txt");
    TestEnv::writeScript(bin + QStringLiteral("/xdg-open"), "printf '%s|' \"$@\" >> '" + QFile::encodeName(log) + "'\n");
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(bin) + ':' + path);

    QVERIFY(DesktopOpener::openWithDefaultApplication(QUrl::fromLocalFile(QStringLiteral("/tmp/Pikora v1.dmg"))));
    QTRY_COMPARE(TestEnv::readAll(log), QByteArray("/tmp/Pikora v1.dmg|"));
    QVERIFY(DesktopOpener::openWithDefaultApplication(QUrl(QStringLiteral("https://gitlab.com/a b"))));
    QTRY_COMPARE(TestEnv::readAll(log), QByteArray("/tmp/Pikora v1.dmg|https://gitlab.com/a%20b|"));
    QVERIFY(!DesktopOpener::openWithDefaultApplication(QUrl(QStringLiteral("-x"))));
    QVERIFY(!DesktopOpener::openWithDefaultApplication(QUrl()));

    qputenv("PATH", path);
}

void UpdateTest::cliCheckUpdate_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("statusCode");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::newRow("newer") << QByteArray(R"({"version":"99.1","downloadUrl":"https://h.test/P-99.1.dmg"})") << 200 << 0
                           << QStringLiteral("发现新版本 v99.1（当前版本 v%1）\n下载地址：https://h.test/P-99.1.dmg\n")
                                  .arg(UpdateManager::currentAppVersion());
    QTest::newRow("up to date") << QByteArray(R"({"version":"0.1"})") << 200 << 0
                                << QStringLiteral("当前已是最新版本 (v%1)\n").arg(UpdateManager::currentAppVersion());
    QTest::newRow("failure") << QByteArray() << 404 << 1 << QStringLiteral("检查更新失败：服务器返回错误码：HTTP 404\n");
}

void UpdateTest::cliCheckUpdate()
{
    QFETCH(QByteArray, body);
    QFETCH(int, statusCode);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    TestHttpServer::Response response = TestHttpServer::json(body);
    response.status = statusCode;
    m_server->setResponse("/feed", response);

    QProcess cli;
    cli.start(QStringLiteral(PIKORA_CLI_PATH),
              {QStringLiteral("check-update"), QStringLiteral("--feed"), m_server->url(QStringLiteral("/feed")).toString()});
    QTRY_COMPARE_WITH_TIMEOUT(cli.state(), QProcess::NotRunning, 20'000);
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), exitCode);
    const QByteArray printed = exitCode == 0 ? cli.readAllStandardOutput() : cli.readAllStandardError();
    QCOMPARE(QString::fromUtf8(printed), output);
}

QTEST_GUILESS_MAIN(UpdateTest)
#include "tst_update.moc"
