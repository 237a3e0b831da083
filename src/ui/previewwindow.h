#pragma once

#include <QImage>
#include <QWidget>

class WindowState;

// A window of our own that shows one photo scaled to fit: open while the window's preview file is
// set, and closing it (Space, Esc, the window's close button) clears that file. The photo is
// decoded off the GUI thread at the screen's size.
class PreviewWindow final : public QWidget
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PreviewWindow)

public:
    explicit PreviewWindow(WindowState *view, QWidget *parent = nullptr);

    // The photo shown, null while it loads or when it could not be read.
    QImage image() const { return m_image; }
    bool isLoading() const { return m_loading; }
    QString statusText() const;

Q_SIGNALS:
    // The photo for the current file has been decoded (or has failed to).
    void loaded();

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void follow();
    // Over the middle of the window it belongs to, where the eye already is.
    void placeOverParent();

    WindowState *m_view;
    QString m_path;
    QImage m_image;
    bool m_loading = false;
    quint64 m_generation = 0;
};
