#pragma once

#include "platform/hardwareinfo.h"

#include <QWidget>

class SettingsStore;
class QComboBox;
class QLabel;
class QSlider;
struct AppSettings;

// How many jobs run at once and how hard cjxl works. A stored value outside a slider's range
// shows clamped and is written only when the user moves that slider.
class PerformanceSettingsTab final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PerformanceSettingsTab)

public:
    PerformanceSettingsTab(SettingsStore *store, const HardwareInfo &hardware, QWidget *parent = nullptr);

    // The hardware line for these settings, with the number of jobs a batch would really run.
    static QString hardwareLine(const HardwareInfo &hardware, const AppSettings &settings);
    static QString modeExplanation(int mode);

private:
    void fill();

    SettingsStore *m_settingsStore;
    HardwareInfo m_hardware;
    QComboBox *m_mode;
    QLabel *m_hardwareLine;
    QLabel *m_explanation;
    QWidget *m_coresRow;
    QSlider *m_cores;
    QLabel *m_coresValue;
    QSlider *m_effort;
    QLabel *m_effortValue;
};
