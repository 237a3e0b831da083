#include "updatefeed.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <initializer_list>

namespace UpdateFeed {

namespace {

// A value counts only when it has the JSON type its key is meant to carry.
std::optional<QString> text(const QJsonObject &object, const char *key)
{
    const QJsonValue value = object.value(QLatin1String(key));
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

std::optional<QString> firstText(const QJsonObject &object, std::initializer_list<const char *> keys)
{
    for (const char *key : keys) {
        if (auto value = text(object, key))
            return value;
    }
    return std::nullopt;
}

std::optional<QJsonObject> object(const QJsonObject &parent, const char *key)
{
    const QJsonValue value = parent.value(QLatin1String(key));
    if (!value.isObject())
        return std::nullopt;
    return value.toObject();
}

// An array in which any element is not an object does not count as a list of links.
std::optional<QJsonArray> objectArray(const QJsonObject &parent, const char *key)
{
    const QJsonValue value = parent.value(QLatin1String(key));
    if (!value.isArray())
        return std::nullopt;
    const QJsonArray array = value.toArray();
    if (!std::all_of(array.begin(), array.end(), [](const QJsonValue &item) { return item.isObject(); }))
        return std::nullopt;
    return array;
}

std::optional<QUrl> urlOf(const std::optional<QString> &text)
{
    return text ? makeURL(*text) : std::nullopt;
}

QString pikoraTitle(const QString &version)
{
    return QStringLiteral("Pikora v") + version;
}

std::optional<QUrl> gitLabDownloadURL(const QJsonObject &release, const QString &notes, const QUrl &projectPage)
{
    const std::optional<QJsonObject> assets = object(release, "assets");
    const std::optional<QJsonArray> links = assets ? objectArray(*assets, "links") : std::nullopt;
    if (links) {
        for (const QJsonValue &link : *links) {
            const std::optional<QString> address = text(link.toObject(), "url");
            if (!address || !makeURL(*address))
                continue;
            const QString lower = address->toLower();
            if (lower.endsWith(QLatin1String(".dmg")) || lower.endsWith(QLatin1String(".zip")))
                return makeURL(*address);
        }
        if (!links->isEmpty()) {
            if (auto first = urlOf(text(links->first().toObject(), "url")))
                return first;
        }
    }
    return downloadAddressInNotes(notes, projectPage);
}

AppUpdateInfo gitLabRelease(const QJsonObject &release, const QString &tag, const QUrl &projectPage)
{
    AppUpdateInfo info;
    info.version = trimVersionTag(tag);
    info.title = text(release, "name").value_or(pikoraTitle(info.version));
    info.releaseNotes = text(release, "description").value_or(QStringLiteral("无更新日志"));
    info.publishedAt = text(release, "released_at");
    info.downloadURL = gitLabDownloadURL(release, info.releaseNotes, projectPage);
    if (const std::optional<QJsonObject> links = object(release, "_links"))
        info.htmlURL = urlOf(text(*links, "self"));
    return info;
}

std::optional<QUrl> platformDownloadURL(const QJsonObject &platforms)
{
    if (const std::optional<QJsonObject> arm = object(platforms, "darwin-arm64")) {
        if (const std::optional<QString> address = text(*arm, "url"))
            return makeURL(*address);
    }
    std::optional<QJsonObject> mac = object(platforms, "macos");
    if (!mac)
        mac = object(platforms, "darwin");
    return mac ? urlOf(text(*mac, "url")) : std::nullopt;
}

AppUpdateInfo versionFeed(const QJsonObject &feed, const QString &version)
{
    AppUpdateInfo info;
    info.version = trimVersionTag(version);
    info.title = text(feed, "title").value_or(pikoraTitle(info.version));
    info.releaseNotes = firstText(feed, {"releaseNotes", "notes", "changelog"})
                            .value_or(QStringLiteral("修复若干已知问题，带来更流畅的转码体验。"));
    if (const std::optional<QJsonObject> platforms = object(feed, "platforms"))
        info.downloadURL = platformDownloadURL(*platforms);
    if (!info.downloadURL)
        info.downloadURL = urlOf(firstText(feed, {"downloadUrl", "download_url"}));
    info.htmlURL = urlOf(firstText(feed, {"htmlUrl", "html_url"}));
    info.publishedAt = text(feed, "published_at");
    return info;
}

// Digits with an optional sign, nothing else; anything else is not a version number.
std::optional<qint64> versionNumber(const QString &piece)
{
    QStringView digits(piece);
    if (digits.startsWith(u'+') || digits.startsWith(u'-'))
        digits = digits.mid(1);
    if (digits.isEmpty() || !std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
        return std::nullopt;
    bool ok = false;
    const qint64 number = piece.toLongLong(&ok, 10);
    return ok ? std::optional<qint64>(number) : std::nullopt;
}

QList<qint64> versionNumbers(const QString &version)
{
    QList<qint64> numbers;
    const QStringList pieces = cleanVersionString(version).split(u'.', Qt::SkipEmptyParts);
    for (const QString &piece : pieces) {
        if (const std::optional<qint64> number = versionNumber(piece))
            numbers.append(*number);
    }
    return numbers;
}

} // namespace

QString cleanVersionString(const QString &version)
{
    QString cleaned = version.trimmed();
    if (cleaned.startsWith(u'v', Qt::CaseInsensitive))
        cleaned.remove(0, 1);
    const qsizetype dash = cleaned.indexOf(u'-');
    if (dash >= 0)
        cleaned.truncate(dash);
    return cleaned;
}

bool isRemoteVersionNewer(const QString &remote, const QString &current)
{
    const QList<qint64> remoteNumbers = versionNumbers(remote);
    const QList<qint64> currentNumbers = versionNumbers(current);
    const qsizetype length = std::max(remoteNumbers.size(), currentNumbers.size());
    for (qsizetype i = 0; i < length; ++i) {
        const qint64 r = remoteNumbers.value(i, 0);
        const qint64 c = currentNumbers.value(i, 0);
        if (r != c)
            return r > c;
    }
    return false;
}

QString trimVersionTag(const QString &text)
{
    const auto isTag = [](QChar c) { return c == u'v' || c == u'V' || c == u' '; };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isTag(text.at(begin)))
        ++begin;
    while (end > begin && isTag(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

Result parseReleaseData(const QByteArray &body, const QUrl &releaseProjectPage)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return {std::nullopt, QStringLiteral("无法解析更新数据：") + parseError.errorString()};

    // Anything but an object reads as an empty object, which is neither shape.
    const QJsonObject top = document.object();
    if (const std::optional<QString> tag = text(top, "tag_name"))
        return {gitLabRelease(top, *tag, releaseProjectPage), {}};
    if (const std::optional<QString> version = firstText(top, {"version", "latest_version"}))
        return {versionFeed(top, *version), {}};
    return {std::nullopt, QStringLiteral("无法识别的更新数据结构")};
}

std::optional<QUrl> downloadAddressInNotes(const QString &notes, const QUrl &releaseProjectPage)
{
    static const QRegularExpression diskImage(
        QStringLiteral("(https?://[^\\s\\)]+?\\.dmg)|(\\/uploads\\/[^\\s\\)]+?\\.dmg)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    if (!diskImage.isValid())
        return std::nullopt;
    const QRegularExpressionMatch match = diskImage.match(notes);
    if (!match.hasMatch())
        return std::nullopt;
    if (match.hasCaptured(1))
        return makeURL(match.captured(1));
    return makeURL(releaseProjectPage.toString() + match.captured(2));
}

std::optional<QUrl> makeURL(const QString &text)
{
    if (text.isEmpty())
        return std::nullopt;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid())
        return std::nullopt;
    return url;
}

QString httpStatusError(int statusCode)
{
    return QStringLiteral("服务器返回错误码：HTTP ") + QString::number(statusCode);
}

QString replyError(const QNetworkReply &reply)
{
    switch (reply.error()) {
    case QNetworkReply::InsecureRedirectError:
        return QStringLiteral("服务器把请求转向了不安全的 HTTP 地址，已拒绝");
    case QNetworkReply::OperationCanceledError:
        // Callers that abort on purpose do not ask; Qt aborts this way when the time-out passes.
        return QStringLiteral("连接超时，服务器长时间没有响应");
    default:
        break;
    }
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299))
        return httpStatusError(status.toInt());
    if (reply.error() != QNetworkReply::NoError)
        return reply.errorString();
    return {};
}

QString downloadRefusal(const QUrl &address)
{
    const QString scheme = address.scheme().toLower();
    if (scheme == QLatin1String("https"))
        return {};
    if (scheme == QLatin1String("http")) {
        const QString host = address.host();
        if (host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 || QHostAddress(host).isLoopback())
            return {};
    }
    return QStringLiteral("下载地址未使用 HTTPS 加密连接，已拒绝：") + address.toDisplayString();
}

QString installerFileName(const QString &version)
{
    QString name = version;
    name.replace(u'/', u'_');
    name.remove(QChar(u'\0'));
    return QStringLiteral("Pikora-v") + name + QStringLiteral(".dmg");
}

} // namespace UpdateFeed
