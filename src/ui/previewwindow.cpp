#include "ui/previewwindow.h"

#include "ui/thumbnailer.h"
#include "ui/uiplacement.h"
#include "ui/windowstate.h"

#include <QCloseEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QtConcurrent/QtConcurrentRun>

namespace {

constexpr int kFallbackEdge = 2048;

} // namespace

PreviewWindow::PreviewWindow(WindowState *view, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_view(view)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    setMinimumSize(320, 240);
    setAccessibleName(tr("照片预览"));
    connect(m_view, &WindowState::previewItemURLChanged, this, &PreviewWindow::follow);
    follow();
}

QString PreviewWindow::statusText() const
{
    if (m_loading)
        return tr("正在载入…");
    if (m_image.isNull())
        return tr("无法预览此文件");
    return {};
}

void PreviewWindow::follow()
{
    const std::optional<QUrl> &url = m_view->previewItemURL();
    if (!url || !url->isLocalFile()) {
        ++m_generation;
        m_path.clear();
        m_image = QImage();
        m_loading = false;
        hide();
        return;
    }
    const QString path = url->toLocalFile();
    if (path != m_path || !isVisible()) {
        m_path = path;
        m_image = QImage();
        m_loading = true;
        const quint64 generation = ++m_generation;
        const QScreen *display = screen();
        const int edge = display ? qRound(std::max(display->availableSize().width(), display->availableSize().height())
                                          * display->devicePixelRatio())
                                 : kFallbackEdge;
        QtConcurrent::run([path, edge] { return Thumbnailer::decode(path, edge); })
            .then(this, [this, generation](const QImage &image) {
                // A later preview replaced this one while it was decoding.
                if (generation != m_generation)
                    return;
                m_image = image;
                m_loading = false;
                if (!image.isNull() && screen()) {
                    const QSize room = screen()->availableSize() * 0.8;
                    const QSize logical = (QSizeF(image.size()) / devicePixelRatioF()).toSize();
                    resize(logical.boundedTo(room).expandedTo(minimumSize()));
                    placeOverParent();
                }
                update();
                Q_EMIT loaded();
            });
        setWindowTitle(QFileInfo(path).fileName());
        setAccessibleDescription(path);
        if (!isVisible()) {
            resize(display ? display->availableSize() * 0.6 : QSize(800, 600));
            placeOverParent();
        }
    }
    show();
    raise();
    activateWindow();
    update();
}

void PreviewWindow::placeOverParent()
{
    if (parentWidget())
        move(UiPlacement::centredOver(parentWidget()->window(), frameGeometry().size()));
}

void PreviewWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), QColor(0x1E, 0x1E, 0x1E));
    if (m_image.isNull()) {
        painter.setPen(QColor(0xB0, 0xB0, 0xB0));
        painter.drawText(rect(), Qt::AlignCenter, statusText());
        return;
    }
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QSizeF fitted = QSizeF(m_image.size()).scaled(QSizeF(size()), Qt::KeepAspectRatio);
    const QRectF target(QPointF((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
    painter.drawImage(target, m_image);
}

void PreviewWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Space) {
        close();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void PreviewWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
    // Clearing WindowState's preview file hides the window (follow()).
    m_view->setPreviewItemURL(std::nullopt);
}
