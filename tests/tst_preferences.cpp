#include "platform/preferences.h"
#include "testenv.h"

#include <QDateTime>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

const QString savedKey = QStringLiteral("com.lumevo.lifetimeSavedBytes");

} // namespace

class TestPreferences final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_file;

    // Replaces the file as another process would; a fresh modification time makes QSettings
    // read it again instead of answering from its in-process cache.
    void store(const QByteArray &content)
    {
        static qint64 stamp = 1'600'000'000;
        TestEnv::writeAll(m_file, content);
        QFile file(m_file);
        QVERIFY(file.open(QIODevice::ReadWrite)
                && file.setFileTime(QDateTime::fromSecsSinceEpoch(++stamp), QFileDevice::FileModificationTime));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(TestEnv::isolate(m_dir));
        m_file = Preferences().fileName();
        QVERIFY2(m_file.startsWith(m_dir.path()) && m_file.endsWith(QStringLiteral("/pikora/pikora.ini")), qPrintable(m_file));
    }

    void readsStoredText_data()
    {
        QTest::addColumn<QByteArray>("stored"); // null: no such key in the file
        QTest::addColumn<std::optional<qint64>>("number");
        const auto none = std::optional<qint64>();
        QTest::newRow("max") << QByteArray("9223372036854775807") << std::optional<qint64>(Q_INT64_C(9223372036854775807));
        QTest::newRow("overflow") << QByteArray("9223372036854775808") << none;
        QTest::newRow("fraction") << QByteArray("1.5") << none;
        QTest::newRow("bytes") << QByteArray("@ByteArray(12)") << none;
        QTest::newRow("absent") << QByteArray() << none;
    }

    void readsStoredText()
    {
        QFETCH(QByteArray, stored);
        QFETCH(std::optional<qint64>, number);
        store(stored.isNull() ? QByteArray("[General]\n") : "[General]\ncom.lumevo.lifetimeSavedBytes=" + stored + '\n');
        const Preferences preferences;
        QCOMPARE(preferences.int64(savedKey), number);
        QCOMPARE(preferences.data(savedKey), stored.startsWith("@ByteArray(") ? QByteArray("12") : QByteArray());
    }

    void writesWholeNumbersAsTextAndReadsNoOtherType()
    {
        // Beyond a double's precision, so a number kept as floating point would show.
        Preferences().setInt64(savedKey, (qint64(1) << 53) + 1);
        const QByteArray stored = TestEnv::readAll(m_file);
        QVERIFY2(stored.contains("\ncom.lumevo.lifetimeSavedBytes=9007199254740993\n"), stored.constData());
        // A number of another type written through QSettings in this process.
        QSettings raw(m_file, QSettings::IniFormat);
        raw.setValue(savedKey, 2.5);
        raw.sync();
        QCOMPARE(Preferences().int64(savedKey), std::optional<qint64>());
    }
};

QTEST_GUILESS_MAIN(TestPreferences)
#include "tst_preferences.moc"
