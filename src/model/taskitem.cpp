#include "taskitem.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <array>

namespace {

struct StatusInfo
{
    TaskStatus status;
    const char *raw;
    int rank;
};

constexpr std::array<StatusInfo, 6> kStatuses{{
    {TaskStatus::pending, "待处理", 3},
    {TaskStatus::processing, "正在转码...", 0},
    {TaskStatus::verifying, "正在校验...", 1},
    {TaskStatus::completed, "已完成", 4},
    {TaskStatus::failed, "失败", 2},
    {TaskStatus::skipped, "已跳过", 5},
}};

struct StrategyInfo
{
    DeleteStrategy strategy;
    const char *raw;
    const char *title;
    const char *description;
};

constexpr std::array<StrategyInfo, 3> kStrategies{{
    {DeleteStrategy::keepOriginal, "keep", QT_TRANSLATE_NOOP("DeleteStrategy", "保留原始照片"),
     QT_TRANSLATE_NOOP("DeleteStrategy", "在原文件同目录下输出新照片，完整保留原件。")},
    {DeleteStrategy::moveToTrash, "trash", QT_TRANSLATE_NOOP("DeleteStrategy", "移至回收站"),
     QT_TRANSLATE_NOOP("DeleteStrategy", "转码完成后，自动将原始照片移入回收站。")},
    {DeleteStrategy::deleteImmediately, "delete", QT_TRANSLATE_NOOP("DeleteStrategy", "永久删除"),
     QT_TRANSLATE_NOOP("DeleteStrategy", "转码完成后，直接彻底删除原始照片。")},
}};

const StatusInfo &info(TaskStatus status)
{
    return kStatuses[static_cast<size_t>(status)];
}

const StrategyInfo &info(DeleteStrategy strategy)
{
    return kStrategies[static_cast<size_t>(strategy)];
}

} // namespace

QString rawValue(TaskStatus status)
{
    return QString::fromUtf8(info(status).raw);
}

QString rawValue(ConversionMode mode)
{
    return mode == ConversionMode::jpegToJXL ? QStringLiteral("JPEG -> JXL") : QStringLiteral("JXL -> JPEG");
}

QString rawValue(DeleteStrategy strategy)
{
    return QString::fromUtf8(info(strategy).raw);
}

std::optional<TaskStatus> taskStatusFromRawValue(const QString &text)
{
    for (const StatusInfo &s : kStatuses) {
        if (text == QString::fromUtf8(s.raw))
            return s.status;
    }
    return std::nullopt;
}

std::optional<ConversionMode> conversionModeFromRawValue(const QString &text)
{
    for (ConversionMode mode : {ConversionMode::jpegToJXL, ConversionMode::jxlToJPEG}) {
        if (text == rawValue(mode))
            return mode;
    }
    return std::nullopt;
}

std::optional<DeleteStrategy> deleteStrategyFromRawValue(const QString &text)
{
    for (const StrategyInfo &s : kStrategies) {
        if (text == QLatin1String(s.raw))
            return s.strategy;
    }
    return std::nullopt;
}

int sortRank(TaskStatus status)
{
    return info(status).rank;
}

bool operator<(TaskStatus a, TaskStatus b)
{
    return sortRank(a) < sortRank(b);
}

bool operator>(TaskStatus a, TaskStatus b)
{
    return sortRank(a) > sortRank(b);
}

bool operator<=(TaskStatus a, TaskStatus b)
{
    return sortRank(a) <= sortRank(b);
}

bool operator>=(TaskStatus a, TaskStatus b)
{
    return sortRank(a) >= sortRank(b);
}

QList<DeleteStrategy> allDeleteStrategies()
{
    return {DeleteStrategy::keepOriginal, DeleteStrategy::moveToTrash, DeleteStrategy::deleteImmediately};
}

QString title(DeleteStrategy strategy)
{
    return QCoreApplication::translate("DeleteStrategy", info(strategy).title);
}

QString description(DeleteStrategy strategy)
{
    return QCoreApplication::translate("DeleteStrategy", info(strategy).description);
}

QString TaskItem::fileName() const
{
    return sourceURL.fileName();
}

bool TaskItem::isRunnable() const
{
    return sourceURL.isLocalFile();
}

bool TaskItem::isRefused() const
{
    return status == TaskStatus::failed && !isRunnable();
}

bool TaskItem::isWaiting() const
{
    return status == TaskStatus::pending || status == TaskStatus::failed;
}

QString TaskItem::sourcePathText() const
{
    return sourceURL.isLocalFile() ? sourceURL.toLocalFile() : sourceURL.path();
}

qint64 TaskItem::compressedSizeOrZero() const
{
    return compressedSize.value_or(0);
}

qint64 TaskItem::savedBytes() const
{
    if (!compressedSize || *compressedSize >= originalSize)
        return 0;
    return originalSize - *compressedSize;
}

double TaskItem::savingsRatio() const
{
    if (!compressedSize || originalSize < 1)
        return 0.0;
    const double ratio = double(originalSize - *compressedSize) / double(originalSize) * 100.0;
    return ratio < 0.0 ? 0.0 : ratio;
}

QUrl TaskItem::shownURL() const
{
    if (status == TaskStatus::completed && destinationURL)
        return *destinationURL;
    return sourceURL;
}
