#pragma once

#include <QWidget>

class Workspace;
class ImportService;
class QLabel;
class QPushButton;

// What the window shows while the shown list is empty: an invitation to drop photos, and the
// two open dialogs. Takes dropped local files (as a copy) into the shown list.
class EmptyCanvas final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EmptyCanvas)

public:
    EmptyCanvas(Workspace *workspace, ImportService *imports, QWidget *parent = nullptr);

    bool isDropTargeted() const { return m_dropTargeted; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    class Badge;

    void setDropTargeted(bool targeted);
    void refresh();

    Workspace *m_workspace;
    ImportService *m_imports;
    Badge *m_badge;
    QLabel *m_title;
    QLabel *m_subtitle;
    QPushButton *m_folders;
    QPushButton *m_files;
    bool m_dropTargeted = false;
};
