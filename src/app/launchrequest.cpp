#include "launchrequest.h"

#include "engine/filescanner.h"
#include "importservice.h"
#include "workspace.h"

#include <QDir>
#include <QFileInfo>
#include <QUrlQuery>

#include <algorithm>

namespace {

const QString kCompress = QStringLiteral("--compress");
const QString kRestore = QStringLiteral("--restore");

// A path that names something that exists, made absolute; nullopt otherwise.
std::optional<QUrl> existingItem(const QString &path, const QString &workingDirectory)
{
    if (path.isEmpty())
        return std::nullopt;
    const QString absolute = QDir::cleanPath(QDir(workingDirectory).absoluteFilePath(path));
    // exists() follows links; a dangling link is nothing to import.
    if (!QFileInfo::exists(absolute))
        return std::nullopt;
    return QUrl::fromLocalFile(absolute);
}

// A command-line word or a handed-over URI as something to import.
std::optional<QUrl> importTarget(const QString &word, const QString &workingDirectory, bool pathsAllowed)
{
    const QUrl url(word, QUrl::TolerantMode);
    if (url.isValid() && LaunchUrls::isAppScheme(url))
        return LaunchUrls::schemeImportTarget(url);
    if (url.isValid() && url.scheme() == QStringLiteral("file")) {
        // Only the local machine's files: file://host/... names another one.
        if (!url.host().isEmpty() && url.host() != QStringLiteral("localhost"))
            return std::nullopt;
        const QString path = url.path(QUrl::FullyDecoded);
        if (!QDir::isAbsolutePath(path))
            return std::nullopt;
        return existingItem(path, workingDirectory);
    }
    if (!pathsAllowed)
        return std::nullopt;
    return existingItem(word, workingDirectory);
}

} // namespace

LaunchRequest LaunchRequest::fromArguments(const QStringList &arguments, const QString &workingDirectory)
{
    LaunchRequest request;
    for (const QString &argument : arguments) {
        if (argument == kCompress) {
            request.direction = ConversionMode::jpegToJXL;
        } else if (argument == kRestore) {
            request.direction = ConversionMode::jxlToJPEG;
        } else if (argument.startsWith(QLatin1Char('-'))) {
            continue; // the toolkit's own options and anything unknown
        } else if (const std::optional<QUrl> target = importTarget(argument, workingDirectory, true)) {
            request.files.append(*target);
        }
    }
    return request;
}

LaunchRequest LaunchRequest::fromUris(const QStringList &uris)
{
    LaunchRequest request;
    for (const QString &uri : uris) {
        // A hand-over carries URLs only: a bare word would be taken from our own working
        // folder, not the sender's.
        if (const std::optional<QUrl> target = importTarget(uri, QDir::rootPath(), false))
            request.files.append(*target);
    }
    return request;
}

QStringList LaunchRequest::uris() const
{
    QStringList list;
    list.reserve(files.size());
    for (const QUrl &file : files)
        list.append(file.toString(QUrl::FullyEncoded));
    return list;
}

void LaunchRequest::applyTo(Workspace *workspace, ImportService *imports) const
{
    if (direction) {
        workspace->switchMode(*direction);
        workspace->setSelectedTaskIds({});
    }
    if (!files.isEmpty())
        imports->importURLs(files);
}

namespace LaunchUrls {

bool isAppScheme(const QUrl &url)
{
    const QString scheme = url.scheme();
    return scheme == QStringLiteral("pikora") || scheme == QStringLiteral("lumevo");
}

std::optional<QUrl> schemeImportTarget(const QUrl &url)
{
    if (!url.isValid() || !isAppScheme(url))
        return std::nullopt;
    const QUrlQuery query(url);
    const QList<std::pair<QString, QString>> items = query.queryItems(QUrl::FullyDecoded);
    const auto first = std::find_if(items.cbegin(), items.cend(),
                                    [](const auto &item) { return item.first == QStringLiteral("path"); });
    if (first == items.cend() || first->second.isEmpty())
        return std::nullopt;
    const QString path = first->second;
    if (!QDir::isAbsolutePath(path))
        return std::nullopt;
    const QFileInfo info(QDir::cleanPath(path));
    // isFile() follows links: a link to a photo is fine, a folder, pipe or device is not.
    if (!info.isFile())
        return std::nullopt;
    const QString suffix = info.suffix();
    if (!FileScanner::jpegExtensions().contains(suffix) && !FileScanner::jxlExtensions().contains(suffix))
        return std::nullopt;
    return QUrl::fromLocalFile(info.absoluteFilePath());
}

} // namespace LaunchUrls
