#include "updatefeed.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QStringList>
#include <QSysInfo>

#include <algorithm>
#include <initializer_list>
#include <utility>

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

std::optional<QUrl> gitLabDownloadURL(const QJsonObject &release, const QString &notes, const QUrl &projectPage,
                                      const QString &arch)
{
    const std::optional<QJsonObject> assets = object(release, "assets");
    const std::optional<QJsonArray> links = assets ? objectArray(*assets, "links") : std::nullopt;
    QList<QUrl> addresses;
    if (links) {
        for (const QJsonValue &link : *links) {
            if (const std::optional<QUrl> address = urlOf(text(link.toObject(), "url")))
                addresses.append(*address);
        }
    }
    if (const std::optional<QUrl> package = linuxPackage(addresses, arch))
        return package;
    return linuxPackage(packageAddressesInNotes(notes, projectPage), arch);
}

AppUpdateInfo gitLabRelease(const QJsonObject &release, const QString &tag, const QUrl &projectPage, const QString &arch)
{
    AppUpdateInfo info;
    info.version = trimVersionTag(tag);
    info.title = text(release, "name").value_or(pikoraTitle(info.version));
    info.releaseNotes = text(release, "description").value_or(QCoreApplication::translate("UpdateManager", "无更新日志"));
    info.publishedAt = text(release, "released_at");
    info.downloadURL = gitLabDownloadURL(release, info.releaseNotes, projectPage, arch);
    if (const std::optional<QJsonObject> links = object(release, "_links"))
        info.htmlURL = urlOf(text(*links, "self"));
    return info;
}

// Only this machine's entry counts: the others name packages for other systems.
std::optional<QUrl> platformDownloadURL(const QJsonObject &platforms, const QString &arch)
{
    const std::optional<QJsonObject> entry = object(platforms, QString(QStringLiteral("linux-") + arch).toUtf8().constData());
    return entry ? urlOf(text(*entry, "url")) : std::nullopt;
}

AppUpdateInfo versionFeed(const QJsonObject &feed, const QString &version, const QString &arch)
{
    AppUpdateInfo info;
    info.version = trimVersionTag(version);
    info.title = text(feed, "title").value_or(pikoraTitle(info.version));
    info.releaseNotes = firstText(feed, {"releaseNotes", "notes", "changelog"})
                            .value_or(QCoreApplication::translate("UpdateManager", "修复若干已知问题，带来更流畅的转码体验。"));
    if (const std::optional<QJsonObject> platforms = object(feed, "platforms"))
        info.downloadURL = platformDownloadURL(*platforms, arch);
    if (!info.downloadURL) {
        if (const std::optional<QUrl> address = urlOf(firstText(feed, {"downloadUrl", "download_url"})))
            info.downloadURL = linuxPackage({*address}, arch);
    }
    info.htmlURL = urlOf(firstText(feed, {"htmlUrl", "html_url"}));
    info.publishedAt = text(feed, "published_at");
    return info;
}

// The architecture a package's file name declares, in the spelling of machineArchitecture().
std::optional<QString> architectureNamed(const QString &lowerName)
{
    static const std::pair<const char *, const char *> kMarkers[] = {
        {"x86_64", "x86_64"}, {"amd64", "x86_64"}, {"x86-64", "x86_64"}, {"aarch64", "aarch64"}, {"arm64", "aarch64"},
        {"i386", "i386"}, {"i686", "i386"}, {"armhf", "arm"}, {"armv7", "arm"}, {"armv7l", "arm"},
        {"ppc64el", "power64"}, {"ppc64le", "power64"}, {"s390x", "s390x"}, {"riscv64", "riscv64"}};
    for (const auto &[marker, arch] : kMarkers) {
        // A marker counts only as a whole word of the name: "amd64" in "pikora_1.0_amd64.deb".
        const QRegularExpression word(QStringLiteral("(?<![a-z0-9])%1(?![a-z0-9])").arg(QRegularExpression::escape(QLatin1String(marker))));
        if (word.match(lowerName).hasMatch())
            return QString::fromLatin1(arch);
    }
    return std::nullopt;
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

Result parseReleaseData(const QByteArray &body, const QUrl &releaseProjectPage, const QString &arch)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return {std::nullopt, QCoreApplication::translate("UpdateManager", "无法解析更新数据：%1").arg(parseError.errorString())};

    // Anything but an object reads as an empty object, which is neither shape.
    const QJsonObject top = document.object();
    if (const std::optional<QString> tag = text(top, "tag_name"))
        return {gitLabRelease(top, *tag, releaseProjectPage, arch), {}};
    if (const std::optional<QString> version = firstText(top, {"version", "latest_version"}))
        return {versionFeed(top, *version, arch), {}};
    return {std::nullopt, QCoreApplication::translate("UpdateManager", "无法识别的更新数据结构")};
}

