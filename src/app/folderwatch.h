#pragma once

#include "engine/fileidentity.h"
#include "platform/inotifywatcher.h"

#include <QHash>
#include <QList>
#include <QMultiHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

class SettleQueue;

// Watches folders and every folder below them for JPEGs that arrive or change, and hands each over
// once it is complete: closed after writing, or moved in, and then left alone for the settle time
// (a write meanwhile starts the wait again). Hidden and temporary names are passed over, and a
// photo that failed is not handed over again until it changes. A disk mounted on a watched folder,
// or taken from under it, is noticed as the mount table changes. Folders left out by the kernel's
// limit on watches, and roots that went away, are also looked at on a timer; apart from that and
// the settle times nothing runs while nothing happens. Lives on one thread.
class FolderWatch final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FolderWatch)

public:
    struct Options
    {
        qint64 settleMs = 10000;
        // How often folders that cannot be watched, and roots that went away, are looked at.
        qint64 rescanMs = 180000;
        // Watches it may hold; -1: as many as the kernel gives.
        int maxWatches = -1;
    };

    // roots: absolute, clean paths of folders.
    FolderWatch(const QStringList &roots, const Options &options, QObject *parent = nullptr);
    ~FolderWatch() override;

    // 0, or the errno with which the kernel refused to watch anything.
    int error() const;
    // Watches the roots' trees. The photos already there are the caller's to scan.
    void start();
    // Folders watched, and those looked at on the timer instead.
    qsizetype folderCount() const { return m_folders.size() + m_unwatched.size(); }
    // The root a path lies under; empty for none.
    QString rootOf(const QString &path) const;
    // A JPEG's name, neither hidden nor that of a temporary.
    static bool isCandidateName(const QString &name);
    // Written within the settle time: it may still be being written.
    bool isRecent(const QString &path) const;
    // A scan met a photo written recently: it is handed over once it has settled.
    void expect(const QString &path);
    // A scan took the photo: a wait for it under way ends.
    void forget(const QString &path);
    // A job on this file ended without converting it: it is not handed over again while it is
    // this file with this size and modification time.
    void setFailed(const FileIdentity &identity);

Q_SIGNALS:
    // A photo has settled; identity: the file as it was then.
    void ready(const QString &path, const QString &root, const FileIdentity &identity);
    // A folder appeared below a root: the photos it held before its watch are the caller's to scan.
    void folderAppeared(const QString &folder, const QString &root);
    // The watch limit was met; those folders are looked at every rescanMs instead. Said once.
    void watchLimitReached(qsizetype folders);
    // A root went away (deleted, moved, its disk unmounted); said once until it is back.
    void rootLost(const QString &root);
    // A lost root is there again and watched; the caller scans it.
    void rootBack(const QString &root);

private:
    struct Folder
    {
        QString path;
        int root = 0;
        // Of the folder watched: another one at the path is a disk mounted on it or taken away.
        quint64 device = 0;
        quint64 inode = 0;
    };
    struct Root
    {
        QString path;
        bool lost = false;
        bool unmounted = false;
        quint64 goneDevice = 0; // of what is left at the path after an unmount
        QString awaited;        // the folder on the way to it whose creation is watched for
    };
    struct Unwatched
    {
        int root = 0;
        qint64 sinceNs = 0; // wall clock of the last look
        // What the last look took, by path, with its stamp: one stamped in the tick the look
        // began is not taken twice.
        QHash<QString, qint64> taken;
    };

    void onEvents(const QList<InotifyWatcher::Event> &events);
    void onFolderEvent(const Folder &folder, const InotifyWatcher::Event &event);
    void onHunterEvent(int watch, const InotifyWatcher::Event &event);
    // Watches a folder and those below it; announce: the caller is told to scan it.
    void watchTree(const QString &top, int root, bool announce);
    void unwatchTree(const QString &top);
    // Arms the photos of a folder changed since sinceNs (but those in skip with the same
    // stamp), and watches its new subfolders; returns what it armed, with their stamps.
    QHash<QString, qint64> lookAt(const QString &folder, int root, qint64 sinceNs,
                                  const QHash<QString, qint64> &skip = {});
    void loseRoot(int root, bool unmounted);
    bool isBack(const Root &root) const;
    // Takes a lost root up again when it is back, else watches for the folder on the way to it.
    void hunt(int root);
    void dropHunter(int root);
    void rescan();
    void onMountsChanged();
    void updateRescanTimer();
    void warnLimit();
    int rootIndexOf(const QString &path) const;

    Options m_options;
    InotifyWatcher *m_inotify;
    SettleQueue *m_settle; // the photos waiting to settle
    QList<Root> m_roots;
    QHash<int, Folder> m_folders; // by watch
    QHash<QString, int> m_watchOf;
    QMultiHash<int, int> m_hunters; // watch -> lost roots waiting on that ancestor
    QHash<QString, Unwatched> m_unwatched;
    QTimer m_rescanTimer;
    qint64 m_lastReadNs = 0;
    bool m_limitMet = false;
    bool m_limitSaid = false;
};
