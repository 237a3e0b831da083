#include "ui/updatesheet.h"

#include "integration/updatemanager.h"
#include "model/formattedbytes.h"
#include "ui/icons.h"
#include "ui/style.h"
#include "ui/updatetexts.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int sheetWidth = 460;

// A tinted rounded panel with an icon beside its text column.
QFrame *banner(QWidget *parent, const QString &icon, const QColor &tint, QVBoxLayout **column)
{
    auto *frame = new QFrame(parent);
    QColor fill = tint;
    fill.setAlphaF(0.10);
    frame->setObjectName(QStringLiteral("banner"));
    frame->setStyleSheet(QStringLiteral("#banner { background: %1; border-radius: 8px; }").arg(fill.name(QColor::HexArgb)));
    auto *row = new QHBoxLayout(frame);
    row->setContentsMargins(10, 10, 10, 10);
    row->setSpacing(8);
    auto *symbol = new QLabel(frame);
    symbol->setPixmap(Icons::themed(icon).pixmap(18, 18));
    row->addWidget(symbol, 0, Qt::AlignTop);
    *column = new QVBoxLayout;
    (*column)->setSpacing(2);
    row->addLayout(*column, 1);
    return frame;
}

} // namespace

UpdateSheet::UpdateSheet(UpdateManager *updates, QWidget *parent)
    : QDialog(parent)
    , m_updates(updates)
{
    setWindowTitle(tr("软件更新"));
    setWindowModality(Qt::WindowModal);
    setFixedWidth(sheetWidth);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(20);

    auto *header = new QHBoxLayout;
    header->setSpacing(16);
    header->setContentsMargins(0, 4, 0, 0);
    auto *icon = new QLabel(this);
    icon->setPixmap(Style::applicationIcon(QStringLiteral("software-update-available")).pixmap(56, 56));
    header->addWidget(icon, 0, Qt::AlignTop);
    auto *headings = new QVBoxLayout;
    headings->setSpacing(4);
    auto *titleRow = new QHBoxLayout;
    titleRow->setSpacing(8);
    QLabel *title = Style::plainLabel(tr("发现新版本"), this);
    title->setFont(Style::fontRelativeToDesktop(title, 17, QFont::Bold));
    titleRow->addWidget(title);
    m_badge = Style::plainLabel(QString(), this);
    m_badge->setFont(Style::fontRelativeToDesktop(m_badge, 12, QFont::DemiBold));
    QColor badgeFill = Style::accent(palette());
    badgeFill.setAlphaF(0.15);
    m_badge->setStyleSheet(QStringLiteral("QLabel { color: %1; background: %2; border-radius: 8px; padding: 2px 7px; }")
                               .arg(Style::accent(palette()).name(), badgeFill.name(QColor::HexArgb)));
    titleRow->addWidget(m_badge);
    titleRow->addStretch(1);
    headings->addLayout(titleRow);
    QLabel *current = Style::noteLabel(
        tr("当前版本: v%1 · 建议更新以获得最佳体验").arg(UpdateManager::currentAppVersion()), this);
    current->setFont(Style::fontRelativeToDesktop(current, 12));
    headings->addWidget(current);
    header->addLayout(headings, 1);
    layout->addLayout(header);

    auto *notesColumn = new QVBoxLayout;
    notesColumn->setSpacing(8);
    QLabel *notesCaption = Style::plainLabel(tr("更新内容："), this);
    notesCaption->setFont(Style::fontRelativeToDesktop(notesCaption, 12, QFont::Medium));
    Style::setTextColor(notesCaption, Style::secondary(notesCaption));
    notesColumn->addWidget(notesCaption);
    m_notes = new QPlainTextEdit(this); // plain text: release notes are never read as markup
    m_notes->setReadOnly(true);
    m_notes->setFixedHeight(140);
    m_notes->setFont(Style::fontRelativeToDesktop(m_notes, 12.5));
    m_notes->setAccessibleName(tr("更新内容"));
    notesColumn->addWidget(m_notes);
    layout->addLayout(notesColumn);

    m_downloading = new QWidget(this);
    auto *downloadingColumn = new QVBoxLayout(m_downloading);
    downloadingColumn->setContentsMargins(0, 0, 0, 0);
    downloadingColumn->setSpacing(8);
    m_progress = new QProgressBar(m_downloading);
    m_progress->setRange(0, 1000);
    m_progress->setTextVisible(false);
    m_progress->setAccessibleName(tr("下载进度"));
    downloadingColumn->addWidget(m_progress);
    auto *progressRow = new QHBoxLayout;
    m_percent = Style::noteLabel(QString(), m_downloading);
    m_percent->setWordWrap(false);
    m_percent->setFont(Style::fontRelativeToDesktop(m_percent, 11.5));
    progressRow->addWidget(m_percent);
    progressRow->addStretch(1);
    m_bytes = Style::plainLabel(QString(), m_downloading);
    m_bytes->setFont(Style::monospaceRelativeToDesktop(m_bytes, 11));
    Style::setTextColor(m_bytes, Style::secondary(m_bytes));
    progressRow->addWidget(m_bytes);
    downloadingColumn->addLayout(progressRow);
    layout->addWidget(m_downloading);

    QVBoxLayout *readyColumn = nullptr;
    m_ready = banner(this, QStringLiteral("emblem-default"), Style::successText(), &readyColumn);
    QLabel *readyTitle = Style::plainLabel(UpdateTexts::downloadedTitle(), m_ready);
    readyTitle->setFont(Style::fontRelativeToDesktop(readyTitle, 12.5, QFont::Medium));
    readyColumn->addWidget(readyTitle);
    m_readyHint = Style::noteLabel(QString(), m_ready);
    m_readyHint->setTextInteractionFlags(Qt::TextSelectableByMouse);
    readyColumn->addWidget(m_readyHint);
    layout->addWidget(m_ready);

    QVBoxLayout *failedColumn = nullptr;
    m_failed = banner(this, QStringLiteral("dialog-warning"), Style::warningText(), &failedColumn);
    m_failedText = Style::noteLabel(QString(), m_failed);
    m_failedText->setFont(Style::fontRelativeToDesktop(m_failedText, 11.5));
    m_failedText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    failedColumn->addWidget(m_failedText);
    layout->addWidget(m_failed);

    auto *buttons = new QHBoxLayout;
    auto *browser = new QPushButton(tr("在浏览器中打开"), this);
    browser->setFlat(true);
    browser->setAutoDefault(false);
    browser->setCursor(Qt::PointingHandCursor);
    browser->setFont(Style::fontRelativeToDesktop(browser, 12));
    QPalette link = browser->palette();
    link.setColor(QPalette::ButtonText, Style::accent(browser->palette()));
    browser->setPalette(link);
    buttons->addWidget(browser);
    buttons->addStretch(1);
    m_later = new QPushButton(tr("稍后提醒"), this);
    m_download = new QPushButton(tr("立即更新并下载"), this);
    m_cancel = new QPushButton(tr("取消下载"), this);
    m_show = new QPushButton(tr("在文件管理器中显示"), this);
    m_done = new QPushButton(tr("完成"), this);
    for (QPushButton *button : {m_later, m_download, m_cancel, m_show, m_done}) {
        button->setAutoDefault(false);
        buttons->addWidget(button);
    }
    layout->addLayout(buttons);

    connect(browser, &QPushButton::clicked, this, [this] {
        const std::optional<AppUpdateInfo> &info = m_updates->currentUpdateInfo();
        m_updates->openInBrowser(info ? info->htmlURL : std::nullopt);
    });
    connect(m_download, &QPushButton::clicked, this, [this] {
        if (const std::optional<AppUpdateInfo> info = m_updates->currentUpdateInfo())
            m_updates->startDownload(*info);
    });
    connect(m_cancel, &QPushButton::clicked, m_updates, &UpdateManager::cancelDownload);
    connect(m_show, &QPushButton::clicked, this, [this] {
        if (m_updates->status().kind == UpdateStatus::Kind::readyToInstall)
            m_updates->showDownloadedFile(m_updates->status().fileURL);
    });
    connect(m_later, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_done, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_updates, &UpdateManager::statusChanged, this, &UpdateSheet::showStatus);
    connect(m_updates, &UpdateManager::currentUpdateInfoChanged, this, &UpdateSheet::showRelease);
    showRelease();
    showStatus();
}

