#pragma once

#include <QFrame>
#include <QPointer>
#include <QTimer>

#include <optional>
#include <utility>

class WindowState;
class Workspace;
class LifetimeStats;
class QLabel;
class QToolButton;

namespace StatsFigures {

// How many more original photos (3.5 MiB each) the saved bytes make room for; 0 with nothing
// saved, else at least 1.
qint64 estimatedSavedPhotosCount(qint64 lifetimeSavedBytes);
// formattedBytes split at its blank into the figure and the unit; the whole text and an empty
// unit when it has no blank.
std::pair<QString, QString> formattedBytesParts(qint64 bytes);
// The line under the bar: the photos the saved bytes make room for, or what to do to save some.
QString estimateText(qint64 lifetimeSavedBytes);
// The lifetime average reduction as "23.4%"; "—" while there is none.
QString averageReductionText(std::optional<double> average);
// What the count of compressed photos leaves out: the photos of the list that were skipped (a
// former run's output found, or a JXL that would not have been smaller) saved nothing now.
QString countCaption(int skippedNow);

} // namespace StatsFigures

// The statistics panel that drops down under the toolbar's statistics button: the lifetime
// savings, the photos they make room for, and three small cards. WindowState::showStatsSheet is
// its single switch: closing the panel, by any means, turns the flag off.
class StatsPopup final : public QFrame
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(StatsPopup)

public:
    static constexpr int panelWidth = 440;

    StatsPopup(Workspace *workspace, LifetimeStats *stats, WindowState *view, QWidget *parent);

    // Opens under anchor (centred on it, kept on its screen); false when it cannot.
    bool popUp(QWidget *anchor);
    // The texts a user reads, top to bottom.
    QStringList texts() const;
    double fillProgress() const { return m_fill; }
    QToolButton *closeButton() const { return m_close; }

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    class Card;
    class FillBar;

    void refresh();

    Workspace *m_workspace;
    LifetimeStats *m_lifetime;
    WindowState *m_view;
    QPointer<QWidget> m_anchor;
    QTimer m_refresh;
    double m_fill = 0.0;
    QToolButton *m_close;
    QLabel *m_title;
    QLabel *m_caption;
    QLabel *m_number;
    QLabel *m_unit;
    FillBar *m_bar;
    QLabel *m_estimate;
    QLabel *m_badge;
    QList<QLabel *> m_cardTitles;
    QList<QLabel *> m_cardValues;
    QList<QLabel *> m_cardCaptions;
};
