#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// One release as a feed offers it. A plain value, compared field by field; its identity is version.
struct AppUpdateInfo
{
    QString version;
    QString title;
    QString releaseNotes;
    std::optional<QUrl> downloadURL;
    std::optional<QUrl> htmlURL;
    std::optional<QString> publishedAt;

    bool operator==(const AppUpdateInfo &other) const = default;
};
