#include "ui/statspopup.h"

#include "app/lifetimestats.h"
#include "app/tasklist.h"
#include "app/workspace.h"
#include "model/formattedbytes.h"
#include "ui/glasspanel.h"
#include "ui/icons.h"
#include "ui/style.h"
#include "ui/windowstate.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QToolButton>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <algorithm>
#include <climits>

namespace StatsFigures {

qint64 estimatedSavedPhotosCount(qint64 lifetimeSavedBytes)
{
    if (lifetimeSavedBytes <= 0)
        return 0;
    const double photos = double(lifetimeSavedBytes) / 3670016.0;
    return std::max<qint64>(1, qint64(photos));
}

std::pair<QString, QString> formattedBytesParts(qint64 bytes)
{
    const QString text = formattedBytes(bytes);
    const QStringList pieces = text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (pieces.size() >= 2)
        return {pieces.at(0), pieces.at(1)};
    return {text, QString()};
}

QString estimateText(qint64 lifetimeSavedBytes)
{
    const int photos = int(std::min<qint64>(estimatedSavedPhotosCount(lifetimeSavedBytes), INT_MAX));
    if (photos == 0)
        return QCoreApplication::translate("StatsPopup", "压缩照片即可释放储存空间");
    return QCoreApplication::translate("StatsPopup", "相当于多容纳约 %n 张原始照片", nullptr, photos);
}

QString averageReductionText(std::optional<double> average)
{
    return average ? QStringLiteral("%1%").arg(*average, 0, 'f', 1) : QStringLiteral("—");
}

QString countCaption(int skippedNow)
{
    if (skippedNow < 1)
        return QCoreApplication::translate("StatsPopup", "历史累计");
    return QCoreApplication::translate("StatsPopup", "历史累计，不含本次跳过的 %n 张", nullptr, skippedNow);
}

} // namespace StatsFigures

// A rounded card on the panel.
class StatsPopup::Card final : public QFrame
{
public:
    Card(int radius, double fill, QWidget *parent)
        : QFrame(parent)
        , m_radius(radius)
        , m_fill(fill)
    {
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), m_radius, m_radius);
        painter.fillPath(path, Style::faded(palette().color(QPalette::Base), m_fill));
        painter.setPen(QPen(Style::faded(palette().color(QPalette::WindowText), 0.07), 0.5));
        painter.drawPath(path);
    }

private:
    int m_radius;
    double m_fill;
};

// The decorative fill bar: green into cyan over a faint track.
class StatsPopup::FillBar final : public QWidget
{
public:
    explicit FillBar(QWidget *parent)
        : QWidget(parent)
    {
        setFixedHeight(8);
    }
    void setFraction(double fraction)
    {
        m_fraction = fraction;
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Style::faded(palette().color(QPalette::WindowText), 0.06));
        painter.drawRoundedRect(QRectF(rect()), 3, 3);
        const double width = double(this->width()) * std::max(0.0, m_fraction);
        if (width <= 0)
            return;
        QLinearGradient gradient(0, 0, this->width(), 0);
        gradient.setColorAt(0, Style::green());
        gradient.setColorAt(1, QColor::fromRgbF(0.0f, 0.85f, 1.0f));
        painter.setBrush(gradient);
        painter.drawRoundedRect(QRectF(0, 0, width, height()), 3, 3);
    }

private:
    double m_fraction = 0.0;
};

namespace {

QLabel *makeIcon(const QString &name, int size, QWidget *parent)
{
    auto *label = new QLabel(parent);
    label->setPixmap(Icons::themed(name).pixmap(size, size));
    return label;
}

} // namespace

