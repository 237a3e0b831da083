#include "ui/autoconvertsection.h"

#include "app/autoconvertautostart.h"
#include "app/settingsstore.h"
#include "ui/settingsedit.h"
#include "ui/style.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QVBoxLayout>

#include <algorithm>

AutoConvertSection::AutoConvertSection(SettingsStore *settings, AutoConvertAutostart *autostart, QWidget *parent)
    : QGroupBox(tr("自动转换"), parent)
    , m_settings(settings)
    , m_autostart(autostart)
    , m_folders(new QListWidget(this))
    , m_add(new QPushButton(tr("添加文件夹…"), this))
    , m_remove(new QPushButton(tr("移除"), this))
    , m_originals(new QComboBox(this))
    , m_switch(new QCheckBox(tr("登录时自动转换新照片"), this))
    , m_error(Style::noteLabel(QString(), this))
{
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Style::noteLabel(tr("登录后，这些文件夹中新增的 JPEG 照片会在后台无损转换为 JPEG XL。"), this));

    auto *list = new QGridLayout;
    m_folders->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_folders->setAccessibleName(tr("自动转换的文件夹"));
    // Room for four folders; more scroll.
    m_folders->setFixedHeight(m_folders->fontMetrics().height() * 4 + 2 * m_folders->frameWidth() + 8);
    list->addWidget(m_folders, 0, 0, 3, 1);
    list->addWidget(m_add, 0, 1);
    list->addWidget(m_remove, 1, 1);
    list->setColumnStretch(0, 1);
    list->setRowStretch(2, 1);
    layout->addLayout(list);

    auto *originalsRow = new QHBoxLayout;
    QLabel *originalsLabel = Style::plainLabel(tr("原文件处理方式："), this);
    originalsRow->addWidget(originalsLabel);
    for (DeleteStrategy strategy : allDeleteStrategies())
        m_originals->addItem(::title(strategy), static_cast<int>(strategy));
    originalsLabel->setBuddy(m_originals);
    m_originals->setAccessibleName(originalsLabel->text());
    originalsRow->addWidget(m_originals);
    originalsRow->addStretch(1);
    layout->addLayout(originalsRow);
    layout->addWidget(m_switch);
    Style::setTextColor(m_error, Style::warningText());
    m_error->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_error);

    connect(m_add, &QPushButton::clicked, this, &AutoConvertSection::chooseFolder);
    connect(m_remove, &QPushButton::clicked, this, &AutoConvertSection::removeSelected);
    connect(m_folders, &QListWidget::itemSelectionChanged, this,
            [this] { m_remove->setEnabled(!m_folders->selectedItems().isEmpty()); });
    connect(m_originals, &QComboBox::activated, this, [this](int index) {
        const auto strategy = static_cast<DeleteStrategy>(m_originals->itemData(index).toInt());
        SettingsEdit::apply(m_settings, [strategy](AppSettings &s) { s.autoConvertOriginals = strategy; });
    });
    connect(m_switch, &QCheckBox::clicked, this, [this](bool on) {
        m_autostart->setEnabled(on);
        showSwitch(); // as the disk says, whether the change worked or not
    });
    connect(m_settings, &SettingsStore::settingsChanged, this, &AutoConvertSection::fill);
    connect(m_autostart, &AutoConvertAutostart::isEnabledChanged, this, &AutoConvertSection::showSwitch);
    connect(m_autostart, &AutoConvertAutostart::errorChanged, this, &AutoConvertSection::showSwitch);
    fill();
}

void AutoConvertSection::addFolder(const QString &folder)
{
    if (folder.isEmpty())
        return;
    const QString cleaned = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    SettingsEdit::apply(m_settings, [&cleaned](AppSettings &s) {
        if (!s.autoConvertFolders.contains(cleaned))
            s.autoConvertFolders.append(cleaned);
    });
}

void AutoConvertSection::showEvent(QShowEvent *event)
{
    m_autostart->refresh(); // the user may have removed the entry since
    QGroupBox::showEvent(event);
}

void AutoConvertSection::fill()
{
    const AppSettings &s = m_settings->settings();
    QStringList shown;
    for (int i = 0; i < m_folders->count(); ++i)
        shown.append(m_folders->item(i)->text());
    if (shown != s.autoConvertFolders) {
        const QSignalBlocker blocker(m_folders);
        m_folders->clear();
        m_folders->addItems(s.autoConvertFolders);
    }
    m_remove->setEnabled(!m_folders->selectedItems().isEmpty());
    m_originals->setCurrentIndex(m_originals->findData(static_cast<int>(s.autoConvertOriginals)));
    showSwitch();
}

void AutoConvertSection::showSwitch()
{
    const bool on = m_autostart->isEnabled();
    m_switch->setChecked(on);
    // Nothing to watch: it can be turned off, not on.
    m_switch->setEnabled(on || !m_settings->settings().autoConvertFolders.isEmpty());
    m_error->setText(m_autostart->error());
    m_error->setVisible(!m_autostart->error().isEmpty());
}

void AutoConvertSection::chooseFolder()
{
    auto *dialog = new QFileDialog(this, tr("选择要自动转换的文件夹"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setDirectory(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation));
    connect(dialog, &QFileDialog::fileSelected, this, &AutoConvertSection::addFolder);
    dialog->open();
}

void AutoConvertSection::removeSelected()
{
    QStringList gone;
    for (const QListWidgetItem *item : m_folders->selectedItems())
        gone.append(item->text());
    SettingsEdit::apply(m_settings, [&gone](AppSettings &s) {
        s.autoConvertFolders.erase(std::remove_if(s.autoConvertFolders.begin(), s.autoConvertFolders.end(),
                                                  [&gone](const QString &folder) { return gone.contains(folder); }),
                                   s.autoConvertFolders.end());
    });
}
