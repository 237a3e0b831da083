#pragma once

#include <QDialog>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QWidget;
class UpdateManager;

// Announces a newer release and carries its download through to the saved package. A
// window-modal dialog over the main window; it reads UpdateManager and changes state only by
// calling it. Closing it leaves a running download alone and turns the manager's sheet flag off.
class UpdateSheet final : public QDialog
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(UpdateSheet)

public:
    UpdateSheet(UpdateManager *updates, QWidget *parent);

private:
    void showRelease();
    void showStatus();

    UpdateManager *m_updates;
    QLabel *m_badge;
    QPlainTextEdit *m_notes;

    QWidget *m_downloading;
    QProgressBar *m_progress;
    QLabel *m_percent;
    QLabel *m_bytes;
    QWidget *m_ready;
    QLabel *m_readyHint;
    QWidget *m_failed;
    QLabel *m_failedText;

    QPushButton *m_later;
    QPushButton *m_download;
    QPushButton *m_cancel;
    QPushButton *m_show;
    QPushButton *m_done;
};