StatsPopup::StatsPopup(Workspace *workspace, LifetimeStats *stats, WindowState *view, QWidget *parent)
    : QFrame(parent, Qt::Popup)
    , m_workspace(workspace)
    , m_lifetime(stats)
    , m_view(view)
{
    setAccessibleName(tr("储存空间概览"));
    setFrameShape(QFrame::StyledPanel);
    setFixedWidth(panelWidth);
    const QColor ink = palette().color(QPalette::WindowText);
    const QColor secondary = Style::faded(ink, 0.6);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(12);

    auto *header = new QHBoxLayout;
    header->setSpacing(6);
    header->addWidget(makeIcon(QStringLiteral("pikora-gauge"), 14, this));
    m_title = Style::plainLabel(Style::fontInDesignPoints(13, QFont::Bold), ink, this);
    m_title->setText(tr("储存空间概览"));
    header->addWidget(m_title);
    header->addStretch(1);
    m_close = new QToolButton(this);
    m_close->setIcon(Icons::themed(QStringLiteral("window-close")));
    m_close->setIconSize(QSize(14, 14));
    m_close->setAutoRaise(true);
    m_close->setToolTip(tr("关闭 (Esc)"));
    m_close->setAccessibleName(tr("关闭"));
    connect(m_close, &QToolButton::clicked, this, &QWidget::close);
    header->addWidget(m_close);
    column->addLayout(header);

    auto *savings = new Card(8, 0.5, this);
    auto *savingsColumn = new QVBoxLayout(savings);
    savingsColumn->setContentsMargins(12, 12, 12, 12);
    savingsColumn->setSpacing(8);
    m_caption = Style::plainLabel(Style::fontInDesignPoints(11, QFont::Medium), secondary, savings);
    m_caption->setText(tr("已节省储存空间"));
    savingsColumn->addWidget(m_caption);
    auto *figure = new QHBoxLayout;
    figure->setSpacing(5);
    m_number = Style::plainLabel(Style::fontInDesignPoints(36, QFont::Bold), ink, savings);
    m_unit = Style::plainLabel(Style::fontInDesignPoints(18, QFont::DemiBold), secondary, savings);
    figure->addWidget(m_number, 0, Qt::AlignBottom);
    figure->addWidget(m_unit, 0, Qt::AlignBottom);
    figure->addStretch(1);
    savingsColumn->addLayout(figure);
    m_bar = new FillBar(savings);
    savingsColumn->addWidget(m_bar);
    m_estimate = Style::plainLabel(Style::fontInDesignPoints(10), secondary, savings);
    savingsColumn->addWidget(m_estimate);
    auto *badge = new QHBoxLayout;
    badge->setSpacing(4);
    badge->addWidget(makeIcon(QStringLiteral("pikora-seal"), 10, savings));
    m_badge = Style::plainLabel(Style::fontInDesignPoints(10, QFont::Medium), Style::green(), savings);
    m_badge->setText(tr("100% 原始画质"));
    badge->addWidget(m_badge);
    badge->addStretch(1);
    savingsColumn->addLayout(badge);
    column->addWidget(savings);

    struct CardText
    {
        QString title;
        QString icon;
        QString caption;
    };
    const CardText cards[] = {
        {tr("已压缩照片"), QStringLiteral("pikora-photo-stack"), QString()},
        {tr("平均缩减率"), QStringLiteral("pikora-shrink"), QString()},
        {tr("画质保证"), QStringLiteral("pikora-shield"), tr("完整保留色彩与拍摄信息")},
    };
    auto *row = new QHBoxLayout;
    row->setSpacing(10);
    for (const CardText &text : cards) {
        auto *card = new Card(6, 0.35, this);
        auto *cardColumn = new QVBoxLayout(card);
        cardColumn->setContentsMargins(9, 9, 9, 9);
        cardColumn->setSpacing(3);
        auto *top = new QHBoxLayout;
        top->setSpacing(4);
        QLabel *title = Style::plainLabel(Style::fontInDesignPoints(10), secondary, card);
        title->setText(text.title);
        top->addWidget(title);
        top->addStretch(1);
        QLabel *icon = makeIcon(text.icon, 10, card);
        top->addWidget(icon);
        cardColumn->addLayout(top);
        QLabel *value = Style::plainLabel(Style::fontInDesignPoints(13, QFont::Bold), ink, card);
        cardColumn->addWidget(value);
        QLabel *caption = Style::plainLabel(Style::fontInDesignPoints(9), Style::faded(secondary, 0.7), card);
        caption->setText(text.caption);
        caption->setWordWrap(true);
        cardColumn->addWidget(caption);
        cardColumn->addStretch(1);
        row->addWidget(card, 1);
        m_cardTitles.append(title);
        m_cardValues.append(value);
        m_cardCaptions.append(caption);
    }
    m_cardValues.at(2)->setText(tr("100% 无损"));
    column->addLayout(row);
    const QString averageDefinition = tr("已节省的字节数 ÷ 这些照片原来的字节数");
    for (QLabel *label : {m_cardTitles.at(1), m_cardValues.at(1), m_cardCaptions.at(1)})
        label->setToolTip(averageDefinition);

    m_refresh.setSingleShot(true);
    m_refresh.setInterval(0);
    connect(&m_refresh, &QTimer::timeout, this, &StatsPopup::refresh);
    const auto schedule = [this] {
        if (isVisible())
            m_refresh.start();
    };
    connect(m_workspace->compressTasks(), &TaskList::changed, this, schedule);
    connect(m_lifetime, &LifetimeStats::changed, this, schedule);
    refresh();
}