void UpdateSheet::showRelease()
{
    const std::optional<AppUpdateInfo> &info = m_updates->currentUpdateInfo();
    m_badge->setVisible(info.has_value());
    m_badge->setText(info ? QStringLiteral("v") + info->version : QString());
    m_notes->setPlainText(info ? info->releaseNotes : tr("修复若干已知问题，优化转码性能与稳定性。"));
    const bool packaged = info && info->downloadURL;
    // Without a package for this machine the button leads to the release page instead.
    m_download->setToolTip(info && !packaged ? tr("此版本没有适用于本机的安装包，将打开它的发布页面") : QString());
}

void UpdateSheet::showStatus()
{
    using Kind = UpdateStatus::Kind;
    const UpdateStatus &status = m_updates->status();
    const bool downloading = status.kind == Kind::downloading;
    const bool ready = status.kind == Kind::readyToInstall;

    m_downloading->setVisible(downloading);
    if (downloading) {
        const int percent = UpdateTexts::wholePercent(status.progress);
        m_progress->setValue(static_cast<int>(std::clamp(status.progress, 0.0, 1.0) * 1000.0));
        m_percent->setText(tr("正在下载更新包… %1%").arg(percent));
        m_bytes->setVisible(status.totalBytes >= 1);
        m_bytes->setText(status.totalBytes >= 1
                             ? formattedBytes(status.receivedBytes) + QStringLiteral(" / ") + formattedBytes(status.totalBytes)
                             : QString());
    }
    m_ready->setVisible(ready);
    if (ready)
        m_readyHint->setText(UpdateTexts::installHint(status.fileURL));
    m_failed->setVisible(status.kind == Kind::failed);
    m_failedText->setText(status.message);

    m_later->setVisible(!downloading && !ready);
    m_download->setVisible(!downloading && !ready);
    m_cancel->setVisible(downloading);
    m_show->setVisible(ready);
    m_done->setVisible(ready);
    m_download->setDefault(!downloading && !ready);
    m_done->setDefault(ready);
    adjustSize();
}
