#include "platform/haptics.h"
#include "platform/soundplayer.h"
#include "testenv.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct RecordingPerformer final : HapticPerformer
{
    QList<HapticPattern> patterns;
    void perform(HapticPattern pattern) override { patterns.append(pattern); }
};

struct RecordingPlayer final : SoundPlayer
{
    int plays = 0;
    void playSuccess() override { ++plays; }
};

} // namespace

class TestFeedbackDevices : public QObject
{
    Q_OBJECT

private slots:
    void installedStandInsReceiveTheCalls();
    void soundOutputDetection_data();
    void soundOutputDetection();
};

void TestFeedbackDevices::installedStandInsReceiveTheCalls()
{
    HapticPerformer &silent = HapticPerformer::defaultPerformer();
    SoundPlayer &system = SoundPlayer::defaultPlayer();
    RecordingPerformer performer;
    RecordingPlayer player;

    HapticPerformer::setDefaultPerformer(&performer);
    SoundPlayer::setDefaultPlayer(&player);
    HapticPerformer::defaultPerformer().perform(HapticPattern::alignment);
    HapticPerformer::defaultPerformer().perform(HapticPattern::generic);
    SoundPlayer::defaultPlayer().playSuccess();
    QCOMPARE(performer.patterns, QList<HapticPattern>({HapticPattern::alignment, HapticPattern::generic}));
    QCOMPARE(player.plays, 1);

    HapticPerformer::setDefaultPerformer(nullptr);
    SoundPlayer::setDefaultPlayer(nullptr);
    QCOMPARE(&HapticPerformer::defaultPerformer(), &silent);
    QCOMPARE(&SoundPlayer::defaultPlayer(), &system);
}

void TestFeedbackDevices::soundOutputDetection_data()
{
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<bool>("expected");

    QTest::newRow("nothing") << QStringList() << false;
    QTest::newRow("sound server") << QStringList{QStringLiteral("run/pulse/native")} << true;
    QTest::newRow("playback device") << QStringList{QStringLiteral("snd/controlC0"), QStringLiteral("snd/pcmC0D3p")}
                                     << true;
    QTest::newRow("capture only") << QStringList{QStringLiteral("snd/controlC0"), QStringLiteral("snd/pcmC0D0c")}
                                  << false;
    QTest::newRow("other pulse file") << QStringList{QStringLiteral("run/pulse/pid")} << false;
}

void TestFeedbackDevices::soundOutputDetection()
{
    QFETCH(QStringList, files);
    QFETCH(bool, expected);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    for (const QString &file : files)
        TestEnv::writeAll(dir.filePath(file), {});
    QCOMPARE(hasSoundOutput(dir.filePath(QStringLiteral("run")), dir.filePath(QStringLiteral("snd"))), expected);
    QCOMPARE(hasSoundOutput(QString(), dir.filePath(QStringLiteral("missing"))), false);
}

QTEST_GUILESS_MAIN(TestFeedbackDevices)
#include "tst_feedbackdevices.moc"
