#include "platform/filemanager.h"
#include "testenv.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

// A file manager on the test's own session bus that remembers what it was asked to show.
class FakeFileManager final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QList<QStringList> shown;

public Q_SLOTS:
    void ShowItems(const QStringList &uris, const QString &startupId)
    {
        Q_UNUSED(startupId)
        shown.append(uris);
    }
};

// Showing files in the file manager and opening them with the default application.
class TestFileManager final : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_root;
    QString m_openerLog;

    QString openerCalls() const { return QString::fromUtf8(TestEnv::readAll(m_openerLog)); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_root.isValid());
        TestEnv::isolateHome(m_root.path());
        m_openerLog = m_root.filePath(QStringLiteral("opener.log"));
        TestEnv::writeScript(m_root.filePath(QStringLiteral("bin/xdg-open")),
                             "printf '%s|' \"$@\" >> '" + QFile::encodeName(m_openerLog) + "'\n");
        qputenv("PATH", QFile::encodeName(m_root.filePath(QStringLiteral("bin"))) + ":" + qgetenv("PATH"));
    }

    void init() { QFile::remove(m_openerLog); }

    void showItemsAsksTheFileManager()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus");
        QDBusConnection service = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake-fm"));
        FakeFileManager fake;
        QVERIFY(service.registerObject(QStringLiteral("/org/freedesktop/FileManager1"), &fake, QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerService(QStringLiteral("org.freedesktop.FileManager1")));

        const QString photo = m_root.filePath(QStringLiteral("a b/ü.jpg"));
        FileManager::showItems({QUrl::fromLocalFile(photo), QUrl(QStringLiteral("https://example.com/x.jpg"))});
        QTRY_COMPARE(fake.shown.size(), 1);
        // Only local files, as encoded URIs; the folder is not opened besides.
        QCOMPARE(fake.shown.first(), QStringList{QUrl::fromLocalFile(photo).toString(QUrl::FullyEncoded)});
        QTest::qWait(100); // proves that the folder is not opened besides
        QCOMPARE(openerCalls(), QString());

        service.unregisterService(QStringLiteral("org.freedesktop.FileManager1"));
        service.unregisterObject(QStringLiteral("/org/freedesktop/FileManager1"));
        QDBusConnection::disconnectFromBus(QStringLiteral("fake-fm"));
    }

    void withoutAFileManagerOpensTheFolder()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus");
        QTRY_VERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(QStringLiteral("org.freedesktop.FileManager1")));
        const QString photo = m_root.filePath(QStringLiteral("photos/p.jpg"));
        FileManager::showItems({QUrl::fromLocalFile(photo)});
        QTRY_COMPARE(openerCalls(), m_root.filePath(QStringLiteral("photos")) + QLatin1Char('|'));
    }

    // Neither a file manager on the bus nor an opener that can open a folder: the caller hears of it.
    void whenNothingCanShowTheFileTheCallerIsTold_data()
    {
        QTest::addColumn<QByteArray>("opener"); // the body of xdg-open; empty for none at all
        QTest::newRow("opener fails") << QByteArray("echo 'no method available for opening' >&2; exit 3");
        QTest::newRow("no opener") << QByteArray();
    }

    void whenNothingCanShowTheFileTheCallerIsTold()
    {
        QFETCH(QByteArray, opener);
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus");
        QTRY_VERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(QStringLiteral("org.freedesktop.FileManager1")));
        const QString bin = m_root.filePath(QStringLiteral("bin-") + QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-'));
        QVERIFY(QDir().mkpath(bin));
        if (!opener.isEmpty())
            TestEnv::writeScript(bin + QStringLiteral("/xdg-open"), opener);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", opener.isEmpty() ? QFile::encodeName(bin) : QFile::encodeName(bin) + ":" + path);
        const auto restore = qScopeGuard([&] { qputenv("PATH", path); });

        QStringList reasons;
        FileManager::showItems({QUrl::fromLocalFile(m_root.filePath(QStringLiteral("photos/p.jpg")))},
                               [&reasons](const QString &reason) { reasons.append(reason); });
        QTRY_COMPARE(reasons, QStringList{QStringLiteral("没有可用的文件管理器来显示此文件")});
    }

    void aFolderThatOpensIsNoFailure()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus");
        QTRY_VERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(QStringLiteral("org.freedesktop.FileManager1")));
        int failures = 0;
        FileManager::showItems({QUrl::fromLocalFile(m_root.filePath(QStringLiteral("photos/p.jpg")))},
                               [&failures](const QString &) { ++failures; });
        QTRY_COMPARE(openerCalls(), m_root.filePath(QStringLiteral("photos")) + QLatin1Char('|'));
        QTest::qWait(200); // proves that no failure follows the opener's successful exit
        QCOMPARE(failures, 0);
    }

    void nothingLocalShowsNothing()
    {
        FileManager::showItems({QUrl(QStringLiteral("https://example.com/a.jpg"))});
        FileManager::showItems({});
        QTest::qWait(200); // proves that no opener runs later
        QCOMPARE(openerCalls(), QString());
    }

    void openWithDefaultApp_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<bool>("opened");
        QTest::newRow("local file") << QUrl::fromLocalFile(QStringLiteral("/photos/a b.jpg")) << true;
        // A name that looks like an option is still a path: absolute, never "-x".
        QTest::newRow("file named like an option") << QUrl::fromLocalFile(QStringLiteral("/photos/--help")) << true;
        QTest::newRow("web address") << QUrl(QStringLiteral("https://example.com/a.jpg")) << false;
    }

    void openWithDefaultApp()
    {
        QFETCH(QUrl, url);
        QFETCH(bool, opened);
        QCOMPARE(FileManager::openWithDefaultApp(url), opened);
        if (opened)
            QTRY_COMPARE(openerCalls(), url.toLocalFile() + QLatin1Char('|'));
        else
            QCOMPARE(openerCalls(), QString());
    }
};

QTEST_GUILESS_MAIN(TestFileManager)
#include "tst_filemanager.moc"
