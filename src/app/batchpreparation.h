#pragma once

#include "engine/diskspaceguard.h"
#include "model/taskitem.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

// The checks a batch makes before its jobs start: the output folder there (and on the volume it
// was chosen on), room on the disks, the tools found. They can stall on a slow or hung disk, so
// they run on the thread pool.
struct BatchPreparation
{
    struct Request
    {
        QList<TaskItem> waiting;
        DiskSpaceGuard::CapacityOptions capacity;
        QStringList searchFolders;
        QString customCjxl;
        QString customDjxl;
        QString outputFolder; // empty: beside the sources
        bool folderMustExist = false;
        QString volume; // the output folder's, when known
    };

    QList<QUuid> checked; // the jobs the disk check counted, in list order
    DiskSpaceGuard::CapacityCheck check{true, 0, 0, {}};
    QString missingFolder; // the output folder, when it had to be there and is not
    bool elsewhere = false; // ... and is, but on another volume than it was chosen on
    QString outputFolder;
    QString foundVolume; // the output folder's volume, when it came without one
    std::optional<QString> cjxl;
    std::optional<QString> djxl;

    static BatchPreparation run(Request request);
};
