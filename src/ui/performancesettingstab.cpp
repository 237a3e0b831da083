#include "ui/performancesettingstab.h"

#include "app/settingsstore.h"
#include "ui/icons.h"
#include "ui/settingsedit.h"
#include "ui/style.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int sliderWidth = 140;

QSlider *makeSlider(QWidget *parent, int minimum, int maximum)
{
    auto *slider = new QSlider(Qt::Horizontal, parent);
    slider->setRange(minimum, maximum);
    slider->setSingleStep(1);
    slider->setPageStep(1);
    slider->setFixedWidth(sliderWidth);
    return slider;
}

QWidget *sliderRow(QWidget *parent, QSlider *slider, QLabel *value)
{
    auto *row = new QWidget(parent);
    auto *layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(slider);
    value->setFont(Style::fontRelativeToDesktop(value, 13, QFont::Medium));
    layout->addWidget(value);
    layout->addStretch(1);
    return row;
}

} // namespace

PerformanceSettingsTab::PerformanceSettingsTab(SettingsStore *store, const HardwareInfo &hardware, QWidget *parent)
    : QWidget(parent)
    , m_settingsStore(store)
    , m_hardware(hardware)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);

    auto *scheduling = new QGroupBox(tr("多核调度"), this);
    auto *schedulingLayout = new QVBoxLayout(scheduling);
    auto *modeForm = new QFormLayout;
    m_mode = new QComboBox(scheduling);
    for (ConcurrencyMode mode : allConcurrencyModes())
        m_mode->addItem(title(mode), static_cast<int>(mode));
    modeForm->addRow(tr("处理性能"), m_mode);
    schedulingLayout->addLayout(modeForm);

    auto *hardwareRow = new QHBoxLayout;
    auto *chip = new QLabel(scheduling);
    chip->setPixmap(Icons::themed(QStringLiteral("computer")).pixmap(14, 14));
    hardwareRow->addWidget(chip, 0, Qt::AlignTop);
    m_hardwareLine = Style::noteLabel(QString(), scheduling);
    m_hardwareLine->setContentsMargins(0, 2, 0, 2);
    hardwareRow->addWidget(m_hardwareLine, 1);
    schedulingLayout->addLayout(hardwareRow);
    m_explanation = Style::noteLabel(QString(), scheduling);
    schedulingLayout->addWidget(m_explanation);

    m_cores = makeSlider(scheduling, 1, std::max(1, m_hardware.totalCores));
    m_cores->setAccessibleName(tr("核心数量"));
    m_coresValue = new QLabel(scheduling);
    m_coresRow = new QWidget(scheduling);
    auto *coresForm = new QFormLayout(m_coresRow);
    coresForm->setContentsMargins(0, 0, 0, 0);
    coresForm->addRow(tr("核心数量"), sliderRow(m_coresRow, m_cores, m_coresValue));
    schedulingLayout->addWidget(m_coresRow);
    layout->addWidget(scheduling);

    auto *encoding = new QGroupBox(tr("JXL 编码算力"), this);
    auto *encodingLayout = new QVBoxLayout(encoding);
    auto *effortForm = new QFormLayout;
    m_effort = makeSlider(encoding, 1, 9);
    m_effort->setAccessibleName(tr("压缩级别"));
    m_effortValue = new QLabel(encoding);
    effortForm->addRow(tr("压缩级别"), sliderRow(encoding, m_effort, m_effortValue));
    encodingLayout->addLayout(effortForm);
    encodingLayout->addWidget(
        Style::noteLabel(tr("级别 7 在处理速度与体积压缩之间达到黄金平衡；级别 9 提供极致无损压缩（耗时较长）。"), encoding));
    layout->addWidget(encoding);
    layout->addStretch(1);

    connect(m_mode, &QComboBox::activated, this, [this](int index) {
        const auto mode = static_cast<ConcurrencyMode>(m_mode->itemData(index).toInt());
        SettingsEdit::apply(m_settingsStore, [mode](AppSettings &settings) { settings.concurrencyMode = mode; });
    });
    connect(m_cores, &QSlider::valueChanged, this, [this](int value) {
        SettingsEdit::apply(m_settingsStore, [value](AppSettings &settings) { settings.concurrency = value; });
    });
    connect(m_effort, &QSlider::valueChanged, this, [this](int value) {
        SettingsEdit::apply(m_settingsStore, [value](AppSettings &settings) { settings.compressionEffort = value; });
    });
    connect(m_settingsStore, &SettingsStore::settingsChanged, this, &PerformanceSettingsTab::fill);
    fill();
}

QString PerformanceSettingsTab::hardwareLine(const HardwareInfo &hardware, const AppSettings &settings)
{
    const QString chip = hardware.chipName;
    switch (settings.concurrencyMode) {
    case ConcurrencyMode::autoMode:
        if (hardware.performanceCores && hardware.efficiencyCores)
            return tr("%1 · 智能调度 %n 核心 (%3 性能核 + %4 能效核)", nullptr, hardware.recommendedAutoConcurrency())
                .arg(chip)
                .arg(*hardware.performanceCores)
                .arg(*hardware.efficiencyCores);
        return tr("%1 · 智能调度 %n 核心", nullptr, hardware.recommendedAutoConcurrency()).arg(chip);
    case ConcurrencyMode::maxPerformance:
        return tr("%1 · 调度全部 %n 核心", nullptr, hardware.totalCores).arg(chip);
    case ConcurrencyMode::energySaver:
        return tr("%1 · 调度 %n 核心", nullptr, hardware.recommendedSaverConcurrency()).arg(chip);
    case ConcurrencyMode::custom:
        // What a batch would run, not the stored number, which an edited file may put out of range.
        return tr("%1 · 自定 %n 核心", nullptr, settings.effectiveConcurrency(hardware)).arg(chip);
    }
    return chip;
}

QString PerformanceSettingsTab::modeExplanation(int mode)
{
    switch (static_cast<ConcurrencyMode>(mode)) {
    case ConcurrencyMode::autoMode:
        return tr("根据本机的处理器核心数自动调度，全速转码的同时预留系统响应余量。");
    case ConcurrencyMode::maxPerformance:
        return tr("全力释放处理器算力，适合大批量照片集中转码。");
    case ConcurrencyMode::energySaver:
        return tr("降低发热与电量消耗，适合不插电办公或后台静默批处理。");
    case ConcurrencyMode::custom:
        return tr("手动指定参与并发转码的 CPU 核心数。");
    }
    return {};
}

void PerformanceSettingsTab::fill()
{
    const AppSettings &settings = m_settingsStore->settings();
    {
        const QSignalBlocker blocker(m_mode);
        m_mode->setCurrentIndex(m_mode->findData(static_cast<int>(settings.concurrencyMode)));
    }
    m_hardwareLine->setText(hardwareLine(m_hardware, settings));
    m_explanation->setText(modeExplanation(static_cast<int>(settings.concurrencyMode)));
    m_coresRow->setVisible(settings.concurrencyMode == ConcurrencyMode::custom);

    // QSlider clamps to its range; the stored value is left alone until the user moves it.
    {
        const QSignalBlocker blocker(m_cores);
        m_cores->setValue(settings.concurrency);
    }
    m_coresValue->setText(tr("%n 核", nullptr, m_cores->value()));
    {
        const QSignalBlocker blocker(m_effort);
        m_effort->setValue(settings.compressionEffort);
    }
    m_effortValue->setText(QString::number(m_effort->value()));
}
