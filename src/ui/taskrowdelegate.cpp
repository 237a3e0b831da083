#include "ui/taskrowdelegate.h"

#include "app/tasklist.h"
#include "app/tasktablemodel.h"
#include "model/taskitem.h"
#include "ui/icons.h"
#include "ui/style.h"
#include "ui/thumbnailcache.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTextLayout>
#include <QToolTip>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kPadding = 8;
constexpr int kStatusPadding = 6;
constexpr int kRevealSize = 14;

QRectF centredSquare(const QRectF &around, qreal side)
{
    return QRectF(around.center() - QPointF(side, side) / 2, QSizeF(side, side));
}

void drawClock(QPainter *p, const QRectF &box, const QColor &color)
{
    p->setPen(QPen(color, 1.1));
    p->setBrush(Qt::NoBrush);
    p->drawEllipse(box.adjusted(0.6, 0.6, -0.6, -0.6));
    const QPointF c = box.center();
    p->drawLine(c, c - QPointF(0, box.height() * 0.3));
    p->drawLine(c, c + QPointF(box.width() * 0.22, 0));
}

void drawCheckCircle(QPainter *p, const QRectF &box, const QColor &color, const QColor &mark = Qt::white)
{
    p->setPen(Qt::NoPen);
    p->setBrush(color);
    p->drawEllipse(box);
    QPainterPath tick;
    tick.moveTo(box.left() + box.width() * 0.28, box.top() + box.height() * 0.52);
    tick.lineTo(box.left() + box.width() * 0.44, box.top() + box.height() * 0.68);
    tick.lineTo(box.left() + box.width() * 0.73, box.top() + box.height() * 0.35);
    p->setPen(QPen(mark, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p->setBrush(Qt::NoBrush);
    p->drawPath(tick);
}

void drawWarning(QPainter *p, const QRectF &box, const QColor &color, const QColor &mark = Qt::white)
{
    QPainterPath triangle;
    triangle.moveTo(box.center().x(), box.top() + 0.5);
    triangle.lineTo(box.right(), box.bottom() - 0.5);
    triangle.lineTo(box.left(), box.bottom() - 0.5);
    triangle.closeSubpath();
    p->setPen(QPen(color, 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p->setBrush(color);
    p->drawPath(triangle);
    p->setPen(QPen(mark, 1.3, Qt::SolidLine, Qt::RoundCap));
    const qreal x = box.center().x();
    p->drawLine(QPointF(x, box.top() + box.height() * 0.38), QPointF(x, box.top() + box.height() * 0.66));
    p->drawPoint(QPointF(x, box.top() + box.height() * 0.82));
}

void drawMinusCircle(QPainter *p, const QRectF &box, const QColor &color)
{
    p->setPen(QPen(color, 1.1));
    p->setBrush(Qt::NoBrush);
    p->drawEllipse(box.adjusted(0.6, 0.6, -0.6, -0.6));
    p->drawLine(QPointF(box.left() + box.width() * 0.3, box.center().y()),
                QPointF(box.right() - box.width() * 0.3, box.center().y()));
}

void drawSpinner(QPainter *p, const QRectF &box, const QColor &color, int phase)
{
    const QPointF c = box.center();
    const qreal outer = box.width() / 2;
    for (int i = 0; i < 12; ++i) {
        const double angle = (i * 30.0) * M_PI / 180.0;
        const int age = (phase - i + 12) % 12;
        p->setPen(QPen(Style::faded(color, 1.0 - age * 0.07), 1.3, Qt::SolidLine, Qt::RoundCap));
        const QPointF dir(std::sin(angle), -std::cos(angle));
        p->drawLine(c + dir * outer * 0.45, c + dir * outer);
    }
}

void drawReveal(QPainter *p, const QRectF &box, const QColor &color)
{
    // A square with an arrow leaving its corner: "show where this file is".
    p->setPen(QPen(color, 1.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p->setBrush(Qt::NoBrush);
    const QRectF frame = box.adjusted(1.5, 1.5, -1.5, -1.5);
    p->drawRoundedRect(frame, 2, 2);
    const QPointF from = frame.center();
    const QPointF to = frame.topRight() + QPointF(-frame.width() * 0.22, frame.height() * 0.22);
    p->drawLine(from, to);
    p->drawLine(to, to - QPointF(frame.width() * 0.28, 0));
    p->drawLine(to, to + QPointF(0, frame.height() * 0.28));
}

// Shown as it is (a file named "<b>x.jpg" is no markup), broken into lines of a readable width
// here: rich text would break only at blanks, and the paths in a tool's message have none.
QString plainToolTip(const QString &text, const QScreen *screen)
{
    const QFont font = QToolTip::font();
    qreal width = QFontMetricsF(font).averageCharWidth() * TaskRowDelegate::kToolTipChars;
    if (screen)
        width = std::min(width, screen->availableGeometry().width() * 0.8);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    QStringList lines;
    for (const QString &paragraph : text.split(QLatin1Char('\n'))) {
        QTextLayout layout(paragraph, font);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            QString piece = paragraph.mid(line.textStart(), line.textLength());
            while (piece.endsWith(QLatin1Char(' ')))
                piece.chop(1);
            lines.append(piece);
        }
        layout.endLayout();
        if (paragraph.isEmpty())
            lines.append(QString());
    }
    return QStringLiteral("<p style='white-space:pre'>") + lines.join(QLatin1Char('\n')).toHtmlEscaped()
        + QStringLiteral("</p>");
}

QRect textRect(const QRect &cell)
{
    return cell.adjusted(kPadding, 0, -kPadding, 0);
}

} // namespace

TaskRowDelegate::TaskRowDelegate(ThumbnailCache *thumbnails, QObject *parent)
    : QStyledItemDelegate(parent)
    , m_thumbnails(thumbnails)
    , m_nameFont(Style::fontInDesignPoints(12.5, QFont::Medium))
    , m_hintFont(Style::fontInDesignPoints(11))
    , m_sizeFont(Style::monospaceInDesignPoints(11))
    , m_sizeStrongFont(Style::monospaceInDesignPoints(11, QFont::Medium))
    , m_smallFont(Style::fontInDesignPoints(11))
    , m_statusFont(Style::fontInDesignPoints(11))
    , m_statusStrongFont(Style::fontInDesignPoints(11, QFont::Medium))
    , m_detailFont(Style::fontInDesignPoints(9.5))
    , m_badgeFont(Style::fontInDesignPoints(10.5, QFont::DemiBold))
    , m_restoredBadgeFont(Style::fontInDesignPoints(9.5, QFont::DemiBold))
{
}

QRect TaskRowDelegate::revealButtonRect(const QRect &cell)
{
    return QRect(cell.right() - kStatusPadding - kRevealSize + 1, cell.center().y() - kRevealSize / 2 + 1, kRevealSize,
                 kRevealSize);
}

int TaskRowDelegate::columnWidth(int column) const
{
    const auto widest = [&](const QFont &font) {
        const QFontMetrics metrics(font);
        int width = 0;
        for (const QString &text : TaskTableModel::cellTexts(TaskTableModel::Column(column)))
            width = std::max(width, metrics.horizontalAdvance(text));
        return width;
    };
    switch (TaskTableModel::Column(column)) {
    case TaskTableModel::OriginalSizeColumn:
    case TaskTableModel::ResultSizeColumn:
        return widest(m_sizeStrongFont) + 2 * kPadding + 1;
    case TaskTableModel::SavingsColumn:
        // The badge's pill adds its own room around the text.
        return std::max(widest(m_badgeFont), widest(m_restoredBadgeFont)) + 10 + 2 * kPadding + 1;
    case TaskTableModel::StatusColumn: {
        // Symbol, label, the finished job's time and the reveal button.
        const int detail = QFontMetrics(m_detailFont).horizontalAdvance(QStringLiteral("· 99.99s"));
        return 2 * kStatusPadding + 11 + 4 + widest(m_statusStrongFont) + 4 + detail + 4 + kRevealSize + 3;
    }
    case TaskTableModel::NameColumn:
    case TaskTableModel::ColumnCount:
        break;
    }
    return 0;
}

QSize TaskRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(kRowHeight);
    return size;
}

void TaskRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    // The style draws the row background (alternating, selected, focus); the content is ours.
    QStyleOptionViewItem background = option;
    initStyleOption(&background, index);
    background.text.clear();
    background.icon = QIcon();
    background.features &= ~QStyleOptionViewItem::HasDecoration;
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &background, painter, widget);

    const bool selected = option.state & QStyle::State_Selected;
    const QColor text = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    const QString display = index.data(Qt::DisplayRole).toString();
    const bool done = index.data(TaskTableModel::TaskStatusRole).toInt() == int(TaskStatus::completed);

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    switch (TaskTableModel::Column(index.column())) {
    case TaskTableModel::NameColumn:
        paintName(painter, option, index, text);
        break;
    case TaskTableModel::OriginalSizeColumn:
        painter->setFont(m_sizeFont);
        painter->setPen(Style::faded(text, 0.6));
        painter->drawText(textRect(option.rect), Qt::AlignVCenter | Qt::AlignLeft, display);
        break;
    case TaskTableModel::ResultSizeColumn:
        if (done && display != QLatin1String("-")) {
            painter->setFont(m_sizeStrongFont);
            painter->setPen(text);
        } else {
            painter->setFont(m_sizeFont);
            painter->setPen(Style::faded(text, 0.6 * 0.5));
        }
        painter->drawText(textRect(option.rect), Qt::AlignVCenter | Qt::AlignLeft, display);
        break;
    case TaskTableModel::SavingsColumn:
        paintBadge(painter, option, index, text);
        break;
    case TaskTableModel::StatusColumn:
        paintStatus(painter, option, index, text);
        break;
    case TaskTableModel::ColumnCount:
        break;
    }
    painter->restore();
}

void TaskRowDelegate::paintName(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index,
                                const QColor &text) const
{
    const QRect cell = option.rect;
    const QRectF square(cell.left() + kPadding, cell.center().y() - kThumbnailSize / 2.0 + 0.5, kThumbnailSize,
                        kThumbnailSize);
    QPainterPath rounded;
    rounded.addRoundedRect(square, 4, 4);
    const QString path = index.data(TaskTableModel::ShownFileRole).toUrl().toLocalFile();
    const QImage thumbnail = m_thumbnails ? m_thumbnails->image(path) : QImage();
    if (!thumbnail.isNull()) {
        painter->save();
        painter->setClipPath(rounded);
        painter->drawImage(square, thumbnail);
        painter->restore();
        painter->setPen(QPen(Style::faded(text, 0.12), 0.5));
        painter->setBrush(Qt::NoBrush);
        painter->drawPath(rounded);
    } else {
        const bool failed = m_thumbnails && m_thumbnails->hasFailed(path);
        if (m_thumbnails && !failed)
            m_thumbnails->request(path);
        painter->fillPath(rounded, Style::faded(text, 0.05));
        static const QIcon icon =
            QIcon::fromTheme(QStringLiteral("image-x-generic"), Icons::themed(QStringLiteral("pikora-photo")));
        const qreal side = failed ? kThumbnailSize - 4 : kThumbnailSize * 0.45 + 2;
        icon.paint(painter, centredSquare(square, side).toAlignedRect(), Qt::AlignCenter,
                   failed ? QIcon::Normal : QIcon::Disabled);
        painter->setPen(QPen(Style::faded(text, 0.08), 0.5));
        painter->setBrush(Qt::NoBrush);
        painter->drawPath(rounded);
    }

    const QRect nameRect(int(square.right()) + kPadding, cell.top(), cell.right() - int(square.right()) - 2 * kPadding,
                         cell.height());
    // Where names repeat, the folder that tells the row apart follows the name, fainter; the name
    // keeps the room it needs, the folder takes what is left (its start is what differs).
    const QString hint = index.data(TaskTableModel::FolderHintRole).toString();
    const QFontMetrics nameMetrics(m_nameFont);
    const QFontMetrics hintMetrics(m_hintFont);
    const int gap = hint.isEmpty() ? 0 : kPadding;
    const int hintRoom = hint.isEmpty() ? 0 : std::min(hintMetrics.horizontalAdvance(hint), nameRect.width() / 2);
    const QString name = nameMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle,
                                                nameRect.width() - hintRoom - gap);
    painter->setFont(m_nameFont);
    painter->setPen(text);
    painter->drawText(nameRect, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, name);
    if (hint.isEmpty())
        return;
    QRect hintRect = nameRect;
    hintRect.setLeft(nameRect.left() + nameMetrics.horizontalAdvance(name) + gap);
    painter->setFont(m_hintFont);
    painter->setPen(Style::faded(text, 0.6));
    painter->drawText(hintRect, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine,
                      hintMetrics.elidedText(hint, Qt::ElideRight, hintRect.width()));
}

