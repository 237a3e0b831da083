#include "ui/settingswindow.h"

#include "platform/hardwaredetector.h"
#include "ui/aboutsettingstab.h"
#include "ui/generalsettingstab.h"
#include "ui/icons.h"
#include "ui/integrationsettingstab.h"
#include "ui/performancesettingstab.h"
#include "ui/uiplacement.h"

#include <QEvent>
#include <QKeyEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr QSize minimumWindow{500, 380};

} // namespace

SettingsWindow::SettingsWindow(AppState *state, UpdateManager *updates, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_tabs(new QTabWidget(this))
{
    setWindowTitle(tr("偏好设置"));
    setObjectName(QStringLiteral("SettingsWindow"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(m_tabs);

    m_tabs->addTab(new GeneralSettingsTab(state, m_tabs), Icons::themed(QStringLiteral("preferences-system")), tr("常规"));
    m_tabs->addTab(new PerformanceSettingsTab(state, HardwareDetector::shared(), m_tabs), Icons::themed(QStringLiteral("computer")),
                   tr("性能与硬件"));
    m_tabs->addTab(new IntegrationSettingsTab(state, m_tabs), Icons::themed(QStringLiteral("system-file-manager")),
                   tr("文件管理器集成"));
    m_tabs->addTab(new AboutSettingsTab(state, updates, m_tabs), Icons::themed(QStringLiteral("view-refresh")), tr("关于与更新"));
    fitContents();
}

void SettingsWindow::showTab(Tab tab)
{
    m_tabs->setCurrentIndex(static_cast<int>(tab));
}

void SettingsWindow::showToolPath(const QString &tool)
{
    showTab(Tab::general);
    if (auto *field = m_tabs->widget(int(Tab::general))->findChild<QWidget *>(QStringLiteral("toolPath-") + tool))
        field->setFocus(Qt::OtherFocusReason);
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
    if (!m_placed && parentWidget()) {
        m_placed = true;
        move(UiPlacement::centredOver(parentWidget()->window(), frameGeometry().size()));
    }
    QWidget::showEvent(event);
}

bool SettingsWindow::event(QEvent *event)
{
    // A page whose text changed (a longer tool path, a font change) may need more room.
    if (event->type() == QEvent::LayoutRequest || event->type() == QEvent::FontChange)
        fitContents();
    return QWidget::event(event);
}

void SettingsWindow::fitContents()
{
    // Wrapped labels report their height for a width: measure every page at the width the
    // window will have, so no page's text is cut off whichever is shown.
    int width = minimumWindow.width();
    for (int i = 0; i < m_tabs->count(); ++i)
        width = std::max(width, m_tabs->widget(i)->minimumSizeHint().width() + 40);
    int pageHeight = 0;
    const int pageWidth = width - 40;
    for (int i = 0; i < m_tabs->count(); ++i) {
        QWidget *page = m_tabs->widget(i);
        const int height = page->hasHeightForWidth() ? page->heightForWidth(pageWidth) : page->minimumSizeHint().height();
        pageHeight = std::max({pageHeight, height, page->minimumSizeHint().height()});
    }
    const int chrome = m_tabs->tabBar()->sizeHint().height() + 40;
    const QSize needed(width, std::max(minimumWindow.height(), pageHeight + chrome));
    setMinimumSize(needed);
    if (this->width() < needed.width() || this->height() < needed.height())
        resize(std::max(this->width(), needed.width()), std::max(this->height(), needed.height()));
}
