#include "folderwatch.h"

#include "engine/filescanner.h"
#include "platform/mountwatcher.h"
#include "settlequeue.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <iterator>
#include <utility>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>

namespace {

constexpr quint32 kFolderMask = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE | IN_MODIFY
    | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// On the nearest folder that is still there of a root that went away.
constexpr quint32 kHunterMask = IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// The clock the kernel stamps file times with: a file written after a look began is stamped no
// earlier than the look's start on it, so a look for changes since then misses none.
qint64 wallNs()
{
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

bool isHidden(const QString &name)
{
    return name.startsWith(u'.');
}

} // namespace

FolderWatch::FolderWatch(const QStringList &roots, const Options &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_inotify(new InotifyWatcher(options.maxWatches, this))
    , m_settle(new SettleQueue(options.settleMs, this))
{
    for (const QString &root : roots) {
        Root entry;
        entry.path = root;
        m_roots.append(entry);
    }
    m_rescanTimer.setInterval(int(std::clamp<qint64>(options.rescanMs, 1, 24 * 3600 * 1000)));
    // Placed as a scan of the roots places it: under the deepest root that holds it.
    connect(m_settle, &SettleQueue::settled, this, [this](const QString &path, const FileIdentity &identity) {
        Q_EMIT ready(path, rootOf(path), identity);
    });
    connect(&m_rescanTimer, &QTimer::timeout, this, &FolderWatch::rescan);
    connect(m_inotify, &InotifyWatcher::eventsRead, this, &FolderWatch::onEvents);
    connect(new MountWatcher(this), &MountWatcher::changed, this, &FolderWatch::onMountsChanged);
}

FolderWatch::~FolderWatch() = default;

int FolderWatch::error() const
{
    return m_inotify->error();
}

void FolderWatch::start()
{
    m_lastReadNs = wallNs();
    for (int i = 0; i < m_roots.size(); ++i) {
        if (QFileInfo(m_roots.at(i).path).isDir())
            watchTree(m_roots.at(i).path, i, false);
        else
            loseRoot(i, false);
    }
}

QString FolderWatch::rootOf(const QString &path) const
{
    const int index = rootIndexOf(path);
    return index < 0 ? QString() : m_roots.at(index).path;
}

int FolderWatch::rootIndexOf(const QString &path) const
{
    // The deepest root that holds it, should one root lie inside another.
    int best = -1;
    for (int i = 0; i < m_roots.size(); ++i) {
        const QString &root = m_roots.at(i).path;
        const bool inside = path == root || path.startsWith(root.endsWith(u'/') ? root : root + u'/');
        if (inside && (best < 0 || root.size() > m_roots.at(best).path.size()))
            best = i;
    }
    return best;
}

bool FolderWatch::isCandidateName(const QString &name)
{
    static const QStringList temporary{QStringLiteral("~"), QStringLiteral(".tmp"), QStringLiteral(".part"),
                                       QStringLiteral(".crdownload"), QStringLiteral(".partial")};
    if (isHidden(name))
        return false; // dot files, and our own temporaries and set-aside originals
    for (const QString &suffix : temporary) {
        if (name.endsWith(suffix, Qt::CaseInsensitive))
            return false;
    }
    return FileScanner::jpegExtensions().contains(QFileInfo(name).suffix());
}

bool FolderWatch::isRecent(const QString &path) const
{
    const std::optional<FileIdentity> file = FileIdentity::ofRegularFile(QFile::encodeName(path));
    return file && file->modifiedNs > file->takenNs - m_options.settleMs * 1'000'000;
}

void FolderWatch::expect(const QString &path)
{
    const int root = rootIndexOf(path);
    if (root >= 0 && !m_settle->contains(path))
        m_settle->arm(path, false);
}

void FolderWatch::forget(const QString &path)
{
    m_settle->remove(path);
}

void FolderWatch::setFailed(const FileIdentity &identity)
{
    m_settle->setFailed(identity);
}

void FolderWatch::onEvents(const QList<InotifyWatcher::Event> &events)
{
    const qint64 previousRead = std::exchange(m_lastReadNs, wallNs());
    for (const InotifyWatcher::Event &event : events) {
        if (event.mask & IN_Q_OVERFLOW) {
            // Events were lost: every folder is looked at for what changed since the last read.
            const QList<Folder> folders = m_folders.values();
            for (const Folder &folder : folders)
                lookAt(folder.path, folder.root, previousRead);
            continue;
        }
        const auto folder = m_folders.constFind(event.watch);
        if (folder != m_folders.cend())
            onFolderEvent(Folder(*folder), event); // a copy: the handling may unwatch it
        else if (m_hunters.contains(event.watch))
            onHunterEvent(event.watch, event);
    }
}

void FolderWatch::onFolderEvent(const Folder &folder, const InotifyWatcher::Event &event)
{
    const int rootIndex = folder.root;
    const bool isRoot = folder.path == m_roots.at(rootIndex).path;
    if (event.name.isEmpty()) { // the folder itself
        if (isRoot && (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT | IN_IGNORED))) {
            loseRoot(rootIndex, event.mask & IN_UNMOUNT);
        } else if (event.mask & IN_UNMOUNT) {
            // Its disk went: the folder it was mounted on shows again, and may get another disk.
            unwatchTree(folder.path);
            if (QFileInfo(folder.path).isDir())
                watchTree(folder.path, rootIndex, true);
        } else if (event.mask & (IN_DELETE_SELF | IN_IGNORED)) {
            unwatchTree(folder.path);
        }
        return;
    }
    if (!FileScanner::isRepresentable(event.name))
        return; // such a name cannot be handed over safely; a scan reports it
    const QString name = QFile::decodeName(event.name);
    const QString path = folder.path + u'/' + name;
    if (event.mask & IN_ISDIR) {
        if (event.mask & (IN_CREATE | IN_MOVED_TO)) {
            for (int i = 0; i < m_roots.size(); ++i) {
                if (m_roots.at(i).lost && m_roots.at(i).awaited == path)
                    hunt(i);
            }
            if (!isHidden(name) && !m_watchOf.contains(path) && !m_unwatched.contains(path))
                watchTree(path, rootIndex, true);
        } else if (event.mask & (IN_DELETE | IN_MOVED_FROM)) {
            unwatchTree(path);
        }
        return;
    }
    if (event.mask & (IN_DELETE | IN_MOVED_FROM)) {
        m_settle->remove(path);
        return;
    }
    if (!isCandidateName(name))
        return;
    if (event.mask & (IN_CLOSE_WRITE | IN_MOVED_TO)) {
        m_settle->arm(path, true);
    } else if (event.mask & IN_MODIFY) {
        m_settle->touch(path);
    } else if ((event.mask & IN_CREATE) && !m_settle->contains(path)) {
        // A name given to a file already written (a hard link, or a file written unnamed and
        // then linked in, as Qt's copies are) brings no close: like one found by a look, it has
        // to stay unchanged over a whole wait. A file just opened to be written is still empty.
        const std::optional<FileIdentity> file = FileIdentity::ofRegularFile(QFile::encodeName(path));
        if (file && file->size > 0)
            m_settle->arm(path, false);
    }
}

void FolderWatch::onHunterEvent(int watch, const InotifyWatcher::Event &event)
{
    const QList<int> roots = m_hunters.values(watch);
    if (event.name.isEmpty()) { // the ancestor itself went: look further up
        if (event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
            for (int root : roots)
                hunt(root);
        }
        return;
    }
    const QString created = QFileInfo(m_roots.at(roots.value(0)).awaited).path() + u'/'
        + QFile::decodeName(event.name);
    for (int root : roots) {
        if (m_roots.at(root).awaited == created)
            hunt(root);
    }
}

void FolderWatch::watchTree(const QString &top, int root, bool announce)
{
    QStringList stack{top};
    while (!stack.isEmpty()) {
        const QString folder = stack.takeLast();
        const bool isRoot = folder == m_roots.at(root).path;
        // A root may be a link to a folder; below it links are not followed, as a scan does not.
        const int watch = m_inotify->addWatch(QFile::encodeName(folder), kFolderMask | (isRoot ? 0 : IN_DONT_FOLLOW));
        if (watch >= 0) {
            if (m_folders.contains(watch))
                continue; // watched already, through another root
            struct stat info = {};
            ::stat(QFile::encodeName(folder).constData(), &info);
            m_folders.insert(watch, Folder{folder, root, quint64(info.st_dev), quint64(info.st_ino)});
            m_watchOf.insert(folder, watch);
        } else if (watch == -ENOSPC) {
            m_unwatched.insert(folder, Unwatched{root, wallNs(), {}});
            m_limitMet = true;
        } else {
            continue; // not a folder (any more), or closed to us: a scan says so
        }
        const QStringList subfolders = QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
        for (const QString &name : subfolders)
            stack.append(folder + u'/' + name);
    }
    warnLimit();
    updateRescanTimer();
    if (announce)
        Q_EMIT folderAppeared(top, m_roots.at(root).path);
}

void FolderWatch::unwatchTree(const QString &top)
{
    const QString below = top + u'/';
    for (auto it = m_watchOf.begin(); it != m_watchOf.end();) {
        if (it.key() == top || it.key().startsWith(below)) {
            m_inotify->removeWatch(it.value());
            m_folders.remove(it.value());
            it = m_watchOf.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = m_unwatched.begin(); it != m_unwatched.end();)
        it = it.key() == top || it.key().startsWith(below) ? m_unwatched.erase(it) : std::next(it);
    updateRescanTimer();
}

QHash<QString, qint64> FolderWatch::lookAt(const QString &folder, int root, qint64 sinceNs,
                                           const QHash<QString, qint64> &skip)
{
    QHash<QString, qint64> armed;
    const QFileInfoList entries =
        QDir(folder).entryInfoList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QFileInfo &entry : entries) {
        const QString path = entry.absoluteFilePath();
        if (entry.isDir()) {
            if (!m_watchOf.contains(path) && !m_unwatched.contains(path))
                watchTree(path, root, true);
            continue;
        }
        if (!isCandidateName(entry.fileName()) || m_settle->contains(path))
            continue;
        const std::optional<FileIdentity> file = FileIdentity::ofRegularFile(QFile::encodeName(path));
        const qint64 stamp = file ? std::max(file->modifiedNs, file->changedNs) : 0;
        if (file && stamp >= sinceNs && skip.value(path, -1) != stamp) {
            m_settle->arm(path, false);
            armed.insert(path, stamp);
        }
    }
    return armed;
}

void FolderWatch::loseRoot(int root, bool unmounted)
{
    Root &lost = m_roots[root];
    if (lost.lost)
        return;
    unwatchTree(lost.path);
    lost.lost = true;
    lost.unmounted = unmounted;
    struct stat info;
    // An unmounted disk leaves its empty mount point: the root is back when another volume is there.
    lost.goneDevice = unmounted && ::stat(QFile::encodeName(lost.path).constData(), &info) == 0 ? quint64(info.st_dev) : 0;
    Q_EMIT rootLost(lost.path);
    hunt(root);
    updateRescanTimer();
}

bool FolderWatch::isBack(const Root &root) const
{
    struct stat info;
    if (::stat(QFile::encodeName(root.path).constData(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    return !root.unmounted || root.goneDevice == 0 || quint64(info.st_dev) != root.goneDevice;
}

void FolderWatch::hunt(int root)
{
    Root &lost = m_roots[root];
    for (;;) {
        dropHunter(root);
        if (!lost.lost)
            return;
        if (isBack(lost)) {
            lost.lost = false;
            lost.awaited.clear();
            watchTree(lost.path, root, false);
            updateRescanTimer();
            Q_EMIT rootBack(lost.path);
            return;
        }
        if (lost.unmounted && QFileInfo(lost.path).isDir())
            return; // a mount makes no event: the rescan timer looks
        // Watch the nearest folder still there for the next folder on the way to the root.
        QString awaited = lost.path;
        QString ancestor = QFileInfo(awaited).path();
        while (!QFileInfo(ancestor).isDir() && ancestor != QFileInfo(ancestor).path()) {
            awaited = ancestor;
            ancestor = QFileInfo(ancestor).path();
        }
        lost.awaited = awaited;
        if (!m_watchOf.contains(ancestor)) { // else a watched folder: its own events tell
            const int watch = m_inotify->addWatch(QFile::encodeName(ancestor), kHunterMask);
            if (watch >= 0 && !m_folders.contains(watch))
                m_hunters.insert(watch, root);
            // Else the rescan timer looks.
        }
        // Made between the look and the watch, it would never be reported: look once more.
        if (!QFileInfo(awaited).isDir())
            return;
    }
}

void FolderWatch::dropHunter(int root)
{
    for (auto it = m_hunters.begin(); it != m_hunters.end(); ++it) {
        if (it.value() != root)
            continue;
        const int watch = it.key();
        m_hunters.erase(it);
        if (!m_hunters.contains(watch))
            m_inotify->removeWatch(watch);
        return;
    }
}

void FolderWatch::rescan()
{
    for (int i = 0; i < m_roots.size(); ++i) {
        if (m_roots.at(i).lost)
            hunt(i);
    }
    const qint64 started = wallNs();
    const QStringList folders = m_unwatched.keys();
    for (const QString &folder : folders) {
        const auto entry = m_unwatched.constFind(folder);
        if (entry == m_unwatched.cend())
            continue; // went with a folder above it
        const Unwatched unwatched = *entry;
        const int watch = m_inotify->addWatch(QFile::encodeName(folder), kFolderMask | IN_DONT_FOLLOW);
        if (watch >= 0) { // room again: watched from now on
            m_unwatched.remove(folder);
            m_folders.insert(watch, Folder{folder, unwatched.root});
            m_watchOf.insert(folder, watch);
        } else if (watch != -ENOSPC) {
            m_unwatched.remove(folder); // gone, or closed to us
            continue;
        }
        const QHash<QString, qint64> taken = lookAt(folder, unwatched.root, unwatched.sinceNs, unwatched.taken);
        const auto still = m_unwatched.find(folder);
        if (still != m_unwatched.end()) {
            still->sinceNs = started;
            still->taken = taken;
        }
    }
    updateRescanTimer();
}

void FolderWatch::onMountsChanged()
{
    for (int i = 0; i < m_roots.size(); ++i) {
        if (m_roots.at(i).lost)
            hunt(i); // it may be on the disk just mounted
    }
    // A watch holds the folder it was given: a disk mounted on that folder, or taken from it,
    // shows another folder at the path, whose changes the watch never sees.
    QList<std::pair<Folder, quint64>> replaced; // with the device the path shows now
    for (const Folder &folder : std::as_const(m_folders)) {
        struct stat info;
        if (::stat(QFile::encodeName(folder.path).constData(), &info) == 0 && S_ISDIR(info.st_mode)
            && (quint64(info.st_dev) != folder.device || quint64(info.st_ino) != folder.inode))
            replaced.append({folder, quint64(info.st_dev)});
    }
    std::sort(replaced.begin(), replaced.end(),
              [](const auto &a, const auto &b) { return a.first.path.size() < b.first.path.size(); });
    for (const auto &[folder, device] : std::as_const(replaced)) {
        const auto watch = m_watchOf.constFind(folder.path);
        if (watch == m_watchOf.cend() || m_folders.value(*watch).inode != folder.inode
            || m_folders.value(*watch).device != folder.device)
            continue; // gone, or watched anew with a folder above it
        struct stat above;
        const bool bareMountPoint = folder.path == m_roots.at(folder.root).path && device != folder.device
            && ::stat(QFile::encodeName(QFileInfo(folder.path).path()).constData(), &above) == 0
            && quint64(above.st_dev) == device;
        if (bareMountPoint) { // the root's disk went: what is left is the empty folder it was on
            loseRoot(folder.root, true);
            continue;
        }
        unwatchTree(folder.path);
        watchTree(folder.path, folder.root, true);
    }
}

void FolderWatch::updateRescanTimer()
{
    const bool needed = !m_unwatched.isEmpty()
        || std::any_of(m_roots.cbegin(), m_roots.cend(), [](const Root &root) { return root.lost; });
    if (needed && !m_rescanTimer.isActive())
        m_rescanTimer.start();
    else if (!needed)
        m_rescanTimer.stop();
}

void FolderWatch::warnLimit()
{
    if (m_limitMet && !m_limitSaid) {
        m_limitSaid = true;
        Q_EMIT watchLimitReached(m_unwatched.size());
    }
}