void TaskRowDelegate::paintBadge(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index,
                                 const QColor &text) const
{
    const QString display = index.data(Qt::DisplayRole).toString();
    const QRect cell = textRect(option.rect);
    if (display == QLatin1String("-")) {
        painter->setFont(m_smallFont);
        painter->setPen(Style::faded(text, 0.6 * 0.5));
        painter->drawText(cell, Qt::AlignVCenter | Qt::AlignLeft, display);
        return;
    }
    const bool restoring = index.data(TaskTableModel::ModeRole).toInt() == int(ConversionMode::jxlToJPEG);
    const bool selected = option.state & QStyle::State_Selected;
    const QColor tint = selected ? text : restoring ? Style::accent(option.palette) : Style::green();
    const QFont &font = restoring ? m_restoredBadgeFont : m_badgeFont;
    const QFontMetricsF metrics(font);
    const QString shown = metrics.elidedText(display, Qt::ElideRight, cell.width() - 10);
    const QSizeF textSize(metrics.horizontalAdvance(shown), metrics.height());
    const QRectF pill(cell.left(), cell.center().y() - textSize.height() / 2 - 1.5 + 0.5, textSize.width() + 10,
                      textSize.height() + 3);
    painter->setPen(Qt::NoPen);
    painter->setBrush(Style::faded(tint, 0.12));
    painter->drawRoundedRect(pill, 3, 3);
    painter->setFont(font);
    painter->setPen(tint);
    painter->drawText(pill, Qt::AlignCenter, shown);
}

