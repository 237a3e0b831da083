#include "ui/filedrops.h"

#include <QDropEvent>
#include <QList>
#include <QMimeData>
#include <QUrl>

namespace FileDrops {

QList<QUrl> localFiles(const QMimeData *mime)
{
    QList<QUrl> files;
    if (!mime || !mime->hasUrls())
        return files;
    for (const QUrl &url : mime->urls()) {
        if (url.isLocalFile() && !url.toLocalFile().isEmpty())
            files.append(url);
    }
    return files;
}

bool acceptAsCopy(QDropEvent *event, const QObject *source)
{
    if (event->source() == source || !(event->possibleActions() & Qt::CopyAction)
        || localFiles(event->mimeData()).isEmpty()) {
        event->ignore();
        return false;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    return true;
}

} // namespace FileDrops
