#include "ui/aboutsettingstab.h"

#include "app/settingsstore.h"
#include "integration/updatemanager.h"
#include "ui/elidedlabel.h"
#include "ui/icons.h"
#include "ui/settingsedit.h"
#include "ui/style.h"
#include "ui/updatetexts.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

AboutSettingsTab::AboutSettingsTab(SettingsStore *store, UpdateManager *updates, QWidget *parent)
    : QWidget(parent)
    , m_settingsStore(store)
    , m_updates(updates)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);

    auto *application = new QGroupBox(this);
    auto *appRow = new QHBoxLayout(application);
    auto *icon = new QLabel(application);
    icon->setPixmap(Style::applicationIcon(QStringLiteral("image-x-generic")).pixmap(52, 52));
    icon->setAccessibleName(tr("Pikora 图标"));
    appRow->addWidget(icon);
    auto *names = new QVBoxLayout;
    names->setSpacing(3);
    auto *nameRow = new QHBoxLayout;
    nameRow->setSpacing(8);
    QLabel *product = Style::plainLabel(QStringLiteral("Pikora"), application);
    product->setFont(Style::fontRelativeToDesktop(product, 16, QFont::Bold));
    nameRow->addWidget(product);
    nameRow->addStretch(1);
    names->addLayout(nameRow);
    QLabel *version = Style::plainLabel(
        tr("版本 %1（构建 %2）").arg(UpdateManager::currentAppVersion(), UpdateManager::currentBuildNumber()), application);
    version->setFont(Style::fontRelativeToDesktop(version, 11.5));
    Style::setTextColor(version, Style::secondary(version));
    version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    names->addWidget(version);
    appRow->addLayout(names, 1);
    layout->addWidget(application);

    auto *updatesBox = new QGroupBox(tr("软件更新"), this);
    auto *updatesLayout = new QVBoxLayout(updatesBox);
    m_autoCheck = new QCheckBox(tr("启动应用时自动检查更新"), updatesBox);
    updatesLayout->addWidget(m_autoCheck);
    auto *statusRow = new QHBoxLayout;
    QLabel *statusCaption = Style::plainLabel(tr("当前更新状态："), updatesBox);
    statusCaption->setFont(Style::fontRelativeToDesktop(statusCaption, 12));
    statusRow->addWidget(statusCaption);
    m_statusIcon = new QLabel(updatesBox);
    statusRow->addWidget(m_statusIcon);
    m_statusText = new ElidedLabel(updatesBox);
    m_statusText->setFont(Style::fontRelativeToDesktop(m_statusText, 11));
    statusRow->addWidget(m_statusText, 1);
    m_check = new QPushButton(updatesBox);
    m_check->setDefault(true);
    statusRow->addWidget(m_check);
    updatesLayout->addLayout(statusRow);
    layout->addWidget(updatesBox);

    auto *support = new QGroupBox(tr("项目支持"), this);
    auto *supportRow = new QHBoxLayout(support);
    supportRow->addWidget(Style::plainLabel(tr("Pikora官方网站"), support));
    supportRow->addStretch(1);
    auto *website = new QPushButton(tr("打开网页"), support);
    website->setFlat(true);
    website->setCursor(Qt::PointingHandCursor);
    QPalette link = website->palette();
    link.setColor(QPalette::ButtonText, Style::accent(website->palette()));
    website->setPalette(link);
    supportRow->addWidget(website);
    layout->addWidget(support);
    layout->addStretch(1);

    connect(m_autoCheck, &QCheckBox::toggled, this, [this](bool on) {
        SettingsEdit::apply(m_settingsStore, [on](AppSettings &settings) { settings.autoCheckForUpdates = on; });
    });
    connect(m_check, &QPushButton::clicked, this,
            [this] { m_updates->checkForUpdates(m_settingsStore->settings().customUpdateFeedURL, true); });
    connect(website, &QPushButton::clicked, m_updates, &UpdateManager::openProductWebsite);
    connect(m_settingsStore, &SettingsStore::settingsChanged, this, &AboutSettingsTab::fill);
    for (auto signal : {&UpdateManager::statusChanged, &UpdateManager::lastCheckedDateChanged, &UpdateManager::manualCheckingChanged})
        connect(m_updates, signal, this, &AboutSettingsTab::showStatus);
    fill();
    showStatus();
}

void AboutSettingsTab::fill()
{
    const QSignalBlocker blocker(m_autoCheck);
    m_autoCheck->setChecked(m_settingsStore->settings().autoCheckForUpdates);
}

void AboutSettingsTab::showStatus()
{
    using Kind = UpdateStatus::Kind;
    const UpdateStatus &status = m_updates->status();
    m_statusText->setFullText(UpdateTexts::statusLine(status, m_updates->lastCheckedDate()));

    QString icon;
    QColor color = Style::secondary(this);
    QFont font = Style::fontRelativeToDesktop(m_statusText, 11);
    switch (status.kind) {
    case Kind::idle:
        break;
    case Kind::checking:
    case Kind::downloading:
        icon = QStringLiteral("process-working");
        color = palette().color(QPalette::WindowText);
        break;
    case Kind::upToDate:
        icon = QStringLiteral("emblem-default");
        color = Style::successText();
        break;
    case Kind::available:
        icon = QStringLiteral("software-update-available");
        color = Style::accent(palette());
        font.setWeight(QFont::DemiBold);
        break;
    case Kind::readyToInstall:
        icon = QStringLiteral("emblem-default");
        color = Style::successText();
        break;
    case Kind::failed:
        icon = QStringLiteral("dialog-warning");
        break;
    }
    m_statusIcon->setVisible(!icon.isEmpty());
    if (!icon.isEmpty())
        m_statusIcon->setPixmap(Icons::themed(icon).pixmap(14, 14));
    m_statusText->setFont(font);
    Style::setTextColor(m_statusText, color);

    m_check->setText(status.kind == Kind::checking ? tr("检查中…") : tr("立即检查更新"));
    // A check that ended during a download would overwrite the download's state.
    m_check->setEnabled(m_updates->canCheckForUpdates());
}
