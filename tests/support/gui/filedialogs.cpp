#include "filedialogs.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QTest>

namespace FileDialogs {

QFileDialog *shown(const QWidget *parent)
{
    for (QFileDialog *dialog : parent->findChildren<QFileDialog *>()) {
        if (dialog->isVisible())
            return dialog;
    }
    return nullptr;
}

bool typeAndEnter(QFileDialog *dialog, const QString &text)
{
    auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
    dialog->activateWindow();
    if (!name || !QTest::qWaitForWindowActive(dialog))
        return false;
    name->setFocus(); // unfocused, the dialog rewrites it with what its list selects
    QTest::keyClicks(name, text);
    QTest::keyClick(name, Qt::Key_Return);
    return true;
}

} // namespace FileDialogs
