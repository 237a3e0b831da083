#pragma once

#include <QWidget>

// The drop outline over a whole widget while files are dragged over it; clicks pass through.
class DropOverlay final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(DropOverlay)

public:
    explicit DropOverlay(QWidget *parent);

    // Shows the outline over the parent, or hides it.
    void setTargeted(bool targeted);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
};
