#include "ui/dockprogressicon.h"

#include <QPainter>
#include <QTest>

namespace {

const QColor iconRed(255, 0, 0);

bool isBarGreen(QRgb pixel)
{
    return qAbs(qRed(pixel) - 0x34) < 30 && qAbs(qGreen(pixel) - 0xC7) < 30 && qAbs(qBlue(pixel) - 0x59) < 30;
}

QImage redIcon(int side)
{
    QImage icon(side, side, QImage::Format_ARGB32);
    icon.fill(iconRed);
    return icon;
}

} // namespace

class TestGuiDockProgress : public QObject
{
    Q_OBJECT

private slots:
    void barWidth_data();
    void barWidth();
    void trackAndIcon();
    void countText();
};

void TestGuiDockProgress::barWidth_data()
{
    QTest::addColumn<int>("side");
    QTest::addColumn<double>("progress");
    QTest::addColumn<int>("width");

    // Track width = side - 24; a full bar is 4 narrower, an empty one 20 wide.
    QTest::newRow("empty") << 128 << 0.0 << 20;
    QTest::newRow("below minimum") << 128 << 0.1 << 20;
    QTest::newRow("half") << 128 << 0.5 << 50;
    QTest::newRow("full") << 128 << 1.0 << 100;
    QTest::newRow("full, wider icon") << 160 << 1.0 << 132;
}

void TestGuiDockProgress::barWidth()
{
    QFETCH(int, side);
    QFETCH(double, progress);
    QFETCH(int, width);

    const QImage image = paintDockProgress(redIcon(side), QSize(side, side), progress, QString());
    // The bar is 16 high, 14 above the bottom edge; take its middle row.
    const int row = side - 22;
    int first = -1;
    int count = 0;
    for (int x = 0; x < side; ++x) {
        if (isBarGreen(image.pixel(x, row))) {
            first = first < 0 ? x : first;
            ++count;
        }
    }
    QCOMPARE(first, 14);
    QCOMPARE(count, width);
    QVERIFY(!isBarGreen(image.pixel(20, side - 14 + 1)));
    QVERIFY(!isBarGreen(image.pixel(20, side - 30 - 2)));
}

void TestGuiDockProgress::trackAndIcon()
{
    // A red icon with a blue top-left quarter, a quarter of the output's size.
    QImage icon = redIcon(32);
    QPainter(&icon).fillRect(0, 0, 16, 16, Qt::blue);
    const int side = 128;
    const QImage image = paintDockProgress(icon, QSize(side, side), 0.0, QString());

    QCOMPARE(QColor(image.pixel(10, 10)), QColor(Qt::blue));
    QCOMPARE(QColor(image.pixel(100, 10)), iconRed);
    // Around the track, x 12..116 and y 96..116 from the top, the icon shows untouched.
    for (const QPoint point : {QPoint(5, 106), QPoint(122, 106), QPoint(64, 92), QPoint(64, 120)})
        QCOMPARE(QColor(image.pixel(point.x(), point.y())), iconRed);
    // Inside it, beside the bar: the icon under black at 65 %.
    const QRgb track = image.pixel(100, 106);
    QVERIFY2(qAbs(qRed(track) - 89) <= 2 && qGreen(track) == 0 && qBlue(track) == 0, qPrintable(QColor(track).name()));
}

void TestGuiDockProgress::countText()
{
    const int side = 128;
    const auto whitePixels = [side](const QImage &image) {
        int count = 0;
        for (int y = side - 31; y < side - 15; ++y)
            for (int x = 40; x < 100; ++x) {
                const QColor color(image.pixel(x, y));
                count += color.red() > 200 && color.green() > 200 && color.blue() > 200;
            }
        return count;
    };
    QCOMPARE(whitePixels(paintDockProgress(redIcon(side), QSize(side, side), 0.0, QString())), 0);
    QVERIFY(whitePixels(paintDockProgress(redIcon(side), QSize(side, side), 0.0, QStringLiteral("7/5"))) > 10);
}

QTEST_MAIN(TestGuiDockProgress)
#include "tst_gui_dockprogress.moc"
