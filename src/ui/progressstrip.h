#pragma once

#include <QVariantAnimation>
#include <QWidget>

// A thin bar across the window's bottom edge while a batch runs: a faint track and a green bar
// as long as the share of the batch that is done. Changes glide rather than jump.
class ProgressStrip final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ProgressStrip)

public:
    static constexpr int stripHeight = 2;

    explicit ProgressStrip(QWidget *parent = nullptr);

    // 0.0 to 1.0 (clamped); the bar moves there over a short animation.
    void setProgress(double progress);
    double progress() const { return m_target; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QVariantAnimation m_animation;
    double m_target = 0.0;
    double m_shown = 0.0;
};
