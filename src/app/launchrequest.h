#pragma once

#include "model/taskitem.h"

#include <QList>
#include <QStringList>
#include <QUrl>

#include <optional>

class ImportService;
class Workspace;

// What one launch of the window, or one hand-over from a later launch, asks for: a direction
// to show and the files and folders to import into it. Parsing touches nothing but the file
// system's answers to "does this exist"; applying it is a separate step.
struct LaunchRequest
{
    std::optional<ConversionMode> direction;
    // Absolute file URLs of things that exist, in the order given.
    QList<QUrl> files;

    bool isEmpty() const { return !direction && files.isEmpty(); }
    bool operator==(const LaunchRequest &other) const = default;

    // The command line without the program's name: "--compress", "--restore" (the last wins),
    // other "-" options ignored, then paths (relative ones taken from workingDirectory),
    // file:// URLs and pikora:// or lumevo:// URLs as a desktop's %U passes them.
    static LaunchRequest fromArguments(const QStringList &arguments, const QString &workingDirectory);

    // URIs handed over by another process (org.freedesktop.Application.Open): file:// URLs of
    // existing items and scheme URLs; anything else is dropped.
    static LaunchRequest fromUris(const QStringList &uris);

    // The request as URIs for the hand-over: the files as file:// URLs.
    QStringList uris() const;

    // Shows the direction (clearing the selection) and imports the files; never starts a batch.
    void applyTo(Workspace *workspace, ImportService *imports) const;
};

namespace LaunchUrls {

// The file a pikora:// or lumevo:// URL names with its first "path" query item, only when that
// is an absolute path to an existing regular JPEG or JPEG XL file. A web page can send such a
// URL: a folder (path=/ would scan the whole disk), a device or a relative path is refused.
std::optional<QUrl> schemeImportTarget(const QUrl &url);

// True for the two schemes the application answers to (compared exactly, as registered).
bool isAppScheme(const QUrl &url);

} // namespace LaunchUrls
