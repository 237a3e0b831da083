#include "jpegdiagnosis.h"

#include "bytefields.h"
#include "jpegheader.h"

#include <QCoreApplication>
#include <QStringList>

namespace JpegDiagnosis {

namespace {

quint8 at(QByteArrayView bytes, qsizetype i)
{
    return quint8(bytes[i]);
}

qint64 ceilDiv(qint64 a, qint64 b)
{
    return (a + b - 1) / b;
}

QString tr(const char *text)
{
    return QCoreApplication::translate("JpegDiagnosis", text);
}

// Every component's sampling must divide the largest one by 1 or 2: 4:4:4, 4:2:2, 4:2:0, 4:4:0.
bool hasUsualSampling(const JpegHeader &header)
{
    if (header.components == 1)
        return true; // a single component's factors do not change its resolution
    int maxH = 1;
    int maxV = 1;
    for (const JpegComponent &c : header.componentInfo) {
        if (c.horizontalSampling < 1 || c.verticalSampling < 1)
            return false;
        maxH = std::max(maxH, c.horizontalSampling);
        maxV = std::max(maxV, c.verticalSampling);
    }
    for (const JpegComponent &c : header.componentInfo) {
        if (maxH % c.horizontalSampling != 0 || maxV % c.verticalSampling != 0)
            return false;
        if (maxH / c.horizontalSampling > 2 || maxV / c.verticalSampling > 2)
            return false;
    }
    return true;
}

// Minimum coded units of a scan over the given components (indexes into the frame's list).
qint64 scanUnits(const JpegHeader &header, const QList<int> &components)
{
    int maxH = 1;
    int maxV = 1;
    for (const JpegComponent &c : header.componentInfo) {
        maxH = std::max(maxH, c.horizontalSampling);
        maxV = std::max(maxV, c.verticalSampling);
    }
    if (components.size() == 1) {
        // A scan of one component codes its blocks one by one.
        const JpegComponent &c = header.componentInfo.at(components.first());
        const qint64 width = ceilDiv(qint64(header.width) * c.horizontalSampling, maxH);
        const qint64 height = ceilDiv(qint64(header.height) * c.verticalSampling, maxV);
        return ceilDiv(width, 8) * ceilDiv(height, 8);
    }
    return ceilDiv(header.width, 8 * maxH) * ceilDiv(header.height, 8 * maxV);
}

// Walks the whole file, scans included, for the structural problems the header alone cannot show.
Problem walkScans(QByteArrayView bytes, const JpegHeader &header)
{
    const bool countable = !header.lossless && !header.hierarchical && header.height > 0 && header.width > 0;
    int restartInterval = 0;
    bool sawRestartInterval = false;
    qsizetype position = 2;
    while (position + 2 <= bytes.size()) {
        if (at(bytes, position) != 0xFF)
            return Problem::damagedHeader;
        const quint8 marker = at(bytes, position + 1);
        if (marker == 0xFF) {
            ++position;
            continue;
        }
        if (marker == 0xD9)
            return Problem::none;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {
            position += 2;
            continue;
        }
        if (position + 4 > bytes.size())
            return Problem::missingEnd;
        const quint16 length = ByteFields::be16(bytes, position + 2).value_or(0);
        if (length < 2)
            return Problem::damagedHeader;
        if (position + 2 + length > bytes.size())
            return Problem::missingEnd;
        if (marker == 0xDD && length >= 4) {
            if (sawRestartInterval)
                return Problem::repeatedRestartInterval;
            sawRestartInterval = true;
            restartInterval = ByteFields::be16(bytes, position + 4).value_or(0);
        }
        if (marker != 0xDA) {
            position += 2 + length;
            continue;
        }

        // Start of scan: note its components, then step through the entropy-coded data.
        QList<int> components;
        const int count = length >= 3 ? at(bytes, position + 4) : 0;
        for (int i = 0; i < count && 2 * i + 5 < length; ++i) {
            const int id = at(bytes, position + 5 + 2 * i);
            for (qsizetype k = 0; k < header.componentInfo.size(); ++k) {
                if (header.componentInfo.at(k).id == id)
                    components.append(int(k));
            }
        }
        position += 2 + length;
        qint64 restarts = 0;
        while (position + 1 < bytes.size()) {
            if (at(bytes, position) != 0xFF) {
                ++position;
                continue;
            }
            const quint8 next = at(bytes, position + 1);
            if (next == 0x00 || next == 0xFF || next < 0xC0) {
                // Stuffed byte, fill byte, or a value no marker has: data, possibly damaged.
                position += next == 0xFF ? 1 : 2;
                continue;
            }
            if (next >= 0xD0 && next <= 0xD7) {
                ++restarts;
                position += 2;
                continue;
            }
            break; // a marker ends the scan
        }
        if (countable && restartInterval > 0 && !components.isEmpty()) {
            const qint64 expected = ceilDiv(scanUnits(header, components), restartInterval) - 1;
            if (restarts < expected)
                return Problem::truncatedScan;
        }
    }
    return Problem::missingEnd;
}

QString samplingText(const JpegHeader &header)
{
    QStringList factors;
    for (const JpegComponent &c : header.componentInfo)
        factors.append(QStringLiteral("%1×%2").arg(c.horizontalSampling).arg(c.verticalSampling));
    return factors.join(QStringLiteral(", "));
}

} // namespace

Problem findProblem(QByteArrayView bytes)
{
    if (bytes.size() < 2 || at(bytes, 0) != 0xFF || at(bytes, 1) != 0xD8) {
        const qsizetype start = bytes.indexOf(QByteArrayView("\xFF\xD8\xFF"));
        return start > 0 ? Problem::leadingData : Problem::notJpeg;
    }
    const std::optional<JpegHeader> header = parseJpegHeader(bytes);
    if (!header) {
        // Markers that run out before a frame header: cut short, or not markers at all.
        qsizetype position = 2;
        while (position + 4 <= bytes.size() && at(bytes, position) == 0xFF)
            position += at(bytes, position + 1) == 0xFF ? 1 : 2 + ByteFields::be16(bytes, position + 2).value_or(0);
        return position + 4 > bytes.size() ? Problem::missingEnd : Problem::damagedHeader;
    }
    if (header->arithmetic)
        return Problem::arithmetic;
    if (header->lossless)
        return Problem::lossless;
    if (header->hierarchical)
        return Problem::hierarchical;
    if (header->precision != 8)
        return Problem::precision;
    if (header->components == 4)
        return header->adobeTransform == 2 ? Problem::ycck : Problem::cmyk;
    if (header->components != 1 && header->components != 3)
        return Problem::componentCount;
    if (!hasUsualSampling(*header))
        return Problem::subsampling;
    if (!header->reachedScan)
        return Problem::missingEnd;
    return walkScans(bytes, *header);
}

QString describe(Problem problem, QByteArrayView bytes)
{
    const std::optional<JpegHeader> header = parseJpegHeader(bytes);
    switch (problem) {
    case Problem::none:
        return {};
    case Problem::notJpeg:
        return tr("此文件不是 JPEG 图像 (缺少 JPEG 起始标记)。");
    case Problem::leadingData:
        return tr("此文件开头有 %1 字节多余数据，不是标准的 JPEG 文件。")
            .arg(bytes.indexOf(QByteArrayView("\xFF\xD8\xFF")));
    case Problem::damagedHeader:
        return tr("此 JPEG 的文件头已损坏。");
    case Problem::arithmetic:
        return tr("此 JPEG 使用算术编码，cjxl 不支持对其无损转换。");
    case Problem::lossless:
        return tr("此 JPEG 为无损 JPEG (SOF3)，cjxl 不支持对其无损转换。");
    case Problem::hierarchical:
        return tr("此 JPEG 为分层编码 JPEG，cjxl 不支持对其无损转换。");
    case Problem::precision:
        return tr("此 JPEG 为 %1 位精度，cjxl 只支持 8 位 JPEG 的无损转换。").arg(header ? header->precision : 0);
    case Problem::cmyk:
        return tr("此 JPEG 为 CMYK 色彩模式，cjxl 不支持对其无损转换。");
    case Problem::ycck:
        return tr("此 JPEG 为 YCCK 色彩模式，cjxl 不支持对其无损转换。");
    case Problem::componentCount:
        return tr("此 JPEG 有 %1 个颜色分量，cjxl 只支持 1 个或 3 个。").arg(header ? header->components : 0);
    case Problem::subsampling:
        return tr("此 JPEG 的色度采样方式不常见 (%1)，cjxl 不支持对其无损转换。")
            .arg(header ? samplingText(*header) : QString());
    case Problem::repeatedRestartInterval:
        return tr("此 JPEG 多次定义了重启间隔 (DRI)，cjxl 不支持对其无损转换。");
    case Problem::truncatedScan:
        return tr("此 JPEG 的图像数据不完整 (扫描数据提前结束)，文件可能已损坏或被截断。");
    case Problem::missingEnd:
        return tr("此 JPEG 数据不完整 (缺少结束标记 EOI)，文件可能在复制或下载时被截断。");
    }
    return {};
}

QString refusalReason(QByteArrayView bytes)
{
    return describe(findProblem(bytes), bytes);
}

} // namespace JpegDiagnosis
