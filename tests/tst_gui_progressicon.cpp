#include "ui/progressicon.h"

#include <QPainter>
#include <QTest>

// The launcher icon of a running batch: the application icon whole, a bar as long as the batch
// is far, the count over it.
class TestGuiProgressIcon final : public QObject
{
    Q_OBJECT

    // Pixels of the bar's green in the image, and (text) white ones.
    static int count(const QImage &image, bool text = false)
    {
        int found = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QRgb p = image.pixel(x, y);
                found += text ? qGray(p) > 200 : (qGreen(p) > 150 && qRed(p) < 100 && qBlue(p) < 140);
            }
        }
        return found;
    }

private slots:
    void barFollowsProgress()
    {
        // A red icon with a blue top-left quarter, a quarter of the output's size.
        QImage icon(32, 32, QImage::Format_ARGB32);
        icon.fill(Qt::red);
        QPainter(&icon).fillRect(0, 0, 16, 16, Qt::blue);
        QList<int> bars;
        for (const double progress : {0.0, 0.5, 1.0}) {
            const QImage image = paintProgressIcon(icon, QSize(128, 128), progress, QString());
            // Scaled over the whole image, not turned, and its top untouched by the bar.
            QCOMPARE(QColor(image.pixel(10, 10)), QColor(Qt::blue));
            QCOMPARE(QColor(image.pixel(117, 10)), QColor(Qt::red));
            QCOMPARE(count(image, true), 0); // no count asked for
            bars.append(count(image));
        }
        // A batch that just began still shows a bar; half way, half the full bar.
        QVERIFY2(bars[0] > 0 && qAbs(2 * bars[1] - bars[2]) < bars[2] / 10, qPrintable(QStringLiteral("%1 %2 %3").arg(bars[0]).arg(bars[1]).arg(bars[2])));
        QVERIFY(count(paintProgressIcon(icon, QSize(128, 128), 0.0, QStringLiteral("7/5")), true) > 10);
    }
};

QTEST_MAIN(TestGuiProgressIcon)
#include "tst_gui_progressicon.moc"
