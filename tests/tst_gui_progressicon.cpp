#include "ui/progressicon.h"

#include <QPainter>
#include <QTest>

namespace {

bool isBarGreen(QRgb pixel)
{
    return qAbs(qRed(pixel) - 0x34) < 30 && qAbs(qGreen(pixel) - 0xC7) < 30 && qAbs(qBlue(pixel) - 0x59) < 30;
}

} // namespace

class TestGuiProgressIcon final : public QObject
{
    Q_OBJECT

private slots:
    void barAndIcon_data()
    {
        QTest::addColumn<int>("side");
        QTest::addColumn<double>("progress");
        QTest::addColumn<int>("width");
        // Track width = side - 24; a full bar is 4 narrower, a bar never below 20.
        QTest::newRow("empty") << 128 << 0.0 << 20;
        QTest::newRow("half") << 128 << 0.5 << 50;
        QTest::newRow("full") << 128 << 1.0 << 100;
        QTest::newRow("full, wider icon") << 160 << 1.0 << 132;
    }

    void barAndIcon()
    {
        QFETCH(int, side);
        QFETCH(double, progress);
        QFETCH(int, width);
        // A red icon with a blue top-left quarter, a quarter of the output's size.
        QImage icon(side / 4, side / 4, QImage::Format_ARGB32);
        icon.fill(Qt::red);
        QPainter(&icon).fillRect(0, 0, side / 8, side / 8, Qt::blue);
        const QImage image = paintProgressIcon(icon, QSize(side, side), progress, QString());

        // The bar is 16 high, 14 above the bottom edge and 14 in from the left: its middle row,
        // and just above and below it.
        const int row = side - 22;
        QVERIFY(!isBarGreen(image.pixel(13, row)) && isBarGreen(image.pixel(14, row)));
        QVERIFY(isBarGreen(image.pixel(13 + width, row)) && !isBarGreen(image.pixel(14 + width, row)));
        QVERIFY(!isBarGreen(image.pixel(20, side - 13)) && !isBarGreen(image.pixel(20, side - 32)));

        // The icon fills the image, untouched around the track (x 12..side-12, y side-32..side-12).
        QCOMPARE(QColor(image.pixel(10, 10)), QColor(Qt::blue));
        for (const QPoint point : {QPoint(side - 10, 10), QPoint(5, side - 22), QPoint(side - 6, side - 22),
                                   QPoint(side / 2, side - 36), QPoint(side / 2, side - 8)})
            QCOMPARE(QColor(image.pixel(point)), QColor(Qt::red));
        // Inside the track just above the bar: the icon under black at 65 %.
        const QRgb track = image.pixel(side / 2, side - 31);
        QVERIFY2(qAbs(qRed(track) - 89) <= 2 && qGreen(track) == 0 && qBlue(track) == 0, qPrintable(QColor(track).name()));
    }

    void countText()
    {
        // White over the track's middle, and only when there is a text.
        QImage icon(128, 128, QImage::Format_ARGB32);
        icon.fill(Qt::red);
        for (const QString &text : {QString(), QStringLiteral("7/5")}) {
            const QImage image = paintProgressIcon(icon, QSize(128, 128), 0.0, text);
            int white = 0;
            for (int i = 0; i < 60 * 16; ++i)
                white += qGray(image.pixel(40 + i % 60, 97 + i / 60)) > 200;
            QVERIFY2(text.isEmpty() ? white == 0 : white > 10, qPrintable(QString::number(white)));
        }
    }
};

QTEST_MAIN(TestGuiProgressIcon)
#include "tst_gui_progressicon.moc"
