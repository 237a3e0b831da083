#include "pictures.h"

#include "englishtexts.h"
#include "layoutcheck.h"
#include "screenshots.h"

#include <QStringList>

namespace Pictures {

QString save(QWidget *widget, const QString &name)
{
    const QStringList clipped = LayoutCheck::clippedTexts(widget);
    Screenshots::save(widget, EnglishTexts::screensFolder() + name);
    return clipped.isEmpty() ? QString() : name + QStringLiteral(": ") + clipped.join(QStringLiteral("; "));
}

} // namespace Pictures
