#pragma once

#include <QWidget>

class AppState;
class QTabWidget;
class UpdateManager;

// The preferences: four pages (general, performance, integration, about) in one non-modal
// window. Every control writes its field of the settings at once; opening writes nothing. At
// least 500 × 380, larger where the text in the desktop's fonts needs it.
class SettingsWindow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SettingsWindow)

public:
    enum class Tab { general, performance, integration, about };

    SettingsWindow(AppState *state, UpdateManager *updates, QWidget *parent = nullptr);

    void showTab(Tab tab);
    // The general page with the path field of tool (cjxl or djxl) focused.
    void showToolPath(const QString &tool);
    QTabWidget *tabs() const { return m_tabs; }

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void fitContents();

    QTabWidget *m_tabs;
    bool m_placed = false;
};
