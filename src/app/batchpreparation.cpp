#include "batchpreparation.h"

#include "engine/outputfiles.h"
#include "engine/toolcommands.h"
#include "platform/volumeidentity.h"

#include <QFileInfo>
#include <QUrl>

BatchPreparation BatchPreparation::run(Request request)
{
    BatchPreparation preparation;
    const QString &outputFolder = request.outputFolder;
    const QString &volume = request.volume;
    preparation.outputFolder = outputFolder;
    if (request.folderMustExist && !outputFolder.isEmpty()) {
        if (!QFileInfo(outputFolder).isDir()) {
            preparation.missingFolder = outputFolder;
            return preparation;
        }
        // Unknown on either side (the mounts unreadable), the folder is taken as it is.
        const QString now = VolumeIdentity::of(outputFolder);
        if (!volume.isEmpty() && !now.isEmpty() && now != volume) {
            preparation.missingFolder = outputFolder;
            preparation.elsewhere = true;
            return preparation;
        }
        if (volume.isEmpty())
            preparation.foundVolume = now;
    }
    // The volume measured for a job is the one its output will be written to.
    if (!outputFolder.isEmpty()) {
        for (TaskItem &task : request.waiting) {
            if (!task.destinationURL)
                task.destinationURL = QUrl::fromLocalFile(OutputFiles::outputPath(
                    task.sourceURL.toLocalFile(), task.importRoot, outputFolder,
                    task.mode == ConversionMode::jpegToJXL ? QStringLiteral("jxl") : QStringLiteral("jpg")));
        }
    }
    preparation.checked.reserve(request.waiting.size());
    for (const TaskItem &task : request.waiting)
        preparation.checked.append(task.id);
    preparation.check = DiskSpaceGuard::validateCapacity(request.waiting, request.capacity);
    preparation.cjxl = ToolCommands::resolveToolPath(QStringLiteral("cjxl"), request.customCjxl, request.searchFolders);
    preparation.djxl = ToolCommands::resolveToolPath(QStringLiteral("djxl"), request.customDjxl, request.searchFolders);
    return preparation;
}
