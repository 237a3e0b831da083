#include "ui/settingswindow.h"

#include "app/settingsstore.h"
#include "ui/aboutsettingstab.h"
#include "ui/generalsettingstab.h"
#include "ui/icons.h"
#include "ui/integrationsettingstab.h"
#include "ui/performancesettingstab.h"
#include "ui/uiplacement.h"

#include <QEvent>
#include <QKeyEvent>
#include <QScreen>
#include <QScrollArea>
#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace {

constexpr QSize minimumWindow{500, 380};
// At least what a window manager's title bar and borders take, until the window is shown and
// its own frame is known.
constexpr QMargins assumedFrame{8, 40, 8, 8};

// A page in a scroll area of the tab's own colour: on a screen too small for it, it scrolls
// instead of pushing the window's bottom off the screen.
QScrollArea *scrolling(QWidget *page, QWidget *parent)
{
    auto *area = new QScrollArea(parent);
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setWidget(page);
    area->viewport()->setAutoFillBackground(false);
    page->setAutoFillBackground(false);
    return area;
}

} // namespace

SettingsWindow::SettingsWindow(SettingsStore *settings, ToolStatus *tools, FileManagerActions *fileManagerActions,
                               UpdateManager *updates, AutoConvertAutostart *autoConvert, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_tabs(new QTabWidget(this))
{
    setWindowTitle(tr("偏好设置"));
    setObjectName(QStringLiteral("SettingsWindow"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(m_tabs);

    m_tabs->addTab(scrolling(new GeneralSettingsTab(settings, tools), m_tabs), Icons::themed(QStringLiteral("preferences-system")), tr("常规"));
    m_tabs->addTab(scrolling(new PerformanceSettingsTab(settings, settings->hardware()), m_tabs),
                   Icons::themed(QStringLiteral("computer")), tr("性能与硬件"));
    m_tabs->addTab(scrolling(new IntegrationSettingsTab(fileManagerActions, settings, autoConvert), m_tabs), Icons::themed(QStringLiteral("system-file-manager")),
                   tr("文件管理器集成"));
    m_tabs->addTab(scrolling(new AboutSettingsTab(settings, updates), m_tabs), Icons::themed(QStringLiteral("view-refresh")),
                   tr("关于与更新"));
    for (int i = 0; i < m_tabs->count(); ++i)
        page(i)->installEventFilter(this);
    fitContents();
}

void SettingsWindow::showTab(Tab tab)
{
    m_tabs->setCurrentIndex(static_cast<int>(tab));
}

void SettingsWindow::showToolPath(const QString &tool)
{
    showTab(Tab::general);
    if (auto *field = page(int(Tab::general))->findChild<QWidget *>(QStringLiteral("toolPath-") + tool)) {
        field->setFocus(Qt::OtherFocusReason);
        static_cast<QScrollArea *>(m_tabs->widget(int(Tab::general)))->ensureWidgetVisible(field);
    }
}

void SettingsWindow::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SettingsWindow::showEvent(QShowEvent *event)
{
    // The first time over the middle of the window it belongs to; later where the user left it.
    if (!m_placed) {
        fitContents(); // polished now, in the fonts it shows
        m_placed = true;
        if (parentWidget()) {
            QPoint corner = UiPlacement::centredOver(parentWidget()->window(), size().grownBy(windowFrame()));
            // Before the window manager has framed it, move() places the window itself, not
            // its frame: leave room for the title bar above it.
            if (frameGeometry() == geometry())
                corner += QPoint(assumedFrame.left(), assumedFrame.top());
            move(corner);
        }
    }
    QWidget::showEvent(event);
}

bool SettingsWindow::event(QEvent *event)
{
    // Other fonts change what every page needs.
    if (event->type() == QEvent::FontChange)
        fitContents();
    return QWidget::event(event);
}

bool SettingsWindow::eventFilter(QObject *watched, QEvent *event)
{
    // A page whose text grew wider (a long tool path) widens the window rather than scroll
    // sideways; a taller one scrolls.
    if (event->type() == QEvent::LayoutRequest)
        fitContents();
    return QWidget::eventFilter(watched, event);
}

QWidget *SettingsWindow::page(int index) const
{
    return static_cast<QScrollArea *>(m_tabs->widget(index))->widget();
}

QMargins SettingsWindow::windowFrame() const
{
    const QMargins known = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    return known.isNull() ? assumedFrame : known;
}

QSize SettingsWindow::roomOnScreen() const
{
    const QScreen *where = parentWidget() ? parentWidget()->screen() : screen();
    if (!where)
        return QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    return where->availableSize().shrunkBy(windowFrame());
}

void SettingsWindow::fitContents()
{
    // Wrapped labels report their height for a width: measure every page at the width the
    // window will have, so no page's text is cut off whichever is shown. The width leaves room
    // for a scroll bar, so a page that scrolls never scrolls sideways too.
    const int chromeWidth = 40 + style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    int width = minimumWindow.width();
    for (int i = 0; i < m_tabs->count(); ++i)
        width = std::max(width, page(i)->minimumSizeHint().width() + chromeWidth);
    int pageHeight = 0;
    const int pageWidth = width - chromeWidth;
    for (int i = 0; i < m_tabs->count(); ++i) {
        const QWidget *shown = page(i);
        const int height = shown->hasHeightForWidth() ? shown->heightForWidth(pageWidth) : shown->minimumSizeHint().height();
        pageHeight = std::max({pageHeight, height, shown->minimumSizeHint().height()});
    }
    const int chrome = m_tabs->tabBar()->sizeHint().height() + 40;
    const QSize whole(width, std::max(minimumWindow.height(), pageHeight + chrome));
    const QSize room = roomOnScreen();
    setMinimumSize(QSize(width, minimumWindow.height()).boundedTo(room));
    // Until it is on screen the window takes the size that shows every page whole, as far as
    // the screen allows; then the size is the user's.
    if (!m_placed)
        resize(whole.boundedTo(room));
}
