#include "jxlerror.h"

JXLError JXLError::toolNotFound(const QString &tool)
{
    JXLError e;
    e.kind = Kind::toolNotFound;
    e.tool = tool;
    return e;
}

JXLError JXLError::executionFailed(const QString &tool, int exitCode, const QString &message)
{
    JXLError e;
    e.kind = Kind::executionFailed;
    e.tool = tool;
    e.exitCode = exitCode;
    e.message = message;
    return e;
}

JXLError JXLError::fileNotFound(const QString &path)
{
    JXLError e;
    e.kind = Kind::fileNotFound;
    e.path = path;
    return e;
}

JXLError JXLError::verificationFailed(const QString &reason)
{
    JXLError e;
    e.kind = Kind::verificationFailed;
    e.reason = reason;
    return e;
}

JXLError JXLError::invalidFormat(const QString &expected)
{
    JXLError e;
    e.kind = Kind::invalidFormat;
    e.expected = expected;
    return e;
}

JXLError JXLError::platform(const QString &message)
{
    JXLError e;
    e.kind = Kind::platform;
    e.message = message;
    return e;
}

QString JXLError::errorDescription() const
{
    switch (kind) {
    case Kind::toolNotFound:
        return QStringLiteral("未检测到 ") + tool
            + QStringLiteral(" 工具。请确保已通过 Homebrew 安装 (brew install jpeg-xl) 或在设置中指定路径。");
    case Kind::executionFailed:
        return tool + QStringLiteral(" 运行出错 (代码 ") + QString::number(exitCode) + QStringLiteral("): ") + message;
    case Kind::fileNotFound:
        return QStringLiteral("找不到指定文件: ") + path;
    case Kind::verificationFailed:
        return QStringLiteral("无损校验未通过: ") + reason;
    case Kind::invalidFormat:
        return QStringLiteral("文件格式不匹配，预期为: ") + expected;
    case Kind::platform:
        return message;
    }
    return message;
}
