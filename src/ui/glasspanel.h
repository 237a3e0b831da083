#pragma once

#include <QWidget>

// A translucent rounded panel that floats over the window's content; the islands of the
// chrome bar are drawn on it.
class GlassPanel : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(GlassPanel)

public:
    // The height of an island and the size of its round buttons.
    static constexpr int islandHeight = 36;

    explicit GlassPanel(int cornerRadius, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int m_cornerRadius;
};
