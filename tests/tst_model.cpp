// Job records, the settings record and its JSON form, hardware detection, byte formatting.
#include "model/appsettings.h"
#include "model/formattedbytes.h"
#include "platform/hardwareinfo.h"
#include "model/taskitem.h"
#include "platform/hardwaredetector.h"
#include "testenv.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

using Tree = QMap<QString, QByteArray>; // path below the fake root -> contents (null: no file)

std::optional<int> optionalCount(int count) { return count < 0 ? std::nullopt : std::optional<int>(count); } // -1: none

// Topology entries "package:core" for `count` cores with `threads` logical CPUs each.
QStringList cores(int count, int threads, int firstCoreId, int package = 0)
{
    QStringList cpus;
    for (int cpu = 0; cpu < count * threads; ++cpu)
        cpus << u"%1:%2"_s.arg(package).arg(firstCoreId + cpu / threads);
    return cpus;
}

} // namespace

class TestModel final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void taskItemAndStatus()
    {
        // {original, compressed (-1: not measured), saved, ratio}
        const std::tuple<qint64, int, qint64, double> rows[] = {
            {5000, -1, 0, 0.0}, {1000, 600, 400, 40.0}, {1000, 1200, 0, 0.0}, {0, 0, 0, 0.0}, {4, 0, 4, 100.0}};
        for (const auto &[original, compressed, saved, ratio] : rows) {
            TaskItem item;
            item.originalSize = original;
            item.compressedSize = optionalCount(compressed);
            QCOMPARE(item.savedBytes(), saved);
            QCOMPARE(item.savingsRatio(), ratio);
        }
        // Statuses sort by rank, not by declaration.
        QList<TaskStatus> sorted{TaskStatus::pending,   TaskStatus::processing, TaskStatus::verifying,
                                 TaskStatus::completed, TaskStatus::failed,     TaskStatus::skipped};
        std::sort(sorted.begin(), sorted.end());
        QCOMPARE(sorted, (QList<TaskStatus>{TaskStatus::processing, TaskStatus::verifying, TaskStatus::failed,
                                            TaskStatus::pending, TaskStatus::completed, TaskStatus::skipped}));
    }

    // Each known text parses to the value at its position and writes back unchanged; the others give nothing.
    void rawValues()
    {
        const auto check = [](auto parse, const char *known, const char *unknown) {
            const QStringList texts = QString::fromUtf8(known).split(QLatin1Char('|'));
            for (int i = 0; i < texts.size(); ++i) {
                const auto parsed = parse(texts.at(i));
                QVERIFY2(parsed && int(*parsed) == i && rawValue(*parsed) == texts.at(i), qPrintable(texts.at(i)));
            }
            for (const QString &text : QString::fromUtf8(unknown).split(QLatin1Char('|')))
                QVERIFY2(!parse(text), qPrintable(text));
        };
        check(taskStatusFromRawValue, "待处理|正在转码...|正在校验...|已完成|失败|已跳过", "正在转码\u2026|pending");
        check(conversionModeFromRawValue, "JPEG -> JXL|JXL -> JPEG", "JPEG->JXL|jpeg -> jxl");
        check(deleteStrategyFromRawValue, "keep|trash|delete", "Trash|");
        check(concurrencyModeFromRawValue, "auto|maxPerformance|energySaver|custom", "Custom|autoMode");
    }

    // The jobs at once that each mode takes from the hardware (performance, efficiency -1: no core kinds).
    void concurrency_data()
    {
        for (const char *column : {"total", "performance", "efficiency", "autoJobs", "saverJobs"})
            QTest::addColumn<int>(column);
        const int rows[][5] = {{8, 4, 4, 6, 4},    {10, 8, 2, 9, 2},  {10, 4, 6, 7, 4},  {8, 6, 0, 7, 1},
                               {24, 8, 16, 16, 4}, {2, 4, 4, 2, 4},   {8, -1, -1, 6, 4}, {5, -1, -1, 3, 2},
                               {4, -1, -1, 3, 2},  {2, -1, -1, 1, 1}, {1, -1, -1, 1, 1}, {8, 4, -1, 6, 4}};
        for (const auto &r : rows)
            QTest::addRow("%d = %dP+%dE", r[0], r[1], r[2]) << r[0] << r[1] << r[2] << r[3] << r[4];
    }

    void concurrency()
    {
        QFETCH(int, total);
        QFETCH(int, performance);
        QFETCH(int, efficiency);
        const HardwareInfo hw = HardwareInfo::fromFacts(u"Test CPU"_s, total, optionalCount(performance),
                                                        optionalCount(efficiency));
        AppSettings settings;
        settings.concurrency = 0; // no mode but custom may use the stored number
        settings.concurrencyMode = ConcurrencyMode::autoMode;
        QTEST(settings.effectiveConcurrency(hw), "autoJobs");
        settings.concurrencyMode = ConcurrencyMode::energySaver;
        QTEST(settings.effectiveConcurrency(hw), "saverJobs");
        settings.concurrencyMode = ConcurrencyMode::maxPerformance;
        QCOMPARE(settings.effectiveConcurrency(hw), total);
        settings.concurrencyMode = ConcurrencyMode::custom;
        for (int wanted : {-5, 3, 64}) {
            settings.concurrency = wanted;
            QCOMPARE(settings.effectiveConcurrency(hw), std::clamp(wanted, 1, total));
        }
    }

    void detectFromTree_data()
    {
        QTest::addColumn<Tree>("tree");
        QTest::addColumn<QString>("found"); // chip, then P+E cores
        const QByteArray intel = "processor\t: 0\nmodel name\t: 12th Gen Intel(R) Core(TM) i7-12700 \n\nprocessor\t: 1\n";
        const QStringList hybrid = cores(8, 2, 0) + cores(4, 1, 40); // P cores with two threads each
        const auto row = [&](const char *name, const char *core, const char *atom, const QStringList &topology,
                             const char *kinds, const QByteArray &cpuinfo) {
            Tree tree{{u"proc/cpuinfo"_s, cpuinfo}, {u"sys/devices/cpu_core/cpus"_s, core},
                      {u"sys/devices/cpu_atom/cpus"_s, atom}};
            for (int cpu = 0; cpu < topology.size(); ++cpu) {
                const QString folder = u"sys/devices/system/cpu/cpu%1/topology/"_s.arg(cpu);
                tree[folder + u"physical_package_id"_s] = topology.at(cpu).section(u':', 0, 0).toUtf8() + '\n';
                tree[folder + u"core_id"_s] = topology.at(cpu).section(u':', 1).toUtf8() + '\n';
            }
            const char *chip = cpuinfo == intel ? "12th Gen Intel(R) Core(TM) i7-12700" : "未知处理器";
            QTest::newRow(name) << tree << u"%1: %2"_s.arg(QString::fromUtf8(chip), QLatin1String(kinds));
        };
        row("hybrid, hyper-threaded P", "0-15\n", "16-19\n", hybrid, "8+4", intel);
        row("hybrid, lists with gaps", "0-3,6,7\n", "16,18-19\n", hybrid, "3+3", intel);
        row("not hybrid", nullptr, nullptr, cores(8, 2, 0), "none", intel);
        row("no atom list", "0-15\n", nullptr, hybrid, "none", intel);
        row("both empty", "\n", "\n", hybrid, "none", intel);
        row("atom list empty", "0-11\n", "\n", cores(6, 2, 0), "6+0", intel);
        row("two packages", "0-7\n", "8-9\n", cores(4, 1, 0, 0) + cores(4, 1, 0, 1) + cores(2, 1, 8), "8+2", intel);
        row("blank brand", nullptr, nullptr, {}, "none", "processor\t: 0\nmodel name\t:   \t \n");
        row("no cpuinfo", nullptr, nullptr, {}, "none", QByteArray());
    }

    void detectFromTree()
    {
        QFETCH(Tree, tree);
        QTemporaryDir root;
        for (auto file = tree.cbegin(); file != tree.cend(); ++file) {
            if (!file->isNull() && QDir(root.path()).mkpath(QFileInfo(file.key()).path()))
                TestEnv::writeAll(root.filePath(file.key()), *file);
        }
        const HardwareInfo hw = HardwareDetector::detect(root.path(), 7);
        const QString kinds = hw.performanceCores
            ? u"%1+%2"_s.arg(*hw.performanceCores).arg(hw.efficiencyCores.value_or(-1)) : u"none"_s;
        QTEST(QString(hw.chipName + u": "_s + kinds), "found");
    }

    void settingsJson()
    {
        AppSettings settings;
        settings.concurrency = 6;
        QCOMPARE(encodeSettings(settings),
                 QByteArray(R"({"deleteStrategy":"keep","concurrencyMode":"auto","concurrency":6,)"
                            R"("verifyLossless":false,"compressionEffort":7,"customCjxlPath":"","customDjxlPath":"",)"
                            R"("soundFeedbackEnabled":true,"hapticFeedbackEnabled":true,"autoCheckForUpdates":true,)"
                            R"("customUpdateFeedURL":""})"));
        // Every field off its default, so a value read into the wrong field shows.
        settings.deleteStrategy = DeleteStrategy::moveToTrash;
        settings.concurrencyMode = ConcurrencyMode::custom;
        settings.concurrency = -3;
        settings.verifyLossless = true;
        settings.compressionEffort = 9;
        settings.customCjxlPath = u"/opt/libjxl/bin/cjxl \"nightly\""_s;
        settings.customDjxlPath = u"/home/李/工具\\djxl\ttab"_s;
        settings.soundFeedbackEnabled = settings.autoCheckForUpdates = false;
        settings.customUpdateFeedURL = u"https://example.org/feed.json?a=1&b=é"_s;
        // Key order and layout do not matter on the way in.
        QVERIFY(decodeSettings(QJsonDocument::fromJson(encodeSettings(settings)).toJson()) == settings);

        // Strict: one missing key or wrong type fails the whole record.
        const QJsonObject valid = QJsonDocument::fromJson(encodeSettings(AppSettings())).object();
        std::vector<std::pair<QByteArray, QJsonValue>> changes{
            {"deleteStrategy", u"Trash"_s}, {"deleteStrategy", 1}, {"concurrencyMode", QJsonValue::Null},
            {"concurrencyMode", u"Custom"_s}, {"concurrency", u"6"_s}, {"concurrency", 6.5},
            {"concurrency", 1e12}, {"concurrency", true}, {"verifyLossless", 0}, {"compressionEffort", 7.25},
            {"customCjxlPath", 0}, {"customDjxlPath", QJsonArray()}, {"soundFeedbackEnabled", u"true"_s},
            {"hapticFeedbackEnabled", 1}, {"autoCheckForUpdates", QJsonValue::Null}, {"customUpdateFeedURL", QJsonObject()}};
        for (const QString &key : valid.keys())
            changes.emplace_back(key.toLatin1(), QJsonValue::Undefined); // inserting Undefined removes the key
        QList<QByteArray> rejected{"[]", QByteArray(), encodeSettings(AppSettings()).chopped(1)};
        for (const auto &[key, value] : changes) {
            QJsonObject changed = valid;
            changed.insert(QString::fromLatin1(key), value);
            rejected << QJsonDocument(changed).toJson(QJsonDocument::Compact);
        }
        for (const QByteArray &json : rejected) {
            QString error;
            QVERIFY2(!decodeSettings(json, &error) && !error.isEmpty(), json.constData());
        }
    }

    void formatted()
    {
        // Where the unit or the rounding changes, and the extremes.
        const std::pair<qint64, const char *> rows[] = {
            {0, "0 KB"}, {999, "999 字节"}, {1000, "1 KB"}, {1499, "1 KB"}, {1500, "2 KB"}, {999'500, "1 MB"},
            {1'250'000, "1.3 MB"}, {16'005'000'000, "16.01 GB"}, {999'995'000'000, "1 TB"},
            {std::numeric_limits<qint64>::max(), "9.22 EB"}, {-1500, "-2 KB"}, {std::numeric_limits<qint64>::min(), "-9.22 EB"}};
        for (const auto &[bytes, text] : rows)
            QCOMPARE(formattedBytes(bytes), QString::fromUtf8(text));
    }
};
QTEST_GUILESS_MAIN(TestModel)
#include "tst_model.moc"
