#pragma once

#include <QString>

// A small tmpfs mounted on a folder for as long as the object lives, to stand for a photo card
// or a USB disk: it can be unmounted (the folder stays, as a mount point does) and mounted again
// empty. Mounting needs root; where it cannot be done, isMounted() stays false and the caller
// skips.
class ScratchVolume final
{
    Q_DISABLE_COPY_MOVE(ScratchVolume)

public:
    // Makes folder and mounts a tmpfs of size bytes on it.
    ScratchVolume(const QString &folder, qint64 size);
    ~ScratchVolume();

    const QString &folder() const { return m_folder; }
    bool isMounted() const { return m_mounted; }
    // Mounts a fresh, empty tmpfs again; false when that fails.
    bool mount();
    void unmount();

private:
    QString m_folder;
    qint64 m_size;
    bool m_mounted = false;
};
