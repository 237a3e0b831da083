#include "layoutcheck.h"

#include <QAbstractButton>
#include <QLabel>
#include <QTest>
#include <QWidget>

namespace LayoutCheck {

namespace {

QStringList clippedNow(const QWidget *root)
{
    QStringList clipped;
    for (const QWidget *widget : root->findChildren<QWidget *>()) {
        const auto *label = qobject_cast<const QLabel *>(widget);
        const auto *button = qobject_cast<const QAbstractButton *>(widget);
        if (!widget->isVisibleTo(root) || !(label || button))
            continue;
        const QString text = label ? label->text() : button->text();
        if (text.isEmpty())
            continue;
        const QSize size = widget->size();
        const int height = widget->hasHeightForWidth() ? widget->heightForWidth(size.width()) : widget->sizeHint().height();
        if (size.width() < widget->minimumSizeHint().width() || size.height() < height)
            clipped << QStringLiteral("\"%1\" is %2×%3, needs %4×%5")
                           .arg(text)
                           .arg(size.width())
                           .arg(size.height())
                           .arg(widget->minimumSizeHint().width())
                           .arg(height);
    }
    return clipped;
}

} // namespace

QStringList clippedTexts(const QWidget *root)
{
    // A changed text relayouts through posted events, a nested layout over several turns of the
    // event loop; a loaded machine may not have run them all yet. Only a clip that outlasts them
    // is real.
    QStringList clipped;
    if (QTest::qWaitFor([&] { return (clipped = clippedNow(root)).isEmpty(); }, 5000))
        return {};
    return clipped;
}

} // namespace LayoutCheck
