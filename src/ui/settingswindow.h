#pragma once

#include <QWidget>

class AutoConvertAutostart;
class FileManagerActions;
class QTabWidget;
class SettingsStore;
class ToolStatus;
class UpdateManager;

// The preferences: four pages (general, performance, integration, about) in one non-modal
// window. Every control writes its field of the settings at once; opening writes nothing. It
// opens as large as the longest page needs, but never larger than the screen; a page that does
// not fit scrolls. At least 500 × 380 where the screen has that room.
class SettingsWindow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SettingsWindow)

public:
    enum class Tab { general, performance, integration, about };

    // Without autoConvert the integration page has no auto-convert section.
    SettingsWindow(SettingsStore *settings, ToolStatus *tools, FileManagerActions *fileManagerActions, UpdateManager *updates,
                   AutoConvertAutostart *autoConvert, QWidget *parent = nullptr);

    void showTab(Tab tab);
    // The general page with the path field of tool (cjxl or djxl) focused.
    void showToolPath(const QString &tool);
    QTabWidget *tabs() const { return m_tabs; }

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void fitContents();
    QWidget *page(int index) const;
    // The window manager's frame around the window: known once shown, else assumed.
    QMargins windowFrame() const;
    // The window's largest size that keeps its frame on the screen it opens on.
    QSize roomOnScreen() const;

    QTabWidget *m_tabs;
    bool m_placed = false;
};
