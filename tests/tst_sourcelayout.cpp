#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <functional>

// The source tree's shape: files that include each other cannot be understood or tested apart,
// and the core library must build without widgets for the command line and the tests.
namespace {

// A header and its implementation are one unit: "engine/verifier" stands for both.
using Graph = QHash<QString, QSet<QString>>;

QString unitOf(const QString &relativePath)
{
    const qsizetype dot = relativePath.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? relativePath : relativePath.left(dot);
}

// Quoted includes of every file under root, resolved against the including file's folder
// first and root second; includes that resolve to neither are outside the tree.
Graph includeGraph(const QString &root, QHash<QString, QStringList> *systemIncludes = nullptr)
{
    static const QRegularExpression quoted(QStringLiteral("^\\s*#\\s*include\\s*\"([^\"]+)\""));
    static const QRegularExpression angled(QStringLiteral("^\\s*#\\s*include\\s*<([^>]+)>"));
    const QDir rootDir(root);
    Graph graph;
    QDirIterator it(root, {QStringLiteral("*.h"), QStringLiteral("*.cpp")}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = rootDir.relativeFilePath(path);
        const QString unit = unitOf(relative);
        graph[unit];
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QString folder = QFileInfo(path).absolutePath();
        for (const QByteArray &raw : file.readAll().split('\n')) {
            const QString line = QString::fromUtf8(raw);
            if (const auto match = angled.match(line); match.hasMatch() && systemIncludes)
                (*systemIncludes)[relative].append(match.captured(1));
            const auto match = quoted.match(line);
            if (!match.hasMatch())
                continue;
            const QString name = match.captured(1);
            QString target;
            if (QFileInfo::exists(folder + QLatin1Char('/') + name))
                target = rootDir.relativeFilePath(QDir::cleanPath(folder + QLatin1Char('/') + name));
            else if (QFileInfo::exists(root + QLatin1Char('/') + name))
                target = QDir::cleanPath(name);
            if (!target.isEmpty() && unitOf(target) != unit)
                graph[unit].insert(unitOf(target));
        }
    }
    return graph;
}

// One cycle as "a -> b -> a", or empty when the graph has none.
QString findCycle(const Graph &graph)
{
    enum class Mark { none, open, done };
    QHash<QString, Mark> marks;
    QStringList stack;
    std::function<QString(const QString &)> visit = [&](const QString &unit) -> QString {
        marks[unit] = Mark::open;
        stack.append(unit);
        QStringList next = graph.value(unit).values();
        next.sort();
        for (const QString &target : next) {
            if (marks.value(target) == Mark::open)
                return (stack.mid(stack.indexOf(target)) << target).join(QStringLiteral(" -> "));
            if (marks.value(target) == Mark::none) {
                if (const QString cycle = visit(target); !cycle.isEmpty())
                    return cycle;
            }
        }
        stack.removeLast();
        marks[unit] = Mark::done;
        return {};
    };
    QStringList units = graph.keys();
    units.sort();
    for (const QString &unit : units) {
        if (marks.value(unit) == Mark::none) {
            if (const QString cycle = visit(unit); !cycle.isEmpty())
                return cycle;
        }
    }
    return {};
}

// The layers, lowest first: a folder may include its own units and those of lower layers only.
// Folders on one layer stand beside each other and include neither. platform is the bottom:
// Linux services that know nothing of ours (the processor record lives there too). integration
// (file managers, update check) uses only platform and serves app and the front ends, as
// imaging (photos to pictures) serves the window and the thumbnailer.
const QList<QStringList> kLayers = {
    {QStringLiteral("platform")},
    {QStringLiteral("model")},
    {QStringLiteral("engine"), QStringLiteral("integration"), QStringLiteral("imaging")},
    {QStringLiteral("app")},
    {QStringLiteral("ui"), QStringLiteral("cli"), QStringLiteral("thumbnailer")},
};

// The layer of a unit's folder; -1 for a file outside the layers (src/version.h.in, say).
int layerOf(const QString &unit)
{
    const QString folder = unit.section(QLatin1Char('/'), 0, 0);
    for (qsizetype layer = 0; layer < kLayers.size(); ++layer) {
        if (kLayers.at(layer).contains(folder))
            return int(layer);
    }
    return -1;
}

// Includes that reach up or sideways, as "engine/a includes app/b", sorted.
QStringList layerFaults(const Graph &graph)
{
    QStringList faults;
    for (auto it = graph.cbegin(); it != graph.cend(); ++it) {
        const int from = layerOf(it.key());
        for (const QString &target : it.value()) {
            const int to = layerOf(target);
            const bool sameFolder = it.key().section(QLatin1Char('/'), 0, 0) == target.section(QLatin1Char('/'), 0, 0);
            if (from >= 0 && to >= 0 && !sameFolder && to >= from)
                faults << it.key() + QStringLiteral(" includes ") + target;
        }
    }
    faults.sort();
    return faults;
}

void writeFile(const QString &path, const QByteArray &text)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text);
}

} // namespace

