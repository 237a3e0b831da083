// Job records, the settings record and its JSON form, hardware detection, byte formatting.
#include "model/appsettings.h"
#include "model/formattedbytes.h"
#include "model/hardwaredetector.h"
#include "model/taskitem.h"
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

namespace {

std::optional<int> optionalCount(int count) // -1: absent
{
    return count < 0 ? std::nullopt : std::optional<int>(count);
}

HardwareDetector machine(int total, int performance, int efficiency)
{
    return HardwareDetector::fromFacts(QStringLiteral("Test CPU"), total, optionalCount(performance),
                                       optionalCount(efficiency));
}

// Topology entries "package:core" for `count` cores with `threads` logical CPUs each.
QStringList cores(int count, int threads, int firstCoreId, int package = 0)
{
    QStringList cpus;
    for (int core = 0; core < count; ++core) {
        for (int thread = 0; thread < threads; ++thread)
            cpus << QStringLiteral("%1:%2").arg(package).arg(firstCoreId + core);
    }
    return cpus;
}

} // namespace

class TestModel final : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QStandardPaths::setTestModeEnabled(true);
        TestEnv::isolateHome(m_dir.path());
    }

    void taskItemComputedValues_data()
    {
        QTest::addColumn<qint64>("original");
        QTest::addColumn<qint64>("compressed"); // -1: not measured yet
        QTest::addColumn<qint64>("orZero");
        QTest::addColumn<qint64>("saved");
        QTest::addColumn<double>("ratio");
        const auto row = [](const char *name, qint64 original, qint64 compressed, qint64 orZero, qint64 saved,
                            double ratio) { QTest::newRow(name) << original << compressed << orZero << saved << ratio; };
        row("new record", 0, -1, 0, 0, 0.0);
        row("not measured", 5000, -1, 0, 0, 0.0);
        row("smaller output", 1000, 600, 600, 400, 40.0);
        row("larger output", 1000, 1200, 1200, 0, 0.0);
        row("equal size", 1000, 1000, 1000, 0, 0.0);
        row("both zero", 0, 0, 0, 0, 0.0);
        row("empty output", 4, 0, 0, 4, 100.0);
    }

    void taskItemComputedValues()
    {
        QFETCH(qint64, original);
        QFETCH(qint64, compressed);
        TaskItem item;
        item.originalSize = original;
        if (compressed >= 0)
            item.compressedSize = compressed;
        QTEST(item.compressedSizeOrZero(), "orZero");
        QTEST(item.savedBytes(), "saved");
        QTEST(item.savingsRatio(), "ratio");
    }

    void taskItemDefaultsAndIdentity()
    {
        TaskItem item;
        item.sourceURL = QUrl::fromLocalFile(QStringLiteral("/photos/Trip 2024/IMG_0001.JPG"));
        QVERIFY(!item.id.isNull());
        QVERIFY(!item.destinationURL && !item.compressedSize && !item.errorMessage && !item.duration);
        QVERIFY(item.mode == ConversionMode::jpegToJXL && item.status == TaskStatus::pending);
        QVERIFY(item.originalSize == 0 && !item.isVerified);
        QCOMPARE(item.fileName(), QStringLiteral("IMG_0001.JPG"));

        TaskItem copy = item;
        QCOMPARE(copy, item);
        copy.duration = 0.5;
        QVERIFY(!(copy == item));
        TaskItem other;
        other.sourceURL = item.sourceURL;
        QVERIFY(other.id != item.id && !(other == item));
    }

    void statusOrdering()
    {
        const QList<TaskStatus> all{TaskStatus::pending,   TaskStatus::processing, TaskStatus::verifying,
                                    TaskStatus::completed, TaskStatus::failed,     TaskStatus::skipped};
        QList<TaskStatus> sorted = all;
        std::sort(sorted.begin(), sorted.end());
        QCOMPARE(sorted, (QList<TaskStatus>{TaskStatus::processing, TaskStatus::verifying, TaskStatus::failed,
                                            TaskStatus::pending, TaskStatus::completed, TaskStatus::skipped}));
        // Every comparison operator follows the rank, none the declaration order.
        for (TaskStatus a : all) {
            for (TaskStatus b : all) {
                QCOMPARE(a > b, b < a);
                QCOMPARE(a <= b, !(b < a));
                QCOMPARE(a >= b, !(a < b));
            }
        }
    }

    void rawValues_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("raw");
        QTest::addColumn<int>("value"); // -1: the text names no value
        // Each known text gives the value at its position; the others give nothing.
        const auto add = [](const char *kind, const QStringList &known, const QStringList &unknown) {
            for (int i = 0; i < known.size() + unknown.size(); ++i) {
                const QString raw = i < known.size() ? known.at(i) : unknown.at(i - known.size());
                QTest::addRow("%s '%s'", kind, raw.toUtf8().constData())
                    << QString::fromLatin1(kind) << raw << (i < known.size() ? i : -1);
            }
        };
        add("status",
            {QStringLiteral("待处理"), QStringLiteral("正在转码..."), QStringLiteral("正在校验..."),
             QStringLiteral("已完成"), QStringLiteral("失败"), QStringLiteral("已跳过")},
            {QStringLiteral("正在转码\u2026"), QStringLiteral("pending")});
        add("mode", {QStringLiteral("JPEG -> JXL"), QStringLiteral("JXL -> JPEG")},
            {QStringLiteral("JPEG->JXL"), QStringLiteral("jpeg -> jxl")});
        add("strategy", {QStringLiteral("keep"), QStringLiteral("trash"), QStringLiteral("delete")},
            {QStringLiteral("Trash"), QString()});
        add("concurrency",
            {QStringLiteral("auto"), QStringLiteral("maxPerformance"), QStringLiteral("energySaver"),
             QStringLiteral("custom")},
            {QStringLiteral("Custom")});
    }

    void rawValues()
    {
        QFETCH(QString, kind);
        QFETCH(QString, raw);
        QFETCH(int, value);
        // Parse, and when the text is known, write the value back.
        const auto check = [&](auto parsed) {
            QCOMPARE(parsed.has_value(), value >= 0);
            if (parsed) {
                QCOMPARE(int(*parsed), value);
                QCOMPARE(rawValue(*parsed), raw);
            }
        };
        if (kind == QLatin1String("status"))
            check(taskStatusFromRawValue(raw));
        else if (kind == QLatin1String("mode"))
            check(conversionModeFromRawValue(raw));
        else if (kind == QLatin1String("strategy"))
            check(deleteStrategyFromRawValue(raw));
        else
            check(concurrencyModeFromRawValue(raw));
    }

    void shownTexts()
    {
        QCOMPARE(allDeleteStrategies(), (QList<DeleteStrategy>{DeleteStrategy::keepOriginal, DeleteStrategy::moveToTrash,
                                                               DeleteStrategy::deleteImmediately}));
        const QStringList titles{QStringLiteral("保留原始照片"), QStringLiteral("移至废纸篓"), QStringLiteral("永久删除")};
        // Full-width comma and ideographic full stop spelled out, so no look-alike slips in.
        const QStringList descriptions{QStringLiteral("在原文件同目录下输出新照片\uFF0C完整保留原件\u3002"),
                                       QStringLiteral("转码完成后\uFF0C自动将原始照片移入废纸篓\u3002"),
                                       QStringLiteral("转码完成后\uFF0C直接彻底删除原始照片\u3002")};
        for (DeleteStrategy strategy : allDeleteStrategies()) {
            QCOMPARE(title(strategy).toUtf8(), titles.at(int(strategy)).toUtf8());
            QCOMPARE(description(strategy).toUtf8(), descriptions.at(int(strategy)).toUtf8());
        }
        QCOMPARE(allConcurrencyModes(), (QList<ConcurrencyMode>{ConcurrencyMode::autoMode, ConcurrencyMode::maxPerformance,
                                                                ConcurrencyMode::energySaver, ConcurrencyMode::custom}));
        QCOMPARE(title(ConcurrencyMode::autoMode), QStringLiteral("自动"));
        QCOMPARE(title(ConcurrencyMode::maxPerformance), QStringLiteral("最高性能"));
        QCOMPARE(title(ConcurrencyMode::energySaver), QStringLiteral("低功耗"));
        QCOMPARE(title(ConcurrencyMode::custom).toUtf8(), QByteArray("\xE8\x87\xAA\xE5\xAE\x9A\xE2\x80\xA6"));
    }

    // The recommendations, and the jobs at once that each mode takes from them.
    void concurrency_data()
    {
        QTest::addColumn<int>("total");
        QTest::addColumn<int>("performance"); // -1: no core kinds
        QTest::addColumn<int>("efficiency");
        QTest::addColumn<int>("autoJobs");
        QTest::addColumn<int>("saverJobs");
        const auto row = [](const char *name, int total, int p, int e, int autoJobs, int saverJobs) {
            QTest::newRow(name) << total << p << e << autoJobs << saverJobs;
        };
        row("8 = 4P+4E", 8, 4, 4, 6, 4);
        row("10 = 8P+2E", 10, 8, 2, 9, 2);
        row("12 = 8P+4E", 12, 8, 4, 10, 4);
        row("10 = 4P+6E", 10, 4, 6, 7, 4);
        row("8 = 6P+0E", 8, 6, 0, 7, 1);
        row("24 = 8P+16E", 24, 8, 16, 16, 4);
        row("4P+4E, 2 allowed", 2, 4, 4, 2, 4);
        row("plain 8", 8, -1, -1, 6, 4);
        row("plain 5", 5, -1, -1, 3, 2);
        row("plain 4", 4, -1, -1, 3, 2);
        row("plain 2", 2, -1, -1, 1, 1);
        row("plain 1", 1, -1, -1, 1, 1);
        row("only P known", 8, 4, -1, 6, 4);
    }

    void concurrency()
    {
        QFETCH(int, total);
        QFETCH(int, performance);
        QFETCH(int, efficiency);
        QFETCH(int, autoJobs);
        QFETCH(int, saverJobs);
        const HardwareDetector hw = machine(total, performance, efficiency);
        QCOMPARE(hw.performanceCores.has_value(), hw.efficiencyCores.has_value());
        QCOMPARE(hw.recommendedAutoConcurrency(), autoJobs);
        QCOMPARE(hw.recommendedSaverConcurrency(), saverJobs);

        AppSettings settings;
        settings.concurrency = 3;
        settings.concurrencyMode = ConcurrencyMode::autoMode;
        QCOMPARE(settings.effectiveConcurrency(hw), autoJobs);
        settings.concurrencyMode = ConcurrencyMode::maxPerformance;
        QCOMPARE(settings.effectiveConcurrency(hw), total);
        settings.concurrencyMode = ConcurrencyMode::energySaver;
        QCOMPARE(settings.effectiveConcurrency(hw), saverJobs);
        // Custom is clamped to 1…totalCores; the other modes left the stored number alone.
        settings.concurrencyMode = ConcurrencyMode::custom;
        QCOMPARE(settings.concurrency, 3);
        for (int wanted : {-5, 0, 1, 3, 64}) {
            settings.concurrency = wanted;
            QCOMPARE(settings.effectiveConcurrency(hw), std::clamp(wanted, 1, total));
        }
    }

    void detectFromTree_data()
    {
        QTest::addColumn<QByteArray>("cpuinfo");   // null: no /proc/cpuinfo
        QTest::addColumn<QByteArray>("coreList");  // null: no cpu_core folder
        QTest::addColumn<QByteArray>("atomList");  // null: no cpu_atom folder
        QTest::addColumn<QStringList>("topology"); // "package:core" per logical CPU
        QTest::addColumn<QString>("chip");
        QTest::addColumn<int>("performance"); // -1: no core kinds
        QTest::addColumn<int>("efficiency");

        const QByteArray intel = "processor\t: 0\nvendor_id\t: GenuineIntel\n"
                                 "model name\t: 12th Gen Intel(R) Core(TM) i7-12700 \n\nprocessor\t: 1\n";
        const QString intelName = QStringLiteral("12th Gen Intel(R) Core(TM) i7-12700");
        const QStringList hybrid = cores(8, 2, 0) + cores(4, 1, 40); // P cores with two threads each
        const auto row = [&](const char *name, const char *core, const char *atom, const QStringList &topology,
                             int p, int e) {
            QTest::newRow(name) << intel << QByteArray(core) << QByteArray(atom) << topology << intelName << p << e;
        };
        row("hybrid, hyper-threaded P", "0-15\n", "16-19\n", hybrid, 8, 4);
        row("hybrid, lists with gaps", "0-3,6,7\n", "16,18-19\n", hybrid, 3, 3);
        row("not hybrid", nullptr, nullptr, cores(8, 2, 0), -1, -1);
        row("no atom list", "0-15\n", nullptr, hybrid, -1, -1);
        row("no core list", nullptr, "16-19\n", hybrid, -1, -1);
        row("both empty", "\n", "\n", hybrid, -1, -1);
        row("atom list empty", "0-11\n", "\n", cores(6, 2, 0), 6, 0);
        row("two packages, same core ids", "0-7\n", "8-9\n", cores(4, 1, 0, 0) + cores(4, 1, 0, 1) + cores(2, 1, 8),
            8, 2);

        const auto brand = [](const char *name, const QByteArray &cpuinfo, const QString &chip) {
            QTest::newRow(name) << cpuinfo << QByteArray() << QByteArray() << QStringList() << chip << -1 << -1;
        };
        const QString fallback = QStringLiteral("Apple Silicon");
        brand("plain brand", "model name : AMD Ryzen 7 5800X\n", QStringLiteral("AMD Ryzen 7 5800X"));
        brand("blank brand", "processor\t: 0\nmodel name\t:   \t \n", fallback);
        brand("no brand line", "processor\t: 0\nBogoMIPS\t: 48.00\n", fallback);
        brand("no cpuinfo", QByteArray(), fallback);
    }

    void detectFromTree()
    {
        QFETCH(QByteArray, cpuinfo);
        QFETCH(QByteArray, coreList);
        QFETCH(QByteArray, atomList);
        QFETCH(QStringList, topology);

        QTemporaryDir root;
        QVERIFY(root.isValid());
        const auto write = [&root](const QString &relative, const QByteArray &data) {
            if (data.isNull())
                return;
            QVERIFY(QDir(root.path()).mkpath(QFileInfo(relative).path()));
            TestEnv::writeAll(root.filePath(relative), data);
        };
        write(QStringLiteral("proc/cpuinfo"), cpuinfo);
        write(QStringLiteral("sys/devices/cpu_core/cpus"), coreList);
        write(QStringLiteral("sys/devices/cpu_atom/cpus"), atomList);
        for (int cpu = 0; cpu < topology.size(); ++cpu) {
            const QString folder = QStringLiteral("sys/devices/system/cpu/cpu%1/topology/").arg(cpu);
            const QStringList ids = topology.at(cpu).split(QLatin1Char(':'));
            write(folder + QStringLiteral("physical_package_id"), ids.at(0).toUtf8() + '\n');
            write(folder + QStringLiteral("core_id"), ids.at(1).toUtf8() + '\n');
        }

        const HardwareDetector hw = HardwareDetector::detect(root.path(), 7);
        QTEST(hw.chipName, "chip");
        QCOMPARE(hw.totalCores, 7);
        QTEST(hw.performanceCores.value_or(-1), "performance");
        QTEST(hw.efficiencyCores.value_or(-1), "efficiency");
    }

    void encodeDefaultRecord()
    {
        AppSettings settings;
        QCOMPARE(settings.concurrency, HardwareDetector::shared().recommendedAutoConcurrency());
        settings.concurrency = machine(8, 4, 4).recommendedAutoConcurrency();
        QCOMPARE(encodeSettings(settings),
                 QByteArray(R"({"deleteStrategy":"keep","concurrencyMode":"auto","concurrency":6,)"
                            R"("verifyLossless":false,"compressionEffort":7,"customCjxlPath":"","customDjxlPath":"",)"
                            R"("soundFeedbackEnabled":true,"hapticFeedbackEnabled":true,"autoCheckForUpdates":true,)"
                            R"("customUpdateFeedURL":""})"));
    }

    void roundTrip()
    {
        AppSettings settings;
        settings.deleteStrategy = DeleteStrategy::moveToTrash;
        settings.concurrencyMode = ConcurrencyMode::custom;
        settings.concurrency = -3;
        settings.verifyLossless = true;
        settings.compressionEffort = 9;
        settings.customCjxlPath = QStringLiteral("/opt/libjxl/bin/cjxl \"nightly\"");
        settings.customDjxlPath = QStringLiteral("/home/李/工具\\djxl\ttab");
        settings.soundFeedbackEnabled = settings.hapticFeedbackEnabled = settings.autoCheckForUpdates = false;
        settings.customUpdateFeedURL = QStringLiteral("https://example.org/feed.json?a=1&b=é");

        QString error;
        const std::optional<AppSettings> decoded = decodeSettings(encodeSettings(settings), &error);
        QVERIFY2(decoded, qPrintable(error));
        QVERIFY(*decoded == settings);
        // Key order and layout do not matter on the way in.
        const QByteArray indented = QJsonDocument(QJsonDocument::fromJson(encodeSettings(settings)).object()).toJson();
        QVERIFY(decodeSettings(indented) == decoded);
    }

    void decodeRejects_data()
    {
        QTest::addColumn<QByteArray>("json");
        const QJsonObject valid = QJsonDocument::fromJson(encodeSettings(AppSettings())).object();
        QCOMPARE(valid.size(), 11);
        QVERIFY(decodeSettings(QJsonDocument(valid).toJson()));
        for (const QString &key : valid.keys()) {
            QJsonObject missing = valid;
            missing.remove(key);
            QTest::addRow("without %s", qPrintable(key)) << QJsonDocument(missing).toJson();
        }
        const std::pair<const char *, QJsonValue> wrong[] = {
            {"deleteStrategy", QStringLiteral("Trash")}, {"deleteStrategy", 1},
            {"concurrencyMode", QStringLiteral("Custom")}, {"concurrencyMode", QJsonValue::Null},
            {"concurrency", QStringLiteral("6")}, {"concurrency", 6.5}, {"concurrency", 1e12}, {"concurrency", true},
            {"verifyLossless", 0}, {"verifyLossless", QStringLiteral("false")},
            {"compressionEffort", 7.25}, {"compressionEffort", QJsonValue::Null},
            {"customCjxlPath", 0}, {"customDjxlPath", QJsonArray()}, {"soundFeedbackEnabled", QStringLiteral("true")},
            {"hapticFeedbackEnabled", 1}, {"autoCheckForUpdates", QJsonValue::Null},
            {"customUpdateFeedURL", QJsonObject()}};
        for (const auto &[key, value] : wrong) {
            QJsonObject changed = valid;
            changed.insert(QLatin1String(key), value);
            const QByteArray shown = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
            QTest::addRow("%s = %s", key, shown.constData()) << QJsonDocument(changed).toJson();
        }
        QTest::newRow("array document") << QByteArray("[]");
        QTest::newRow("string document") << QByteArray("\"auto\"");
        QTest::newRow("empty input") << QByteArray();
        QTest::newRow("truncated") << encodeSettings(AppSettings()).chopped(1);
    }

    void decodeRejects()
    {
        QFETCH(QByteArray, json);
        QString error;
        QVERIFY(!decodeSettings(json, &error));
        QVERIFY(!error.isEmpty());
    }

    void formatted_data()
    {
        QTest::addColumn<qint64>("bytes");
        QTest::addColumn<QString>("text");
        const std::pair<qint64, const char *> rows[] = {
            {0, "0 KB"}, {1, "1 字节"}, {999, "999 字节"}, {1000, "1 KB"}, {1499, "1 KB"}, {1500, "2 KB"},
            {999'499, "999 KB"}, {999'500, "1 MB"}, {999'999, "1 MB"}, {1'000'000, "1 MB"}, {1'050'000, "1.1 MB"},
            {1'250'000, "1.3 MB"}, {123'456'789, "123.5 MB"}, {1'000'000'000, "1 GB"}, {1'230'000'000, "1.23 GB"},
            {16'005'000'000, "16.01 GB"}, {999'994'999'999, "999.99 GB"}, {999'995'000'000, "1 TB"},
            {1'500'000'000'000, "1.5 TB"}, {2'000'000'000'000'000, "2 PB"},
            {std::numeric_limits<qint64>::max(), "9.22 EB"}, {-999, "-999 字节"}, {-1500, "-2 KB"},
            {std::numeric_limits<qint64>::min(), "-9.22 EB"}};
        for (const auto &[bytes, text] : rows)
            QTest::addRow("%lld", static_cast<long long>(bytes)) << bytes << QString::fromUtf8(text);
    }

    void formatted()
    {
        QFETCH(qint64, bytes);
        QTEST(formattedBytes(bytes), "text");
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestModel)
#include "tst_model.moc"
