#pragma once

#include <QList>
#include <QString>
#include <QUrl>

// Where updates are looked for: the built-in feeds in the order they are asked, the release
// project page that completes relative upload paths, and the product web site.
struct UpdateEndpoints
{
    QList<QUrl> builtInFeeds;
    QUrl releaseProjectPage;
    QString productWebsite;

    // The fixed paths below the given hosts (scheme and authority, no trailing slash). An
    // address that repeats an earlier one is asked only once.
    static UpdateEndpoints fromHosts(const QString &downloadHost, const QString &gitLabHost,
                                     const QString &pagesHost, const QString &productWebsite);
    // The hosts this build was configured with.
    static UpdateEndpoints builtIn();
};
