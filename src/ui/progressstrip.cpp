#include "ui/progressstrip.h"

#include "ui/style.h"

#include <QPainter>

#include <algorithm>

ProgressStrip::ProgressStrip(QWidget *parent)
    : QWidget(parent)
{
    setFixedHeight(stripHeight);
    setAccessibleName(tr("处理进度"));
    m_animation.setDuration(300);
    m_animation.setEasingCurve(QEasingCurve::OutCubic);
    connect(&m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_shown = value.toDouble();
        update();
    });
}

void ProgressStrip::setProgress(double progress)
{
    progress = std::clamp(progress, 0.0, 1.0);
    if (qFuzzyCompare(1.0 + progress, 1.0 + m_target))
        return;
    m_target = progress;
    setAccessibleDescription(QStringLiteral("%1%").arg(qRound(progress * 100)));
    m_animation.stop();
    if (!isVisible()) {
        m_shown = progress; // nothing to watch glide
        update();
        return;
    }
    m_animation.setStartValue(m_shown);
    m_animation.setEndValue(progress);
    m_animation.start();
}

void ProgressStrip::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Style::faded(palette().color(QPalette::WindowText), 0.06));
    const double width = std::max(0.0, double(this->width()) * m_shown);
    painter.fillRect(QRectF(0, 0, width, height()), Style::green());
}
