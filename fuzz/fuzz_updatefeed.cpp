// A release feed's body as it comes from the network: the JSON, either shape of release, the
// version comparison and the installer's file name made from what the feed says.
#include "integration/updatefeed.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray body = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    static const QUrl projectPage(QStringLiteral("https://gitlab.com/tolvane/pikora-releases"));
    for (const QString &arch : {QStringLiteral("x86_64"), QStringLiteral("aarch64")}) {
        const UpdateFeed::Result result = UpdateFeed::parseReleaseData(body, projectPage, arch);
        if (result.release.has_value() == !result.error.isEmpty())
            qFatal("a release with an error, or neither");
        if (!result.release)
            continue;
        const AppUpdateInfo &release = *result.release;
        if (release.version != UpdateFeed::trimVersionTag(release.version))
            qFatal("the version keeps its decoration");
        if (UpdateFeed::isRemoteVersionNewer(release.version, QStringLiteral("1.0.0"))
            && UpdateFeed::isRemoteVersionNewer(QStringLiteral("1.0.0"), release.version))
            qFatal("each version newer than the other");
        if (release.downloadURL) {
            UpdateFeed::downloadRefusal(*release.downloadURL);
            const QString name = UpdateFeed::installerFileName(release.version, *release.downloadURL);
            if (name.contains(u'/') || name.contains(QChar(u'\0')))
                qFatal("the installer's file name leaves its folder");
        }
    }
    return 0;
}
