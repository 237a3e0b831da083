#include "updateendpoints.h"

#include "updatehosts.h"

UpdateEndpoints UpdateEndpoints::fromHosts(const QString &downloadHost, const QString &gitLabHost,
                                           const QString &pagesHost, const QString &productWebsite)
{
    // %2F stays encoded: GitLab takes the project's full path as one path segment.
    const QList<QUrl> feeds = {
        QUrl(downloadHost + QStringLiteral("/pikora/version.json")),
        QUrl(gitLabHost + QStringLiteral("/api/v4/projects/tolvane%2Fpikora-releases/releases/permalink/latest")),
        QUrl(pagesHost + QStringLiteral("/pikora/version.json")),
    };
    UpdateEndpoints endpoints;
    for (const QUrl &feed : feeds) {
        if (!endpoints.builtInFeeds.contains(feed))
            endpoints.builtInFeeds.append(feed);
    }
    endpoints.releaseProjectPage = QUrl(gitLabHost + QStringLiteral("/tolvane/pikora-releases"));
    endpoints.productWebsite = productWebsite;
    return endpoints;
}

UpdateEndpoints UpdateEndpoints::builtIn()
{
    return fromHosts(QStringLiteral(PIKORA_UPDATE_DOWNLOAD_HOST), QStringLiteral(PIKORA_UPDATE_GITLAB_HOST),
                     QStringLiteral(PIKORA_UPDATE_PAGES_HOST), QStringLiteral(PIKORA_PRODUCT_WEBSITE));
}
