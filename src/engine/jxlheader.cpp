#include "jxlheader.h"

#include "boxwalker.h"
#include "bytesource.h"
#include "jxlsignature.h"

#include <array>
#include <limits>

namespace {

// Bits of a JPEG XL codestream, least significant bit of each byte first.
class BitReader
{
public:
    explicit BitReader(QByteArrayView bytes) : m_bytes(bytes) {}

    std::optional<quint32> bits(int count)
    {
        if (m_position + count > m_bytes.size() * 8)
            return std::nullopt;
        quint32 value = 0;
        for (int i = 0; i < count; ++i, ++m_position)
            value |= quint32((quint8(m_bytes[m_position / 8]) >> (m_position % 8)) & 1) << i;
        return value;
    }

    // The size header's U32: a 2-bit selector, then 9, 13, 18 or 30 bits, plus one.
    std::optional<quint32> dimension()
    {
        static constexpr std::array<int, 4> widths{9, 13, 18, 30};
        const auto selector = bits(2);
        if (!selector)
            return std::nullopt;
        const auto value = bits(widths[*selector]);
        if (!value)
            return std::nullopt;
        return *value + 1;
    }

private:
    QByteArrayView m_bytes;
    qsizetype m_position = 0;
};

std::optional<QSize> parseCodestreamSize(QByteArrayView codestream)
{
    if (JxlSignature::identify(codestream) != JxlSignature::Kind::codestream)
        return std::nullopt;
    BitReader reader(codestream.sliced(JxlSignature::codestream.size()));
    const auto small = reader.bits(1);
    if (!small)
        return std::nullopt;
    std::optional<quint32> height;
    if (*small) {
        const auto eighths = reader.bits(5);
        if (eighths)
            height = (*eighths + 1) * 8;
    } else {
        height = reader.dimension();
    }
    const auto ratio = reader.bits(3);
    if (!height || !ratio)
        return std::nullopt;

    quint64 width = 0;
    if (*ratio == 0) {
        std::optional<quint32> value;
        if (*small) {
            const auto eighths = reader.bits(5);
            if (eighths)
                value = (*eighths + 1) * 8;
        } else {
            value = reader.dimension();
        }
        if (!value)
            return std::nullopt;
        width = *value;
    } else {
        static constexpr std::array<std::pair<int, int>, 8> ratios{
            {{1, 1}, {1, 1}, {12, 10}, {4, 3}, {3, 2}, {16, 9}, {5, 4}, {2, 1}}};
        const auto [numerator, denominator] = ratios[*ratio];
        width = quint64(*height) * quint64(numerator) / quint64(denominator);
    }
    // QSize holds ints; a size beyond that is no image any tool here could handle.
    if (width > quint64(std::numeric_limits<int>::max()) || *height > quint32(std::numeric_limits<int>::max()))
        return std::nullopt;
    return QSize(int(width), int(*height));
}

// Enough of a codestream to hold its size header (at most 2 + 1 + 32 + 3 + 32 bits).
constexpr qint64 kCodestreamHead = 16;

// The first bytes of the codestream a container carries in its `jxlc` box or its `jxlp` boxes,
// taking what there is of a box the source cuts short.
QByteArray containerCodestreamHead(const ByteSource &source)
{
    QByteArray codestream;
    BoxWalker::walk(source, JxlSignature::container.size(), [&](const BoxWalker::Box &box) {
        const bool whole = box.type == "jxlc";
        if (whole || box.type == "jxlp") {
            const qint64 start = box.payloadOffset + (whole ? 0 : 4); // a jxlp box starts with its sequence number
            if (start < box.end)
                codestream += source.read(start, qMin(box.end - start, kCodestreamHead - codestream.size()));
            if (whole)
                return false;
        }
        return codestream.size() < kCodestreamHead;
    });
    return codestream;
}

} // namespace

std::optional<QSize> parseJxlSize(QByteArrayView bytes)
{
    return readJxlSize(ByteSource(bytes));
}

std::optional<QSize> readJxlSize(const ByteSource &source)
{
    const QByteArray head = source.read(0, JxlSignature::headLength);
    switch (JxlSignature::identify(head)) {
    case JxlSignature::Kind::codestream:
        return parseCodestreamSize(source.read(0, kCodestreamHead));
    case JxlSignature::Kind::container:
        return parseCodestreamSize(containerCodestreamHead(source));
    case JxlSignature::Kind::none:
        break;
    }
    return std::nullopt;
}
