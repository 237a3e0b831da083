#pragma once

#include "appupdateinfo.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>

#include <QNetworkReply>

// Reading release feeds and version strings. Pure functions: no network, no files, no state.
namespace UpdateFeed {

// A feed's answer: a release, or a user-readable reason why there is none.
struct Result
{
    std::optional<AppUpdateInfo> release;
    QString error;
};

// Trims white space, one leading "v"/"V" and everything from the first "-" on: " v1.2.3-beta.1 " -> "1.2.3".
QString cleanVersionString(const QString &version);

// Compares the dot-separated integers of both cleaned versions; a missing position counts as 0,
// a piece that is not an integer is dropped. Equal versions are not newer.
bool isRemoteVersionNewer(const QString &remote, const QString &current);

// Strips every leading and trailing "v", "V" and blank, as feeds decorate their versions.
QString trimVersionTag(const QString &text);

// The processor architecture this build runs on, as feeds name it: "x86_64", "aarch64", else Qt's name.
QString machineArchitecture();

// Reads a GitLab release object or a version feed document. releaseProjectPage completes the
// relative upload paths that release notes link to; arch picks the package (see linuxPackage).
Result parseReleaseData(const QByteArray &body, const QUrl &releaseProjectPage,
                        const QString &arch = machineArchitecture());

// The package this machine can install among addresses: a .deb for arch, then an .AppImage for
// arch; a file whose name says nothing of its architecture comes after the one that names arch,
// one that names another architecture never. Any other kind of file is never taken.
std::optional<QUrl> linuxPackage(const QList<QUrl> &addresses, const QString &arch);

// The .deb and .AppImage files the release notes link to, absolute or as upload paths of the
// release project, in the order they appear.
QList<QUrl> packageAddressesInNotes(const QString &notes, const QUrl &releaseProjectPage);

// The text as a URL, or nothing when it is empty or not a valid URL.
std::optional<QUrl> makeURL(const QString &text);

QString httpStatusError(int statusCode);

// Why a finished reply brought no usable body, or empty when it did: an HTTP status outside
// 200 to 299 wins over the transport error that Qt raises for it.
QString replyError(const QNetworkReply &reply);

// A transport failure in words a user can act on (no host, no connection, time-out, TLS), with
// the technical text after them.
QString networkError(QNetworkReply::NetworkError error, const QString &technical);

// Why an update may not be fetched from this address, or empty when it may: only https,
// or http to the loopback interface.
QString downloadRefusal(const QUrl &address);

// "Pikora-v" + version + the downloaded file's extension (".deb", ".AppImage"), with path
// separators in the version made harmless.
QString installerFileName(const QString &version, const QUrl &downloadURL);

} // namespace UpdateFeed
