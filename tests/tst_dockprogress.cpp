#include "app/dockprogressmanager.h"
#include "version.h"

#include <QDBusConnection>
#include <QSignalSpy>
#include <QTest>

// Listens for launcher-entry signals on a connection of its own.
class LauncherListener : public QObject
{
    Q_OBJECT

public:
    QList<QPair<QString, QVariantMap>> updates;

public slots:
    void onUpdate(const QString &appUri, const QVariantMap &properties) { updates.append({appUri, properties}); }
};

class TestDockProgress : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void progressAndText_data();
    void progressAndText();
    void announcesToTheDock();
};

void TestDockProgress::initTestCase()
{
    if (!QDBusConnection::sessionBus().isConnected())
        QSKIP("no session bus (run under dbus-run-session)");
}

void TestDockProgress::progressAndText_data()
{
    QTest::addColumn<int>("completed");
    QTest::addColumn<int>("total");
    QTest::addColumn<double>("progress");
    QTest::addColumn<QString>("text");

    QTest::newRow("start") << 0 << 5 << 0.0 << QStringLiteral("0/5");
    QTest::newRow("half") << 2 << 4 << 0.5 << QStringLiteral("2/4");
    QTest::newRow("more than all") << 7 << 5 << 1.0 << QStringLiteral("7/5");
    QTest::newRow("negative") << -1 << 3 << 0.0 << QStringLiteral("-1/3");
}

void TestDockProgress::progressAndText()
{
    QFETCH(int, completed);
    QFETCH(int, total);
    QFETCH(double, progress);
    QFETCH(QString, text);

    DockProgressManager dock;
    QSignalSpy changes(&dock, &DockProgressManager::changed);
    dock.update(completed, total);
    QCOMPARE(dock.progress(), progress);
    QCOMPARE(dock.text(), text);
    QVERIFY(dock.isShowing());
    QCOMPARE(changes.size(), 1);

    // A zero total restores the plain icon and keeps the last figures.
    dock.update(0, 0);
    QVERIFY(!dock.isShowing());
    QCOMPARE(dock.text(), text);
    QCOMPARE(changes.size(), 2);
    dock.reset();
    dock.update(3, 0);
    QCOMPARE(changes.size(), 2);
}

void TestDockProgress::announcesToTheDock()
{
    LauncherListener listener;
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("dock"));
    QVERIFY(bus.connect(QString(), QStringLiteral("/io/gitlab/tolvane/Pikora/LauncherEntry"),
                        QStringLiteral("com.canonical.Unity.LauncherEntry"), QStringLiteral("Update"), &listener,
                        SLOT(onUpdate(QString,QVariantMap))));

    DockProgressManager dock;
    dock.reset();
    dock.update(1, 4);
    dock.update(4, 4);
    dock.reset();
    dock.reset();
    QTRY_COMPARE(listener.updates.size(), 3);
    QTest::qWait(100);
    QCOMPARE(listener.updates.size(), 3);

    const QString uri = QStringLiteral("application://" PIKORA_APP_ID ".desktop");
    const auto visible = [](double progress) {
        return QVariantMap{{QStringLiteral("progress"), progress}, {QStringLiteral("progress-visible"), true}};
    };
    QCOMPARE(listener.updates.at(0), qMakePair(uri, visible(0.25)));
    QCOMPARE(listener.updates.at(1), qMakePair(uri, visible(1.0)));
    QCOMPARE(listener.updates.at(2), qMakePair(uri, QVariantMap{{QStringLiteral("progress-visible"), false}}));
}

QTEST_GUILESS_MAIN(TestDockProgress)
#include "tst_dockprogress.moc"
