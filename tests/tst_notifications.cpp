#include "app/notificationmanager.h"
#include "testenv.h"
#include "version.h"

#include <QDBusConnection>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <fcntl.h>
#include <unistd.h>

namespace {

QDBusConnection fakeBus()
{
    return QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake"));
}

// Sends this process's standard output into a file while it lives.
class StdoutCapture
{
public:
    explicit StdoutCapture(const QString &path)
    {
        std::fflush(stdout);
        m_saved = ::dup(STDOUT_FILENO);
        const int file = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(file, STDOUT_FILENO);
        ::close(file);
    }
    ~StdoutCapture()
    {
        std::fflush(stdout);
        ::dup2(m_saved, STDOUT_FILENO);
        ::close(m_saved);
    }

private:
    int m_saved = -1;
};

} // namespace

class FakeNotificationServer : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QList<QVariantList> notifications;
    int capabilityRequests = 0;

public slots:
    QStringList GetCapabilities()
    {
        ++capabilityRequests;
        return {QStringLiteral("body"), QStringLiteral("sound")};
    }
    uint Notify(const QString &appName, uint replacesId, const QString &appIcon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int timeout)
    {
        notifications.append({appName, replacesId, appIcon, summary, body, actions, hints, timeout});
        return uint(notifications.size());
    }
};

class TestNotifications : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void texts_data();
    void texts();
    void postsToTheServer();
    void postsOnlyWhenInactiveAndSomethingEnded();
    void errorsGoToStandardOutput();
    void cleanup();

private:
    void serve();

    // Runs action with standard output captured until it holds lines lines (or 5 s passed).
    QStringList printedLines(const std::function<void()> &action, int lines);

    QTemporaryDir m_dir;
    std::unique_ptr<FakeNotificationServer> m_server;
};

void TestNotifications::initTestCase()
{
    if (!QDBusConnection::sessionBus().isConnected())
        QSKIP("no session bus (run under dbus-run-session)");
    QVERIFY(m_dir.isValid());
}

