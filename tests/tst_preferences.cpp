#include "platform/preferences.h"
#include "testenv.h"

#include <QDateTime>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

class TestPreferences : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void roundTripsThroughTheFile();
    void readsStoredText_data();
    void readsStoredText();
    void rejectsWrongTypesWrittenInProcess();
    void absentAndRemovedKeys();

private:
    // Replaces the file as another process would; a fresh modification time makes QSettings
    // read it again instead of answering from its in-process cache.
    void writeStoredFile(const QByteArray &content);

    QTemporaryDir m_dir;
    QString m_file;
};

static const QString savedKey = QStringLiteral("com.lumevo.lifetimeSavedBytes");
static const QString countKey = QStringLiteral("com.lumevo.lifetimeProcessedCount");
static const QString settingsKey = QStringLiteral("com.lumevo.appsettings");

void TestPreferences::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QStandardPaths::setTestModeEnabled(true);
    TestEnv::isolateHome(m_dir.path());
    m_file = Preferences().fileName();
    QVERIFY2(m_file.startsWith(m_dir.path()), qPrintable(m_file));
    QVERIFY(m_file.endsWith(QStringLiteral("/pikora/pikora.ini")));
}

void TestPreferences::writeStoredFile(const QByteArray &content)
{
    static qint64 stamp = 1'600'000'000;
    TestEnv::writeAll(m_file, content);
    QFile file(m_file);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(QDateTime::fromSecsSinceEpoch(++stamp), QFileDevice::FileModificationTime));
}

void TestPreferences::roundTripsThroughTheFile()
{
    const QByteArray json = QByteArrayLiteral("{\"customCjxlPath\":\"/opt/a b/cjxl\",\"x\":\"\xE7\x85\xA7\\n\"}");
    const qint64 beyondDouble = (qint64(1) << 53) + 1;
    {
        Preferences preferences;
        preferences.setData(settingsKey, json);
        preferences.setInt64(savedKey, beyondDouble);
        preferences.setInt64(countKey, -7);
        preferences.sync();
    }
    const QByteArray stored = TestEnv::readAll(m_file);
    // Dotted keys stay flat: no groups, no escaping.
    QVERIFY2(stored.contains("\ncom.lumevo.lifetimeSavedBytes=9007199254740993\n"), stored.constData());
    QVERIFY2(stored.contains("\ncom.lumevo.appsettings=\"@ByteArray({"), stored.constData());

    writeStoredFile(stored);
    Preferences fresh;
    QCOMPARE(fresh.data(settingsKey), json);
    QCOMPARE(fresh.int64(savedKey), std::optional<qint64>(beyondDouble));
    QCOMPARE(fresh.integer(countKey), qint64(-7));
}

void TestPreferences::readsStoredText_data()
{
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<std::optional<qint64>>("number");
    QTest::addColumn<QByteArray>("data");

    const auto none = std::optional<qint64>();
    QTest::newRow("max") << QByteArray("9223372036854775807") << std::optional<qint64>(Q_INT64_C(9223372036854775807)) << QByteArray();
    QTest::newRow("negative") << QByteArray("-42") << std::optional<qint64>(-42) << QByteArray();
    QTest::newRow("overflow") << QByteArray("9223372036854775808") << none << QByteArray();
    QTest::newRow("fraction") << QByteArray("1.5") << none << QByteArray();
    QTest::newRow("word") << QByteArray("abc") << none << QByteArray();
    QTest::newRow("bool") << QByteArray("true") << none << QByteArray();
    QTest::newRow("empty") << QByteArray("") << none << QByteArray();
    QTest::newRow("list") << QByteArray("1, 2") << none << QByteArray();
    QTest::newRow("bytes") << QByteArray("@ByteArray(12)") << none << QByteArray("12");
}

void TestPreferences::readsStoredText()
{
    QFETCH(QByteArray, stored);
    QFETCH(std::optional<qint64>, number);
    QFETCH(QByteArray, data);

    writeStoredFile("[General]\ncom.lumevo.lifetimeSavedBytes=" + stored + '\n');
    const Preferences preferences;
    QVERIFY(preferences.contains(savedKey));
    QCOMPARE(preferences.int64(savedKey), number);
    QCOMPARE(preferences.integer(savedKey), number.value_or(0));
    QCOMPARE(preferences.data(savedKey), data);
}

void TestPreferences::rejectsWrongTypesWrittenInProcess()
{
    writeStoredFile("[General]\n");
    QSettings raw(m_file, QSettings::IniFormat);
    raw.setValue(savedKey, 2.5);
    raw.setValue(countKey, true);
    raw.sync();
    Preferences preferences;
    QCOMPARE(preferences.int64(savedKey), std::optional<qint64>());
    QCOMPARE(preferences.integer(countKey), qint64(0));
}

void TestPreferences::absentAndRemovedKeys()
{
    writeStoredFile("[General]\n");
    Preferences preferences;
    QVERIFY(!preferences.contains(countKey));
    QVERIFY(preferences.data(settingsKey).isNull());
    QCOMPARE(preferences.int64(savedKey), std::optional<qint64>());
    QCOMPARE(preferences.integer(countKey), qint64(0));

    preferences.setInt64(countKey, 3);
    QVERIFY(preferences.contains(countKey));
    preferences.remove(countKey);
    preferences.sync();
    QVERIFY(!preferences.contains(countKey));
    QVERIFY(!TestEnv::readAll(m_file).contains("lifetimeProcessedCount"));
}

QTEST_GUILESS_MAIN(TestPreferences)
#include "tst_preferences.moc"
