#include "ui/openpanels.h"

#include "app/importservice.h"
#include "engine/filescanner.h"

#include <QAbstractItemView>
#include <QCoreApplication>
#include <QFileDialog>

namespace OpenPanels {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("OpenPanels", text);
}

QFileDialog *makeDialog(ImportService *imports, QWidget *parent)
{
    auto *dialog = new QFileDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptOpen);
    dialog->setLabelText(QFileDialog::Accept, tr("导入"));
    // filesSelected, not urlsSelected: Qt's own dialog (used whenever the desktop offers no
    // native one, and always for folders) emits only the former. The import service as context,
    // so that a dialog still open never calls into a state that is gone.
    QObject::connect(dialog, &QFileDialog::filesSelected, imports, [imports](const QStringList &paths) {
        QList<QUrl> urls;
        for (const QString &path : paths)
            urls.append(QUrl::fromLocalFile(path));
        if (!urls.isEmpty())
            imports->importURLs(urls);
    });
    return dialog;
}

QString patterns(const QStringList &extensions)
{
    QStringList globs;
    for (const QString &extension : extensions)
        globs.append(QStringLiteral("*.") + extension);
    globs.removeDuplicates();
    return globs.join(QLatin1Char(' '));
}

} // namespace

QFileDialog *selectFiles(ImportService *imports, ConversionMode mode, QWidget *parent)
{
    QFileDialog *dialog = makeDialog(imports, parent);
    dialog->setWindowTitle(tr("选择照片…"));
    dialog->setFileMode(QFileDialog::ExistingFiles);
    if (mode == ConversionMode::jpegToJXL)
        dialog->setNameFilter(tr("JPEG 照片") + QStringLiteral(" (") + patterns(FileScanner::jpegExtensions())
                              + QLatin1Char(')'));
    else
        dialog->setNameFilter(tr("JPEG XL 照片") + QStringLiteral(" (") + patterns(FileScanner::jxlExtensions())
                              + QLatin1Char(')'));
    dialog->open();
    return dialog;
}

QFileDialog *selectFolders(ImportService *imports, QWidget *parent)
{
    QFileDialog *dialog = makeDialog(imports, parent);
    dialog->setWindowTitle(tr("选择文件夹…"));
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    // Native folder pickers return one folder; Qt's own dialog can return several.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    for (QAbstractItemView *view : dialog->findChildren<QAbstractItemView *>())
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    dialog->open();
    return dialog;
}

} // namespace OpenPanels