void TaskRowDelegate::paintStatus(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index,
                                  const QColor &text) const
{
    const QRect cell = option.rect.adjusted(kStatusPadding, 0, -kStatusPadding, 0);
    const auto status = TaskStatus(index.data(TaskTableModel::TaskStatusRole).toInt());
    const QString label = index.data(Qt::DisplayRole).toString();
    const QString detail = index.data(TaskTableModel::StatusDetailRole).toString();
    const bool warned = !index.data(TaskTableModel::WarningRole).toString().isEmpty();
    const QColor secondary = Style::faded(text, 0.6);
    // On a highlighted row the status colours would vanish into the highlight.
    const bool selected = option.state & QStyle::State_Selected;

    QColor symbolColor = secondary;
    QColor labelColor = secondary;
    const QFont *font = &m_statusFont;
    const QRectF symbol(cell.left(), cell.center().y() - 5.5 + 0.5, 11, 11);
    switch (status) {
    case TaskStatus::pending:
        drawClock(painter, symbol.adjusted(0.5, 0.5, -0.5, -0.5), secondary);
        break;
    case TaskStatus::skipped:
        drawMinusCircle(painter, symbol, secondary);
        break;
    case TaskStatus::processing:
    case TaskStatus::verifying:
        labelColor = text;
        drawSpinner(painter, symbol, text, m_spinnerPhase);
        break;
    case TaskStatus::completed:
        symbolColor = labelColor = selected ? text : Style::green();
        font = &m_statusStrongFont;
        if (warned)
            drawWarning(painter, symbol, Style::orange());
        else
            drawCheckCircle(painter, symbol, symbolColor,
                            selected ? option.palette.color(QPalette::Highlight) : QColor(Qt::white));
        break;
    case TaskStatus::failed:
        symbolColor = labelColor = selected ? text : Style::red();
        font = &m_statusStrongFont;
        drawWarning(painter, symbol, symbolColor,
                    selected ? option.palette.color(QPalette::Highlight) : QColor(Qt::white));
        break;
    }

    const QRect reveal = revealButtonRect(option.rect);
    qreal x = symbol.right() + 4;
    const qreal room = reveal.left() - 3 - x;
    painter->setFont(*font);
    painter->setPen(labelColor);
    const QFontMetricsF labelMetrics(*font);
    const QString shownLabel = labelMetrics.elidedText(label, Qt::ElideRight, room);
    painter->drawText(QRectF(x, cell.top(), room, cell.height()), Qt::AlignVCenter | Qt::AlignLeft, shownLabel);
    x += labelMetrics.horizontalAdvance(shownLabel) + 4;
    if (!detail.isEmpty() && x < reveal.left() - 4) {
        const QFont &small = m_detailFont;
        painter->setFont(small);
        painter->setPen(secondary);
        const QString shownDetail = QFontMetricsF(small).elidedText(detail, Qt::ElideRight, reveal.left() - 4 - x);
        painter->drawText(QRectF(x, cell.top(), reveal.left() - 4 - x, cell.height()), Qt::AlignVCenter | Qt::AlignLeft,
                          shownDetail);
    }
    drawReveal(painter, QRectF(reveal).adjusted(2, 2, -2, -2), Style::faded(text, 0.6 * 0.6));
}

bool TaskRowDelegate::editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                                  const QModelIndex &index)
{
    if (index.column() == TaskTableModel::StatusColumn && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton && revealButtonRect(option.rect).contains(mouse->position().toPoint())) {
            Q_EMIT revealRequested(index);
            return true;
        }
    }
    return QStyledItemDelegate::editorEvent(event, model, option, index);
}

bool TaskRowDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                                const QModelIndex &index)
{
    if (event->type() == QEvent::ToolTip && index.column() == TaskTableModel::StatusColumn
        && revealButtonRect(option.rect).contains(event->pos())) {
        QToolTip::showText(event->globalPos(), tr("在文件管理器中显示"), view->viewport(), option.rect);
        return true;
    }
    if (event->type() == QEvent::ToolTip) {
        // Paths and tool messages are shown as they are: a file named "<b>x.jpg" is no markup.
        const QString text = index.data(Qt::ToolTipRole).toString();
        if (text.isEmpty()) {
            QToolTip::hideText();
            event->ignore();
        } else {
            QToolTip::showText(event->globalPos(), plainToolTip(text, view->screen()), view->viewport(), option.rect);
        }
        return true;
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}
