#include "ui/generalsettingstab.h"

#include "app/settingsstore.h"
#include "app/toolstatus.h"
#include "ui/languagesetting.h"
#include "ui/outputfoldersetting.h"
#include "ui/settingsedit.h"
#include "ui/style.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalBlocker>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int versionTimeoutMs = 5'000;

} // namespace

GeneralSettingsTab::GeneralSettingsTab(SettingsStore *store, ToolStatus *tools, QWidget *parent)
    : QWidget(parent)
    , m_settingsStore(store)
    , m_tools(tools)
    , m_strategies(new QButtonGroup(this))
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);

    auto *safety = new QGroupBox(tr("安全与储存策略"), this);
    auto *safetyLayout = new QVBoxLayout(safety);
    safetyLayout->addWidget(Style::plainLabel(tr("原文件处理方式："), safety));
    for (DeleteStrategy strategy : allDeleteStrategies()) {
        auto *option = new QRadioButton(title(strategy), safety);
        m_strategies->addButton(option, static_cast<int>(strategy));
        safetyLayout->addWidget(option);
    }
    m_strategyDescription = Style::noteLabel(QString(), safety);
    m_strategyDescription->setContentsMargins(18, 0, 0, 0);
    safetyLayout->addWidget(m_strategyDescription);
    m_verify = new QCheckBox(tr("始终验证无损转换"), safety);
    safetyLayout->addWidget(m_verify);
    m_verifyNote = Style::noteLabel(tr("移走或删除原文件之前总会先验证，此时无法关闭。"), safety);
    m_verifyNote->setContentsMargins(18, 0, 0, 0);
    safetyLayout->addWidget(m_verifyNote);
    layout->addWidget(safety);
    layout->addWidget(new OutputFolderSetting(m_settingsStore, this));

    auto *feedback = new QGroupBox(tr("反馈与微交互"), this);
    auto *feedbackLayout = new QVBoxLayout(feedback);
    m_sound = new QCheckBox(tr("完成批处理时播放提示音"), feedback);
    feedbackLayout->addWidget(m_sound);
    // Two short sections side by side, so the tab stays within a laptop screen's height.
    auto *pair = new QHBoxLayout;
    pair->addWidget(feedback, 1);
    pair->addWidget(new LanguageSetting(this), 1);
    layout->addLayout(pair);

    auto *toolGroup = new QGroupBox(tr("转换工具"), this);
    auto *toolsLayout = new QVBoxLayout(toolGroup);
    m_cjxl.name = QStringLiteral("cjxl");
    m_djxl.name = QStringLiteral("djxl");
    toolsLayout->addWidget(toolRow(m_cjxl));
    toolsLayout->addWidget(toolRow(m_djxl));
    layout->addWidget(toolGroup);
    layout->addStretch(1);

    connect(m_strategies, &QButtonGroup::idClicked, this, [this](int id) {
        SettingsEdit::apply(m_settingsStore, [id](AppSettings &settings) { settings.deleteStrategy = static_cast<DeleteStrategy>(id); });
    });
    connect(m_verify, &QCheckBox::toggled, this, [this](bool on) {
        SettingsEdit::apply(m_settingsStore, [on](AppSettings &settings) { settings.verifyLossless = on; });
    });
    connect(m_sound, &QCheckBox::toggled, this, [this](bool on) {
        SettingsEdit::apply(m_settingsStore, [on](AppSettings &settings) { settings.soundFeedbackEnabled = on; });
    });
    connect(m_settingsStore, &SettingsStore::settingsChanged, this, &GeneralSettingsTab::fill);
    connect(m_settingsStore, &SettingsStore::outputFolderChanged, this, &GeneralSettingsTab::fill);
    connect(m_tools, &ToolStatus::statusChanged, this, [this] {
        m_probing = false;
        showToolStatus();
    });
    fill();
    showToolStatus();
}

GeneralSettingsTab::~GeneralSettingsTab()
{
    // A version query still running is let go: killed, and deleted once it has exited, so
    // closing the window neither waits for it nor hears from it.
    for (QProcess *process : findChildren<QProcess *>(Qt::FindDirectChildrenOnly)) {
        process->disconnect(this);
        process->setParent(nullptr);
        connect(process, &QProcess::finished, process, &QObject::deleteLater);
        connect(process, &QProcess::errorOccurred, process, &QObject::deleteLater);
        process->kill();
    }
}

QWidget *GeneralSettingsTab::toolRow(ToolRow &row)
{
    auto *box = new QWidget(this);
    auto *grid = new QGridLayout(box);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setColumnStretch(1, 1);
    grid->addWidget(Style::plainLabel(row.name, box), 0, 0);
    row.path = new QLineEdit(box);
    row.path->setObjectName(QStringLiteral("toolPath-") + row.name);
    row.path->setPlaceholderText(tr("自动查找"));
    row.path->setClearButtonEnabled(true);
    row.path->setAccessibleName(tr("%1 的路径").arg(row.name));
    grid->addWidget(row.path, 0, 1);
    auto *choose = new QPushButton(tr("选择…"), box);
    choose->setAccessibleName(tr("选择 %1").arg(row.name));
    grid->addWidget(choose, 0, 2);
    row.found = Style::noteLabel(QString(), box);
    row.found->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(row.found, 1, 1, 1, 2);

    const QString tool = row.name;
    QLineEdit *field = row.path;
    connect(field, &QLineEdit::editingFinished, this, [this, tool, field] { setToolPath(tool, field->text()); });
    connect(choose, &QPushButton::clicked, this, [this, tool] { chooseTool(tool); });
    return box;
}

