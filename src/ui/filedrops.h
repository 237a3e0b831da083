#pragma once

class QDropEvent;
class QMimeData;
class QObject;
class QUrl;
template<typename T> class QList;

// What the window takes from a drag: local files, copied, never moved.
namespace FileDrops {

// The local files a drag carries; web addresses and other URLs are left out.
QList<QUrl> localFiles(const QMimeData *mime);
// Takes a drag or drop of local files as a copy. False (and the event ignored) when it carries
// none, comes from source itself, or cannot be a copy: accepting a move would let the sender
// delete the user's originals once they are listed.
bool acceptAsCopy(QDropEvent *event, const QObject *source);

} // namespace FileDrops
