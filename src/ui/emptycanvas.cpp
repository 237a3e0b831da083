#include "ui/emptycanvas.h"

#include "app/importservice.h"
#include "app/workspace.h"
#include "ui/filedrops.h"
#include "ui/icons.h"
#include "ui/openpanels.h"
#include "ui/style.h"

#include <QDragEnterEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

constexpr int kBadgeDiameter = 60;
constexpr double kTargetedScale = 1.12;

} // namespace

// The round mode symbol above the texts; it grows and takes the accent colour under a drag.
class EmptyCanvas::Badge final : public QWidget
{
public:
    explicit Badge(QWidget *parent)
        : QWidget(parent)
    {
        const int side = int(kBadgeDiameter * kTargetedScale) + 2;
        setFixedSize(side, side);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

    void setState(ConversionMode mode, bool targeted)
    {
        m_icon = Icons::themed(mode == ConversionMode::jpegToJXL ? QStringLiteral("pikora-mode-compress")
                                                                 : QStringLiteral("pikora-mode-restore"));
        m_targeted = targeted;
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const double diameter = kBadgeDiameter * (m_targeted ? kTargetedScale : 1.0);
        const QRectF circle(QPointF(width() - diameter, height() - diameter) / 2, QSizeF(diameter, diameter));
        const QColor text = palette().color(QPalette::WindowText);
        const QColor accent = Style::accent(palette());
        painter.setPen(QPen(m_targeted ? accent : Style::faded(text, 0.1), 1.5));
        painter.drawEllipse(circle.adjusted(0.75, 0.75, -0.75, -0.75));

        // The symbol is drawn in one colour whatever the theme's icon uses.
        const int symbol = qRound(26 * (m_targeted ? kTargetedScale : 1.0));
        const qreal ratio = devicePixelRatioF();
        QPixmap tinted = m_icon.pixmap(QSize(symbol, symbol), ratio);
        {
            QPainter tint(&tinted);
            tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
            tint.fillRect(tinted.rect(), m_targeted ? accent : Style::faded(text, 0.6 * 0.8));
        }
        const QSizeF drawn = QSizeF(tinted.size()) / tinted.devicePixelRatio();
        painter.drawPixmap(QRectF(circle.center() - QPointF(drawn.width(), drawn.height()) / 2, drawn), tinted,
                           QRectF(tinted.rect()));
    }

private:
    QIcon m_icon;
    bool m_targeted = false;
};

EmptyCanvas::EmptyCanvas(Workspace *workspace, ImportService *imports, QWidget *parent)
    : QWidget(parent)
    , m_workspace(workspace)
    , m_imports(imports)
    , m_badge(new Badge(this))
    , m_title(new QLabel(this))
    , m_subtitle(new QLabel(this))
    , m_folders(new QPushButton(QIcon::fromTheme(QStringLiteral("folder"), Icons::themed(QStringLiteral("pikora-folder"))),
                                 tr("选择文件夹…"), this))
    , m_files(new QPushButton(QIcon::fromTheme(QStringLiteral("image-x-generic"), Icons::themed(QStringLiteral("pikora-photo"))),
                               tr("选择照片…"), this))
{
    setAcceptDrops(true);
    setAutoFillBackground(false);

    for (QLabel *label : {m_title, m_subtitle}) {
        label->setTextFormat(Qt::PlainText);
        label->setAlignment(Qt::AlignHCenter);
        label->setWordWrap(true);
    }
    m_title->setFont(Style::fontInDesignPoints(13.5, QFont::Medium));
    m_subtitle->setFont(Style::fontInDesignPoints(11.5));
    for (QPushButton *button : {m_folders, m_files}) {
        button->setFont(Style::fontInDesignPoints(11));
        button->setToolTip(button->text());
    }
    connect(m_folders, &QPushButton::clicked, this, [this] { OpenPanels::selectFolders(m_imports, window()); });
    connect(m_files, &QPushButton::clicked, this, [this] { OpenPanels::selectFiles(m_imports, m_workspace->activeMode(), window()); });

    auto *buttons = new QHBoxLayout;
    buttons->setSpacing(8);
    buttons->addStretch();
    buttons->addWidget(m_folders);
    buttons->addWidget(m_files);
    buttons->addStretch();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(0);
    layout->addStretch();
    layout->addWidget(m_badge, 0, Qt::AlignHCenter);
    layout->addSpacing(12);
    layout->addWidget(m_title);
    layout->addSpacing(4);
    layout->addWidget(m_subtitle);
    layout->addSpacing(16 + 2);
    layout->addLayout(buttons);
    layout->addStretch();

    connect(m_workspace, &Workspace::activeModeChanged, this, &EmptyCanvas::refresh);
    refresh();
}

void EmptyCanvas::refresh()
{
    const bool compressing = m_workspace->activeMode() == ConversionMode::jpegToJXL;
    if (m_dropTargeted)
        m_title->setText(tr("松开以添加照片"));
    else
        m_title->setText(compressing ? tr("拖放照片或文件夹到此处") : tr("拖放 JXL 照片到此处"));
    m_subtitle->setText(compressing ? tr("省下 20% 以上空间，画质与拍摄信息完好如初") : tr("精确复原为原始 JPEG 照片"));
    QPalette subtitle = m_subtitle->palette();
    subtitle.setColor(QPalette::WindowText, Style::faded(palette().color(QPalette::WindowText), 0.6));
    m_subtitle->setPalette(subtitle);
    m_badge->setState(m_workspace->activeMode(), m_dropTargeted);
    update();
}

void EmptyCanvas::setDropTargeted(bool targeted)
{
    if (targeted == m_dropTargeted)
        return;
    m_dropTargeted = targeted;
    refresh();
}

void EmptyCanvas::paintEvent(QPaintEvent *)
{
    if (!m_dropTargeted)
        return;
    QPainter painter(this);
    Style::paintDropHighlight(painter, rect(), palette());
}

void EmptyCanvas::dragEnterEvent(QDragEnterEvent *event)
{
    setDropTargeted(FileDrops::acceptAsCopy(event, this));
}

void EmptyCanvas::dragMoveEvent(QDragMoveEvent *event)
{
    setDropTargeted(FileDrops::acceptAsCopy(event, this));
}

void EmptyCanvas::dragLeaveEvent(QDragLeaveEvent *event)
{
    setDropTargeted(false);
    event->accept();
}

void EmptyCanvas::dropEvent(QDropEvent *event)
{
    setDropTargeted(false);
    if (FileDrops::acceptAsCopy(event, this))
        m_imports->importURLs(FileDrops::localFiles(event->mimeData()));
}

void EmptyCanvas::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        refresh();
}
