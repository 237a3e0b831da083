#include "ui/outputfoldersetting.h"

#include "app/settingsstore.h"
#include "engine/whenready.h"
#include "ui/style.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QtConcurrent>

OutputFolderSetting::OutputFolderSetting(SettingsStore *settings, QWidget *parent)
    : QGroupBox(tr("输出位置"), parent)
    , m_settings(settings)
    , m_choices(new QComboBox(this))
    , m_choose(new QPushButton(tr("选择…"), this))
    , m_note(Style::noteLabel(QString(), this))
{
    auto *grid = new QGridLayout(this);
    grid->setColumnStretch(0, 1);
    m_choices->setAccessibleName(tr("输出位置"));
    // A long path is cut in its middle, where it says least.
    m_choices->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_choices->setMinimumContentsLength(16);
    m_choices->view()->setTextElideMode(Qt::ElideMiddle);
    m_choices->addItem(tr("与原照片相同的文件夹"), QString());
    grid->addWidget(m_choices, 0, 0);
    m_choose->setAccessibleName(tr("选择输出文件夹"));
    grid->addWidget(m_choose, 0, 1);
    m_note->setWordWrap(true);
    m_note->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(m_note, 1, 0, 1, 2);

    connect(m_choices, &QComboBox::activated, this, [this](int index) {
        m_settings->setOutputFolder(m_choices->itemData(index).toString());
    });
    connect(m_choose, &QPushButton::clicked, this, [this] {
        auto *dialog = new QFileDialog(this, tr("选择输出文件夹"));
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->setFileMode(QFileDialog::Directory);
        dialog->setOption(QFileDialog::ShowDirsOnly);
        const QString current = m_settings->outputFolder();
        dialog->setDirectory(current.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::PicturesLocation) : current);
        connect(dialog, &QFileDialog::fileSelected, this, &OutputFolderSetting::chooseFolder);
        dialog->open();
    });
    connect(m_settings, &SettingsStore::outputFolderChanged, this, &OutputFolderSetting::fill);
    fill();
}

OutputFolderSetting::~OutputFolderSetting() = default;

void OutputFolderSetting::chooseFolder(const QString &folder)
{
    if (!folder.isEmpty())
        m_settings->setOutputFolder(QFileInfo(folder).absoluteFilePath());
}

void OutputFolderSetting::fill()
{
    const QString folder = m_settings->outputFolder();
    {
        const QSignalBlocker blocker(m_choices);
        // The folder chosen last stays offered after a switch back to beside the photos.
        if (!folder.isEmpty()) {
            if (m_choices->count() < 2)
                m_choices->addItem(folder, folder);
            m_choices->setItemText(1, folder);
            m_choices->setItemData(1, folder);
            m_choices->setItemData(1, folder, Qt::ToolTipRole);
        }
        m_choices->setCurrentIndex(folder.isEmpty() ? 0 : 1);
        m_choices->setToolTip(folder);
    }
    m_note->setText(folder.isEmpty() ? tr("转换后的文件保存在原照片旁边。")
                                     : tr("转换后的文件保存在此文件夹中，并保留导入文件夹的目录结构。"));
    Style::setTextColor(m_note, Style::secondary(this));
    ++m_checks; // a look-up still under way speaks of the folder before
    if (!folder.isEmpty())
        checkFolder();
}

void OutputFolderSetting::checkFolder()
{
    const QString folder = m_settings->outputFolder();
    const quint64 check = m_checks;
    // Not QFuture::then: Qt 6.4 runs its continuation even when this widget is gone by then.
    whenReady(this, QtConcurrent::run([folder] { return QFileInfo(folder).isDir(); }), [this, check](bool there) {
        if (check != m_checks || there)
            return;
        m_note->setText(tr("此文件夹不存在：批处理不会开始，直到它再次可用（例如接上它所在的磁盘）或另选输出位置。"));
        Style::setTextColor(m_note, Style::warningText());
    });
}