QString machineArchitecture()
{
    const QString arch = QSysInfo::buildCpuArchitecture();
    if (arch == QLatin1String("arm64"))
        return QStringLiteral("aarch64");
    return arch;
}

std::optional<QUrl> linuxPackage(const QList<QUrl> &addresses, const QString &arch)
{
    // Best first: .deb naming arch, .deb naming none, .AppImage naming arch, .AppImage naming none.
    std::optional<QUrl> best;
    int bestRank = 4;
    for (const QUrl &address : addresses) {
        const QString name = address.fileName().toLower();
        int rank;
        if (name.endsWith(QLatin1String(".deb")))
            rank = 0;
        else if (name.endsWith(QLatin1String(".appimage")))
            rank = 2;
        else
            continue;
        const std::optional<QString> named = architectureNamed(name);
        if (named && *named != arch)
            continue;
        if (!named)
            ++rank;
        if (rank < bestRank) {
            best = address;
            bestRank = rank;
        }
    }
    return best;
}

QList<QUrl> packageAddressesInNotes(const QString &notes, const QUrl &releaseProjectPage)
{
    static const QRegularExpression package(
        QStringLiteral("(https?://[^\\s\\)]+?\\.(?:deb|appimage))(?=[\\s\\)]|$)|(\\/uploads\\/[^\\s\\)]+?\\.(?:deb|appimage))(?=[\\s\\)]|$)"),
        QRegularExpression::CaseInsensitiveOption | QRegularExpression::UseUnicodePropertiesOption);
    QList<QUrl> addresses;
    for (QRegularExpressionMatchIterator it = package.globalMatch(notes); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        const std::optional<QUrl> address = match.hasCaptured(1)
            ? makeURL(match.captured(1))
            : makeURL(releaseProjectPage.toString() + match.captured(2));
        if (address)
            addresses.append(*address);
    }
    return addresses;
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
    return QCoreApplication::translate("UpdateManager", "服务器返回错误码：HTTP %1").arg(statusCode);
}

QString replyError(const QNetworkReply &reply)
{
    switch (reply.error()) {
    case QNetworkReply::InsecureRedirectError:
        return QCoreApplication::translate("UpdateManager", "服务器把请求转向了不安全的 HTTP 地址，已拒绝");
    case QNetworkReply::OperationCanceledError:
        // Callers that abort on purpose do not ask; Qt aborts this way when the time-out passes.
        return QCoreApplication::translate("UpdateManager", "连接超时，服务器长时间没有响应");
    default:
        break;
    }
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && (status.toInt() < 200 || status.toInt() > 299))
        return httpStatusError(status.toInt());
    if (reply.error() != QNetworkReply::NoError)
        return networkError(reply.error(), reply.errorString());
    return {};
}

QString networkError(QNetworkReply::NetworkError error, const QString &technical)
{
    const char *words = nullptr;
    switch (error) {
    case QNetworkReply::HostNotFoundError:
        words = QT_TRANSLATE_NOOP("UpdateManager", "找不到更新服务器，请检查网络连接");
        break;
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
        words = QT_TRANSLATE_NOOP("UpdateManager", "无法连接到更新服务器，请检查网络连接");
        break;
    case QNetworkReply::TimeoutError:
        words = QT_TRANSLATE_NOOP("UpdateManager", "连接超时，服务器长时间没有响应");
        break;
    case QNetworkReply::SslHandshakeFailedError:
        words = QT_TRANSLATE_NOOP("UpdateManager", "无法与更新服务器建立安全连接 (TLS)");
        break;
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyConnectionClosedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
    case QNetworkReply::ProxyAuthenticationRequiredError:
        words = QT_TRANSLATE_NOOP("UpdateManager", "无法通过代理服务器连接，请检查代理设置");
        break;
    default:
        return technical;
    }
    // The system's own words stay, after ours: they name the host and help whoever looks further.
    return QCoreApplication::translate("UpdateManager", "%1 (%2)").arg(QCoreApplication::translate("UpdateManager", words), technical);
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
    return QCoreApplication::translate("UpdateManager", "下载地址未使用 HTTPS 加密连接，已拒绝：%1").arg(address.toDisplayString());
}

QString installerFileName(const QString &version, const QUrl &downloadURL)
{
    QString name = version;
    name.replace(u'/', u'_');
    name.remove(QChar(u'\0'));
    const QString file = downloadURL.fileName();
    QString extension;
    if (file.endsWith(QLatin1String(".appimage"), Qt::CaseInsensitive))
        extension = QStringLiteral(".AppImage");
    else if (file.endsWith(QLatin1String(".deb"), Qt::CaseInsensitive))
        extension = QStringLiteral(".deb");
    else if (static const QRegularExpression plain(QStringLiteral("\\.[A-Za-z0-9]{1,10}$")); plain.match(file).hasMatch())
        extension = plain.match(file).captured(0);
    return QStringLiteral("Pikora-v") + name + extension;
}

} // namespace UpdateFeed