void StatsPopup::refresh()
{
    const qint64 saved = m_lifetime->savedBytes();
    const auto [number, unit] = StatsFigures::formattedBytesParts(saved);
    m_number->setText(number);
    m_unit->setText(unit);
    m_unit->setVisible(!unit.isEmpty());
    m_estimate->setText(StatsFigures::estimateText(saved));
    // Every figure is of all time; the list's skipped photos are named, as the rows show them
    // done but they saved nothing now.
    m_cardValues.at(0)->setText(tr("%n 张", nullptr, int(std::min<qint64>(m_lifetime->processedCount(), INT_MAX))));
    m_cardCaptions.at(0)->setText(StatsFigures::countCaption(m_workspace->compressTasks()->count(TaskStatus::skipped)));
    m_cardValues.at(1)->setText(StatsFigures::averageReductionText(m_lifetime->averageReduction()));
    m_cardCaptions.at(1)->setText(m_lifetime->averageCoversAll() ? tr("所有已压缩照片合计") : tr("不含旧版本记录的照片"));
}

bool StatsPopup::popUp(QWidget *anchor)
{
    if (!anchor || !anchor->isVisible() || !anchor->window()->isVisible())
        return false;
    m_anchor = anchor;
    setAttribute(Qt::WA_NoMouseReplay, false);
    refresh();
    adjustSize();
    const QPoint below = anchor->mapToGlobal(QPoint(anchor->width() / 2, anchor->height() + 4));
    QPoint topLeft(below.x() - width() / 2, below.y());
    if (const QScreen *screen = anchor->screen()) {
        const QRect room = screen->availableGeometry();
        topLeft.setX(std::clamp(topLeft.x(), room.left(), std::max(room.left(), room.right() - width())));
        topLeft.setY(std::clamp(topLeft.y(), room.top(), std::max(room.top(), room.bottom() - height())));
    }
    move(topLeft);
    show();
    return isVisible();
}

QStringList StatsPopup::texts() const
{
    QStringList list{m_title->text(), m_caption->text(), m_number->text()};
    if (m_unit->isVisibleTo(this))
        list.append(m_unit->text());
    list << m_estimate->text() << m_badge->text();
    for (qsizetype i = 0; i < m_cardValues.size(); ++i)
        list << m_cardTitles.at(i)->text() << m_cardValues.at(i)->text() << m_cardCaptions.at(i)->text();
    return list;
}

void StatsPopup::showEvent(QShowEvent *event)
{
    QFrame::showEvent(event);
    // The bar only hints at progress: a third full once something was saved, a sliver before.
    const double target = m_lifetime->savedBytes() > 0 ? 0.35 : 0.08;
    auto *animation = new QVariantAnimation(this);
    animation->setStartValue(0.0);
    animation->setEndValue(target);
    animation->setDuration(650);
    animation->setEasingCurve(QEasingCurve::OutBack);
    connect(animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_fill = value.toDouble();
        m_bar->setFraction(m_fill);
    });
    m_fill = 0.0;
    m_bar->setFraction(0.0);
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void StatsPopup::hideEvent(QHideEvent *event)
{
    QFrame::hideEvent(event);
    m_view->setShowStatsSheet(false);
}

void StatsPopup::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QFrame::keyPressEvent(event);
}

void StatsPopup::mousePressEvent(QMouseEvent *event)
{
    // A press on the statistics button closes the panel and must not reach the button as well:
    // replayed there, it would open the panel again at once.
    if (!rect().contains(event->position().toPoint()) && m_anchor
        && m_anchor->rect().contains(m_anchor->mapFromGlobal(event->globalPosition().toPoint())))
        setAttribute(Qt::WA_NoMouseReplay, true);
    QFrame::mousePressEvent(event);
}
