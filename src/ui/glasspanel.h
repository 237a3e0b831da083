#pragma once

#include <QColor>
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

// Colours and type of the window's chrome.
namespace ChromeStyle {
QColor green();
QColor orange();
// The palette's text colour at an opacity.
QColor faded(const QColor &color, double opacity);
// The application font at a pixel size.
QFont font(int pixelSize, QFont::Weight weight = QFont::Normal);
QFont monospacedFont(int pixelSize, QFont::Weight weight = QFont::Normal);
} // namespace ChromeStyle
