#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include "testenv.h"

#include <functional>

using namespace Qt::StringLiterals;

// The source tree's shape: files that include each other cannot be understood or tested apart,
// and the core library must build without widgets for the command line and the tests.
namespace {

// A header and its implementation are one unit: "engine/verifier" stands for both.
using Graph = QHash<QString, QSet<QString>>;

QString unitOf(const QString &relativePath)
{
    return relativePath.left(relativePath.lastIndexOf(u'.'));
}

// Quoted includes of every file under root, resolved against the including file's folder
// first and root second; includes that resolve to neither are outside the tree.
Graph includeGraph(const QString &root, QHash<QString, QStringList> *systemIncludes = nullptr)
{
    static const QRegularExpression include(u"^\\s*#\\s*include\\s*([\"<])([^\">]+)[\">]"_s);
    const QDir rootDir(root);
    Graph graph;
    QDirIterator it(root, {u"*.h"_s, u"*.cpp"_s}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString relative = rootDir.relativeFilePath(path);
        const QString unit = unitOf(relative);
        graph[unit];
        const QString folder = QFileInfo(path).absolutePath();
        for (const QByteArray &line : TestEnv::readAll(path).split('\n')) {
            const QRegularExpressionMatch match = include.match(QString::fromUtf8(line));
            const QString name = match.captured(2);
            if (match.captured(1) == u"<" && systemIncludes)
                (*systemIncludes)[relative].append(name);
            if (match.captured(1) != u"\"")
                continue;
            QString target;
            if (QFileInfo::exists(folder + u'/' + name))
                target = rootDir.relativeFilePath(QDir::cleanPath(folder + u'/' + name));
            else if (QFileInfo::exists(root + u'/' + name))
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
                return (stack.mid(stack.indexOf(target)) << target).join(u" -> "_s);
            if (const QString cycle = marks.value(target) == Mark::none ? visit(target) : QString(); !cycle.isEmpty())
                return cycle;
        }
        stack.removeLast();
        marks[unit] = Mark::done;
        return {};
    };
    QStringList units = graph.keys();
    units.sort();
    for (const QString &unit : units) {
        if (const QString cycle = marks.value(unit) == Mark::none ? visit(unit) : QString(); !cycle.isEmpty())
            return cycle;
    }
    return {};
}

// The layers, lowest first: a folder may include its own units and those of lower layers only.
// Folders on one layer stand beside each other and include neither. platform is the bottom:
// Linux services that know nothing of ours (the processor record lives there too). integration
// (file managers, update check) uses only platform and serves app and the front ends, as
// imaging (photos to pictures) serves the window and the thumbnailer.
int layerOf(const QString &unit)
{
    static const QStringList layers{u"platform"_s, u"model"_s, u"engine integration imaging"_s, u"app"_s, u"ui cli thumbnailer"_s};
    for (qsizetype layer = 0; layer < layers.size(); ++layer) {
        if (layers.at(layer).split(u' ').contains(unit.section(u'/', 0, 0)))
            return int(layer);
    }
    return -1; // outside the layers (src/version.h.in, say)
}

// Includes that reach up or sideways, as "engine/a includes app/b", sorted.
QStringList layerFaults(const Graph &graph)
{
    QStringList faults;
    for (auto it = graph.cbegin(); it != graph.cend(); ++it) {
        const int from = layerOf(it.key());
        for (const QString &target : it.value()) {
            const int to = layerOf(target);
            const bool sameFolder = it.key().section(u'/', 0, 0) == target.section(u'/', 0, 0);
            if (from >= 0 && to >= 0 && !sameFolder && to >= from)
                faults << it.key() + u" includes "_s + target;
        }
    }
    faults.sort();
    return faults;
}

} // namespace

class TestSourceLayout final : public QObject
{
    Q_OBJECT

private slots:
    // The checker itself, on a small tree: a check that finds nothing proves nothing unless it
    // is seen to find something.
    void findsCyclesAndIncludesAgainstTheLayers()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const auto write = [&dir](const char *path, const QByteArray &text) { TestEnv::writeAll(dir.filePath(QLatin1String(path)), text); };
        write("model/m.h", "#pragma once\n#include \"platform/p.h\"\n");
        write("platform/p.h", "#pragma once\n");
        write("engine/e.cpp", "#include \"e.h\"\n#include \"model/m.h\"\n#include \"app/a.h\"\n#include \"missing.h\"\n");
        write("engine/e.h", "#pragma once\n#include <QString>\n");
        write("integration/i.cpp", "#include \"../engine/e.h\"\n");
        write("app/a.h", "#pragma once\n#include \"engine/e.h\"\n");
        QCOMPARE(layerFaults(includeGraph(dir.path())), (QStringList{u"engine/e includes app/a"_s, u"integration/i includes engine/e"_s}));
        QCOMPARE(findCycle(includeGraph(dir.path())), u"app/a -> engine/e -> app/a"_s);
        write("app/a.h", "#pragma once\n");
        QCOMPARE(findCycle(includeGraph(dir.path())), QString());
    }

    // Folders include their own layer's units and lower ones' only, no unit includes itself through
    // others, the core library (which the command line and the tests link) stays free of widgets,
    // and widgets are handed the services they use: only the window's assembly knows the root.
    void sourceTreeKeepsItsShape()
    {
        QHash<QString, QStringList> systemIncludes;
        const Graph graph = includeGraph(QStringLiteral(PIKORA_SOURCE_DIR "/src"), &systemIncludes);
        QVERIFY2(graph.size() > 50, "the source tree was not found");
        QStringList faults = layerFaults(graph);
        if (const QString cycle = findCycle(graph); !cycle.isEmpty())
            faults << u"include cycle: "_s + cycle;
        static const QRegularExpression core(u"^(model|engine|app|integration|platform)/"_s);
        for (auto it = graph.cbegin(); it != graph.cend(); ++it) {
            for (const QString &target : it.value()) {
                if (it.key().contains(core) && !target.contains(core))
                    faults << it.key() + u" includes "_s + target;
            }
            if (it.key().startsWith(u"ui/"_s) && it.value().contains(u"app/appstate"_s) && it.key() != u"ui/main"_s
                && it.key() != u"ui/mainwindow"_s)
                faults << it.key() + u" includes app/appstate"_s;
        }
        for (auto it = systemIncludes.cbegin(); it != systemIncludes.cend(); ++it) {
            for (const QString &header : it.value()) {
                if (it.key().contains(core)
                    && (header.startsWith(u"QtWidgets"_s) || header == u"QWidget"_s || header == u"QApplication"_s))
                    faults << it.key() + u" includes <"_s + header + u'>';
            }
        }
        faults.sort();
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(u'\n')));
    }
};

QTEST_GUILESS_MAIN(TestSourceLayout)
#include "tst_sourcelayout.moc"
