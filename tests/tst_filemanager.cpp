#include "platform/desktopopener.h"
#include "platform/filemanager.h"
#include "testenv.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

// A file manager on the test's own session bus that remembers what it was asked to show.
class FakeFileManager final : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")

public:
    QList<QStringList> shown;

public Q_SLOTS:
    void ShowItems(const QStringList &uris, const QString &) { shown.append(uris); }
};

// Showing files in the file manager and opening files and web pages with the default application.
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
        m_openerLog = m_root.filePath(u"opener.log"_s);
        TestEnv::writeScript(m_root.filePath(u"bin/xdg-open"_s), "printf '%s|' \"$@\" >> '" + QFile::encodeName(m_openerLog) + "'\n");
        qputenv("PATH", QFile::encodeName(m_root.filePath(u"bin"_s)) + ":" + qgetenv("PATH"));
    }

    void init()
    {
        QFile::remove(m_openerLog);
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("no session bus (the suite runs under dbus-run-session)");
    }

    void showItemsAsksTheFileManager()
    {
        QDBusConnection service = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"fake-fm"_s);
        const auto disconnect = qScopeGuard([] { QDBusConnection::disconnectFromBus(u"fake-fm"_s); });
        FakeFileManager fake;
        QVERIFY(service.registerObject(u"/org/freedesktop/FileManager1"_s, &fake, QDBusConnection::ExportAllSlots));
        QVERIFY(service.registerService(u"org.freedesktop.FileManager1"_s));

        const QString photo = m_root.filePath(u"a b/ü.jpg"_s);
        FileManager::showItems({QUrl::fromLocalFile(photo), QUrl(u"https://example.com/x.jpg"_s)});
        QTRY_COMPARE(fake.shown.size(), 1);
        // Only local files, as encoded URIs.
        QCOMPARE(fake.shown.first(), QStringList{QUrl::fromLocalFile(photo).toString(QUrl::FullyEncoded)});
        QTest::qWait(100); // proves that the folder is not opened besides
        QCOMPARE(openerCalls(), QString());
        service.unregisterService(u"org.freedesktop.FileManager1"_s);
    }

    // No file manager on the bus: the folder opens instead, and that is no failure.
    void withoutAFileManagerOpensTheFolder()
    {
        QTRY_VERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(u"org.freedesktop.FileManager1"_s));
        int failures = 0;
        FileManager::showItems({QUrl::fromLocalFile(m_root.filePath(u"photos/p.jpg"_s))}, [&failures](const QString &) { ++failures; });
        QTRY_COMPARE(openerCalls(), m_root.filePath(u"photos"_s) + u'|');
        QTest::qWait(200); // proves that no failure follows the opener's successful exit
        QCOMPARE(failures, 0);
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
        QTRY_VERIFY(!QDBusConnection::sessionBus().interface()->isServiceRegistered(u"org.freedesktop.FileManager1"_s));
        const QString bin = m_root.filePath(u"bin-"_s + QString::fromLatin1(QTest::currentDataTag()).replace(u' ', u'-'));
        QVERIFY(QDir().mkpath(bin));
        if (!opener.isEmpty())
            TestEnv::writeScript(bin + u"/xdg-open"_s, opener);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", opener.isEmpty() ? QFile::encodeName(bin) : QFile::encodeName(bin) + ":" + path);
        const auto restore = qScopeGuard([&] { qputenv("PATH", path); });
        QStringList reasons;
        FileManager::showItems({QUrl::fromLocalFile(m_root.filePath(u"photos/p.jpg"_s))},
                               [&reasons](const QString &reason) { reasons.append(reason); });
        QTRY_COMPARE(reasons, QStringList{u"没有可用的文件管理器来显示此文件"_s});
    }

    void nothingLocalShowsNothing()
    {
        FileManager::showItems({QUrl(u"https://example.com/a.jpg"_s)});
        FileManager::showItems({});
        QTest::qWait(200); // proves that no opener runs later
        QCOMPARE(openerCalls(), QString());
    }

    // Local files, a name that looks like an option included, go to xdg-open as absolute paths (never
    // "-x"); release pages as encoded addresses; a relative address not at all.
    void openWithDefaultApp_data()
    {
        QTest::addColumn<QUrl>("url");
        QTest::addColumn<bool>("pageToo"); // the window's file actions take local files only
        QTest::addColumn<QString>("handed"); // empty: not opened
        QTest::newRow("local file") << QUrl::fromLocalFile(u"/photos/a b.jpg"_s) << false << u"/photos/a b.jpg"_s;
        QTest::newRow("file named like an option") << QUrl::fromLocalFile(u"/photos/--help"_s) << false << u"/photos/--help"_s;
        QTest::newRow("web address, as a file") << QUrl(u"https://example.com/a.jpg"_s) << false << QString();
        QTest::newRow("web address, as a page") << QUrl(u"https://h/a b"_s) << true << u"https://h/a%20b"_s;
        QTest::newRow("relative") << QUrl::fromLocalFile(u"-x"_s) << true << QString();
    }

    void openWithDefaultApp()
    {
        QFETCH(QUrl, url);
        QFETCH(bool, pageToo);
        QFETCH(QString, handed);
        QCOMPARE(pageToo ? DesktopOpener::openWithDefaultApplication(url) : FileManager::openWithDefaultApp(url), !handed.isEmpty());
        if (!handed.isEmpty())
            QTRY_COMPARE(openerCalls(), handed + u'|');
        else
            QCOMPARE(openerCalls(), QString());
    }
};

QTEST_GUILESS_MAIN(TestFileManager)
#include "tst_filemanager.moc"