void GeneralSettingsTab::fill()
{
    const AppSettings &settings = m_settingsStore->settings();
    {
        const QSignalBlocker blocker(m_strategies);
        if (QAbstractButton *option = m_strategies->button(static_cast<int>(settings.deleteStrategy)))
            option->setChecked(true);
    }
    // Kept originals: where the new photos go depends on the output folder chosen below.
    const bool elsewhere = settings.deleteStrategy == DeleteStrategy::keepOriginal && !m_settingsStore->outputFolder().isEmpty();
    m_strategyDescription->setText(elsewhere ? tr("在所选的输出文件夹中生成新照片，完整保留原件。")
                                             : description(settings.deleteStrategy));

    // Disposing of an original always verifies first, so the switch shows on and cannot be
    // turned off then; the stored choice stays for when originals are kept again.
    const bool disposes = settings.deleteStrategy != DeleteStrategy::keepOriginal;
    {
        const QSignalBlocker blocker(m_verify);
        m_verify->setChecked(disposes || settings.verifyLossless);
    }
    m_verify->setEnabled(!disposes);
    m_verifyNote->setVisible(disposes);

    const QSignalBlocker soundBlocker(m_sound);
    m_sound->setChecked(settings.soundFeedbackEnabled);

    for (const auto &[row, path] : {std::pair{&m_cjxl, settings.customCjxlPath}, std::pair{&m_djxl, settings.customDjxlPath}}) {
        if (!row->path->hasFocus()) {
            const QSignalBlocker blocker(row->path);
            row->path->setText(path);
        }
    }
}

void GeneralSettingsTab::showToolStatus()
{
    const AppSettings &settings = m_settingsStore->settings();
    for (const auto &[row, ready, path, custom] :
         {std::tuple{&m_cjxl, m_tools->isCjxlReady(), m_tools->cjxlPath(), settings.customCjxlPath},
          std::tuple{&m_djxl, m_tools->isDjxlReady(), m_tools->djxlPath(), settings.customDjxlPath}}) {
        if (m_probing || path.isEmpty()) { // asked again, or the start-up probe has not answered yet
            row->found->setText(tr("正在查找…"));
            Style::setTextColor(row->found, Style::secondary(this));
            continue;
        }
        if (!ready) {
            row->found->setText(path); // the not-installed text
            Style::setTextColor(row->found, Style::warningText());
            continue;
        }
        const QString version = toolVersion(path);
        const QString tool = version.isEmpty() ? path : tr("%1（v%2）").arg(path, version);
        // The search skips a chosen path that cannot run; say so rather than let it pass unseen.
        const bool customSkipped = !custom.isEmpty() && custom != path;
        row->found->setText(customSkipped ? tr("所填路径不是可执行文件，已改用：%1").arg(tool) : tr("已找到：%1").arg(tool));
        Style::setTextColor(row->found, customSkipped ? Style::warningText() : Style::secondary(this));
    }
}

void GeneralSettingsTab::setToolPath(const QString &tool, const QString &path)
{
    const QString trimmed = path.trimmed();
    const bool cjxl = tool == m_cjxl.name;
    const AppSettings before = m_settingsStore->settings();
    if ((cjxl ? before.customCjxlPath : before.customDjxlPath) == trimmed)
        return;
    SettingsEdit::apply(m_settingsStore, [cjxl, trimmed](AppSettings &settings) { (cjxl ? settings.customCjxlPath : settings.customDjxlPath) = trimmed; });
    // setSettings asks for the tools again; until it answers the line says so.
    m_probing = true;
    showToolStatus();
}

void GeneralSettingsTab::chooseTool(const QString &tool)
{
    auto *dialog = new QFileDialog(this, tr("选择 %1").arg(tool));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setFilter(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Executable | QDir::System);
    const QString current = (tool == m_cjxl.name ? m_cjxl : m_djxl).path->text();
    dialog->setDirectory(current.isEmpty() ? QStringLiteral("/usr/bin") : QFileInfo(current).absolutePath());
    connect(dialog, &QFileDialog::fileSelected, this, [this, tool](const QString &file) {
        ToolRow &row = tool == m_cjxl.name ? m_cjxl : m_djxl;
        row.path->setText(file);
        setToolPath(tool, file);
    });
    dialog->open();
}

QString GeneralSettingsTab::toolVersion(const QString &path)
{
    if (const auto known = m_versions.constFind(path); known != m_versions.constEnd())
        return *known;
    m_versions.insert(path, QString());
    auto *process = new QProcess(this);
    process->setProgram(path);
    process->setArguments({QStringLiteral("--version")});
    process->setProcessChannelMode(QProcess::MergedChannels);
    connect(process, &QProcess::finished, this, [this, process, path] {
        // libjxl prints "cjxl v0.7.0 [AVX2,...]" as its first line.
        static const QRegularExpression version(QStringLiteral("\\bv(\\d+(?:\\.\\d+)+)"));
        const QString output = QString::fromUtf8(process->readAll().left(4096));
        process->deleteLater();
        const QRegularExpressionMatch match = version.match(output.section(u'\n', 0, 0));
        if (match.hasMatch()) {
            m_versions.insert(path, match.captured(1));
            showToolStatus();
        }
    });
    connect(process, &QProcess::errorOccurred, this, [process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            process->deleteLater();
    });
    QTimer::singleShot(versionTimeoutMs, process, &QProcess::kill);
    process->start(QIODevice::ReadOnly);
    return {};
}