class TestSourceLayout final : public QObject
{
    Q_OBJECT

    const QString m_src = QStringLiteral(PIKORA_SOURCE_DIR "/src");

private slots:
    // The checker itself, on small trees: a check that finds nothing proves nothing unless it
    // is seen to find something.
    void findsCyclesBetweenUnits()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        writeFile(dir.filePath(QStringLiteral("engine/a.h")), "#pragma once\n");
        writeFile(dir.filePath(QStringLiteral("engine/a.cpp")), "#include \"a.h\"\n#include \"b.h\"\n");
        writeFile(dir.filePath(QStringLiteral("engine/b.h")), "#pragma once\n#include <QString>\n");
        writeFile(dir.filePath(QStringLiteral("engine/b.cpp")), "#include \"b.h\"\n#include \"engine/a.h\"\n");
        QCOMPARE(findCycle(includeGraph(dir.path())), QStringLiteral("engine/a -> engine/b -> engine/a"));

        writeFile(dir.filePath(QStringLiteral("engine/b.cpp")), "#include \"b.h\"\n#include \"missing.h\"\n");
        QCOMPARE(findCycle(includeGraph(dir.path())), QString());
    }

    void findsIncludesAgainstTheLayers()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        writeFile(dir.filePath(QStringLiteral("model/m.h")), "#pragma once\n#include \"platform/p.h\"\n");
        writeFile(dir.filePath(QStringLiteral("platform/p.h")), "#pragma once\n");
        writeFile(dir.filePath(QStringLiteral("engine/e.cpp")), "#include \"model/m.h\"\n#include \"app/a.h\"\n");
        writeFile(dir.filePath(QStringLiteral("integration/i.cpp")), "#include \"../engine/e.h\"\n");
        writeFile(dir.filePath(QStringLiteral("engine/e.h")), "#pragma once\n");
        writeFile(dir.filePath(QStringLiteral("app/a.h")), "#pragma once\n#include \"engine/e.h\"\n");
        QCOMPARE(layerFaults(includeGraph(dir.path())),
                 (QStringList{QStringLiteral("engine/e includes app/a"), QStringLiteral("integration/i includes engine/e")}));
    }

    void sourceTreeKeepsItsLayers()
    {
        const Graph graph = includeGraph(m_src);
        QVERIFY2(graph.size() > 50, "the source tree was not found");
        const QStringList faults = layerFaults(graph);
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    }

    // Widgets are handed the services they use: only the window's assembly knows the root.
    void onlyTheWindowsAssemblyKnowsTheRoot()
    {
        const Graph graph = includeGraph(m_src);
        QStringList faults;
        for (auto it = graph.cbegin(); it != graph.cend(); ++it) {
            if (it.key().startsWith(QLatin1String("ui/")) && it.value().contains(QStringLiteral("app/appstate"))
                && it.key() != QLatin1String("ui/main") && it.key() != QLatin1String("ui/mainwindow"))
                faults << it.key();
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    }

    void sourceTreeHasNoIncludeCycle()
    {
        const Graph graph = includeGraph(m_src);
        QVERIFY2(graph.size() > 50, "the source tree was not found");
        const QString cycle = findCycle(graph);
        QVERIFY2(cycle.isEmpty(), qPrintable(QStringLiteral("include cycle: ") + cycle));
    }

    // The command line and the tests link the core without widgets.
    void coreLibraryStaysFreeOfWidgets()
    {
        QHash<QString, QStringList> systemIncludes;
        const Graph graph = includeGraph(m_src, &systemIncludes);
        static const QStringList coreFolders = {QStringLiteral("model/"), QStringLiteral("engine/"), QStringLiteral("app/"),
                                                QStringLiteral("integration/"), QStringLiteral("platform/")};
        const auto inCore = [](const QString &unit) {
            return std::any_of(coreFolders.cbegin(), coreFolders.cend(), [&](const QString &f) { return unit.startsWith(f); });
        };
        QStringList faults;
        for (auto it = graph.cbegin(); it != graph.cend(); ++it) {
            if (!inCore(it.key()))
                continue;
            for (const QString &target : it.value()) {
                if (!inCore(target))
                    faults << it.key() + QStringLiteral(" includes ") + target;
            }
        }
        for (auto it = systemIncludes.cbegin(); it != systemIncludes.cend(); ++it) {
            if (!inCore(it.key()))
                continue;
            for (const QString &header : it.value()) {
                if (header.startsWith(QStringLiteral("QtWidgets")) || header == QStringLiteral("QWidget")
                    || header == QStringLiteral("QApplication"))
                    faults << it.key() + QStringLiteral(" includes <") + header + QLatin1Char('>');
            }
        }
        faults.sort();
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QLatin1Char('\n'))));
    }
};

QTEST_GUILESS_MAIN(TestSourceLayout)
#include "tst_sourcelayout.moc"
