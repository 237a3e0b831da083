#include "ui/integrationsettingstab.h"

#include "app/filemanageractions.h"
#include "ui/autoconvertsection.h"
#include "ui/style.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

IntegrationSettingsTab::IntegrationSettingsTab(FileManagerActions *actions, SettingsStore *settings,
                                               AutoConvertAutostart *autoConvert, QWidget *parent)
    : QWidget(parent)
    , m_fileManagerActions(actions)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);

    auto *menus = new QGroupBox(tr("系统右键集成"), this);
    auto *row = new QHBoxLayout(menus);
    row->setSpacing(12);
    auto *column = new QVBoxLayout;
    column->setSpacing(3);
    auto *titleRow = new QHBoxLayout;
    titleRow->setSpacing(6);
    QLabel *title = Style::plainLabel(tr("文件管理器快捷操作"), menus);
    title->setFont(Style::fontRelativeToDesktop(title, 13, QFont::Medium));
    titleRow->addWidget(title);
    m_stateText = Style::plainLabel(QString(), menus);
    m_stateText->setFont(Style::fontRelativeToDesktop(m_stateText, 11));
    titleRow->addWidget(m_stateText);
    titleRow->addStretch(1);
    column->addLayout(titleRow);
    column->addWidget(Style::noteLabel(
        tr("在文件管理器（Nautilus、Caja、Dolphin、Nemo）中右键点按照片或文件夹，即可通过右键菜单直接压缩或还原。"
           "Nautilus 与 Caja 把它们放在「脚本」子菜单中。"),
        menus));
    row->addLayout(column, 1);
    m_button = new QPushButton(menus);
    row->addWidget(m_button, 0, Qt::AlignVCenter);
    layout->addWidget(menus);
    layout->addWidget(new AutoConvertSection(settings, autoConvert, this));

    auto *scheme = new QGroupBox(tr("URL Scheme 协议"), this);
    auto *schemeLayout = new QVBoxLayout(scheme);
    schemeLayout->setSpacing(6);
    schemeLayout->addWidget(Style::noteLabel(tr("支持通过 URL Scheme 唤起Pikora并导入指定路径："), scheme));
    QLabel *example = Style::plainLabel(QStringLiteral("pikora://import?path=/home/name/Photos/DSC_0001.JPG"), scheme);
    example->setFont(Style::monospaceRelativeToDesktop(example, 10.5));
    example->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    example->setMargin(6);
    example->setAutoFillBackground(true);
    QPalette palette = example->palette();
    QColor shade = palette.color(QPalette::WindowText);
    shade.setAlphaF(0.06);
    palette.setColor(QPalette::Window, shade);
    example->setPalette(palette);
    example->setAccessibleName(tr("URL Scheme 示例"));
    schemeLayout->addWidget(example);
    layout->addWidget(scheme);
    layout->addStretch(1);

    connect(m_button, &QPushButton::clicked, this, &IntegrationSettingsTab::toggle);
    connect(m_fileManagerActions, &FileManagerActions::isInstalledChanged, this, &IntegrationSettingsTab::showState);
    showState();
}

void IntegrationSettingsTab::showState()
{
    const bool installed = m_fileManagerActions->isInstalled();
    m_stateText->setText(installed ? tr("已安装") : tr("未安装"));
    Style::setTextColor(m_stateText, installed ? Style::successText() : Style::secondary(this));
    m_button->setText(installed ? tr("移除快捷操作") : tr("添加至文件管理器…"));
    m_button->setDefault(!installed);
}

void IntegrationSettingsTab::toggle()
{
    const bool installing = !m_fileManagerActions->isInstalled();
    QString error;
    const bool done = installing ? m_fileManagerActions->install(&error) : m_fileManagerActions->uninstall(&error);
    if (done)
        return;
    auto *box = new QMessageBox(QMessageBox::Warning, tr("Pikora"),
                                installing ? tr("无法添加文件管理器快捷操作") : tr("无法移除文件管理器快捷操作"),
                                QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setTextFormat(Qt::PlainText);
    box->setInformativeText(error);
    // QMessageBox guesses the informative text's format; a path holding "<" must not turn it into markup.
    if (auto *informative = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);
    box->setWindowModality(Qt::WindowModal);
    box->open();
}
