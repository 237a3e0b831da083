#pragma once

#include <QStyledItemDelegate>

class ThumbnailCache;

// Paints the job rows: thumbnail and name, sizes, the result badge, the status with its symbol
// and the reveal button. Every text comes from the model (what a screen reader reads is what is
// drawn); only the look is decided here. Takes the thumbnails of the rows it paints, which are
// the rows on screen, from the cache, and asks the cache for those it does not hold yet.
class TaskRowDelegate final : public QStyledItemDelegate
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TaskRowDelegate)

public:
    static constexpr int kRowHeight = 34;
    static constexpr int kThumbnailSize = 26;
    // Tool tips break their lines at about this many characters.
    static constexpr int kToolTipChars = 72;

    explicit TaskRowDelegate(ThumbnailCache *thumbnails, QObject *parent = nullptr);

    void setThumbnailCache(ThumbnailCache *thumbnails) { m_thumbnails = thumbnails; }
    // Where the status cell's reveal button sits within the cell.
    static QRect revealButtonRect(const QRect &cell);
    // How wide a column must be for the widest text it can show (the name column aside).
    int columnWidth(int column) const;
    // Turns the spinners of running jobs one step.
    void advanceSpinner() { m_spinnerPhase = (m_spinnerPhase + 1) % 12; }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

Q_SIGNALS:
    // The reveal button of this row (a proxy index) was clicked.
    void revealRequested(const QModelIndex &index);

private:
    void paintName(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index,
                   const QColor &text) const;
    void paintBadge(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index,
                    const QColor &text) const;
    void paintStatus(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index,
                     const QColor &text) const;

    ThumbnailCache *m_thumbnails;
    int m_spinnerPhase = 0;
    // Made once: building fonts for every cell showed in the scrolling profile.
    QFont m_nameFont;
    QFont m_hintFont;
    QFont m_sizeFont;
    QFont m_sizeStrongFont;
    QFont m_smallFont;
    QFont m_statusFont;
    QFont m_statusStrongFont;
    QFont m_detailFont;
    QFont m_badgeFont;
    QFont m_restoredBadgeFont;
};