QStringList TestNotifications::printedLines(const std::function<void()> &action, int lines)
{
    const QString path = m_dir.filePath(QStringLiteral("stdout.txt"));
    {
        StdoutCapture capture(path);
        action();
        QDeadlineTimer deadline(lines > 0 ? 5000 : 300);
        while (TestEnv::readAll(path).count('\n') < qMax(lines, 1) && !deadline.hasExpired())
            QTest::qWait(10);
    }
    return QString::fromUtf8(TestEnv::readAll(path)).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void TestNotifications::texts_data()
{
    QTest::addColumn<ConversionMode>("mode");
    QTest::addColumn<int>("processed");
    QTest::addColumn<qint64>("saved");
    QTest::addColumn<int>("failed");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("body");

    const QString compress = QStringLiteral("Pikora · 照片瘦身完成");
    const QString restore = QStringLiteral("Pikora · 照片还原完成");
    QTest::newRow("nothing saved") << ConversionMode::jpegToJXL << 12 << qint64(0) << 0 << compress
                                   << QStringLiteral("已完成 12 张照片无损压缩");
    QTest::newRow("saved") << ConversionMode::jpegToJXL << 5 << qint64(3'400'000) << 0 << compress
                           << QStringLiteral("已完成 5 张照片无损压缩，累计节省 3.4 MB");
    QTest::newRow("saved and failed") << ConversionMode::jpegToJXL << 5 << qint64(1) << 2 << compress
                                      << QStringLiteral("已完成 5 张照片无损压缩，累计节省 1 字节（2 个项目失败）");
    QTest::newRow("grew") << ConversionMode::jpegToJXL << 1 << qint64(-500) << 0 << compress
                          << QStringLiteral("已完成 1 张照片无损压缩");
    QTest::newRow("all failed") << ConversionMode::jpegToJXL << 0 << qint64(0) << 3 << compress
                                << QStringLiteral("已完成 0 张照片无损压缩（3 个项目失败）");
    QTest::newRow("restore failed") << ConversionMode::jxlToJPEG << 3 << qint64(0) << 1 << restore
                                    << QStringLiteral("已成功还原 3 张照片为原始 JPEG（1 个项目失败）");
    QTest::newRow("restore ignores bytes") << ConversionMode::jxlToJPEG << 4 << qint64(9000) << 0 << restore
                                           << QStringLiteral("已成功还原 4 张照片为原始 JPEG");
}

void TestNotifications::texts()
{
    QFETCH(ConversionMode, mode);
    QFETCH(int, processed);
    QFETCH(qint64, saved);
    QFETCH(int, failed);
    QFETCH(QString, title);
    QFETCH(QString, body);

    QCOMPARE(completionNotificationTitle(mode), title);
    QCOMPARE(completionNotificationBody(mode, processed, saved, failed), body);
}

void TestNotifications::serve()
{
    m_server = std::make_unique<FakeNotificationServer>();
    QVERIFY(fakeBus().registerObject(QStringLiteral("/org/freedesktop/Notifications"), m_server.get(),
                                     QDBusConnection::ExportAllSlots));
    QVERIFY(fakeBus().registerService(QStringLiteral("org.freedesktop.Notifications")));
}

void TestNotifications::cleanup()
{
    fakeBus().unregisterService(QStringLiteral("org.freedesktop.Notifications"));
    fakeBus().unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    m_server.reset();
}

void TestNotifications::postsToTheServer()
{
    serve();
    FakeNotificationServer &server = *m_server;
    NotificationManager manager;
    const QStringList printed = printedLines([&] {
        manager.requestAuthorization();
        manager.sendCompletionNotification(ConversionMode::jpegToJXL, 2, 1500, 1);
    }, 0);
    QTRY_COMPARE(server.notifications.size(), 1);
    QCOMPARE(server.capabilityRequests, 1);
    QCOMPARE(printed, QStringList());

    const QString appId = QStringLiteral(PIKORA_APP_ID);
    const QVariantMap hints{{QStringLiteral("desktop-entry"), appId},
                            {QStringLiteral("sound-name"), QStringLiteral("complete")}};
    const QVariantList expected{QStringLiteral("Pikora"), 0u, appId, QStringLiteral("Pikora · 照片瘦身完成"),
                                QStringLiteral("已完成 2 张照片无损压缩，累计节省 2 KB（1 个项目失败）"),
                                QStringList(), hints, -1};
    QCOMPARE(server.notifications.first(), expected);
}

void TestNotifications::postsOnlyWhenInactiveAndSomethingEnded()
{
    serve();
    FakeNotificationServer &server = *m_server;
    NotificationManager manager;
    bool active = true;
    manager.setApplicationActiveProvider([&active] { return active; });
    manager.sendCompletionNotification(ConversionMode::jxlToJPEG, 4, 0, 0);
    active = false;
    manager.sendCompletionNotification(ConversionMode::jxlToJPEG, 0, 0, 0);
    manager.sendCompletionNotification(ConversionMode::jxlToJPEG, 0, 0, 1);
    // Only the last of the three may reach the server.
    QTRY_COMPARE(server.notifications.size(), 1);
    QCOMPARE(server.notifications.first().at(4).toString(), QStringLiteral("已成功还原 0 张照片为原始 JPEG（1 个项目失败）"));
    QTest::qWait(100);
    QCOMPARE(server.notifications.size(), 1);
}

void TestNotifications::errorsGoToStandardOutput()
{
    NotificationManager manager;
    QStringList printed = printedLines([&] {
        manager.requestAuthorization();
        manager.sendCompletionNotification(ConversionMode::jpegToJXL, 1, 0, 0);
    }, 2);
    QCOMPARE(printed.size(), 2);
    printed.sort();
    // The bus's own message: no server owns the name.
    QVERIFY2(printed.at(0).startsWith(QStringLiteral("发送通知失败: "))
                 && printed.at(0).contains(QStringLiteral("org.freedesktop.Notifications")),
             qPrintable(printed.at(0)));
    QVERIFY2(printed.at(1).startsWith(QStringLiteral("通知授权请求错误: ")), qPrintable(printed.at(1)));
    QVERIFY(printed.at(1).size() > QStringLiteral("通知授权请求错误: ").size());
}

QTEST_GUILESS_MAIN(TestNotifications)
#include "tst_notifications.moc"
