#include "jxlerror.h"

#include <QCoreApplication>

#include <csignal>
#include <cstring>

JXLError JXLError::toolNotFound(const QString &tool)
{
    JXLError e;
    e.kind = Kind::toolNotFound;
    e.tool = tool;
    return e;
}

JXLError JXLError::executionFailed(const QString &tool, int exitCode, const QString &message, const QString &cause)
{
    JXLError e;
    e.kind = Kind::executionFailed;
    e.tool = tool;
    e.exitCode = exitCode;
    e.message = message;
    e.cause = cause;
    return e;
}

JXLError JXLError::killedBySignal(const QString &tool, int signal, const QString &message)
{
    JXLError e;
    e.kind = Kind::killedBySignal;
    e.tool = tool;
    e.exitCode = signal;
    e.message = message;
    return e;
}

JXLError JXLError::unreadable(const QString &path, const QString &systemText)
{
    return platform(QCoreApplication::translate("JXLError", "无法读取文件: %1 (%2)").arg(path, systemText));
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

JXLError JXLError::refused(const QString &reason)
{
    JXLError e;
    e.kind = Kind::refused;
    e.message = reason;
    return e;
}

JXLError JXLError::withHeadline(const QString &text) const
{
    JXLError e = *this;
    e.headline = text;
    return e;
}

QString JXLError::errorDescription() const
{
    if (!headline.isEmpty()) {
        JXLError plain = *this;
        plain.headline.clear();
        return QCoreApplication::translate("JXLError", "%1 (%2)").arg(headline, plain.errorDescription());
    }
    switch (kind) {
    case Kind::toolNotFound:
        return QCoreApplication::translate(
                   "JXLError", "未检测到 %1 工具。请确保已安装 libjxl-tools (sudo apt install libjxl-tools) 或在设置中指定路径。")
            .arg(tool);
    case Kind::executionFailed: {
        // One pass over the placeholders, so a % in the tool's own text stays as it is.
        const QString text = QCoreApplication::translate("JXLError", "%1 运行出错 (代码 %2): %3")
                                 .arg(tool, QString::number(exitCode), message);
        // Chinese runs the two sentences together; English puts a space between them.
        return cause.isEmpty()
            ? text
            : QCoreApplication::translate("JXLError", "%1%2", "the cause, then the tool's failure").arg(cause, text);
    }
    case Kind::killedBySignal: {
        // "SIGKILL" rather than a bare number; the kernel's out-of-memory killer sends exactly that.
        const char *name = sigabbrev_np(exitCode);
        const QString signalText = QString::number(exitCode)
            + (name ? QStringLiteral(", SIG") + QString::fromLatin1(name) : QString());
        const QString text = exitCode == SIGKILL
            ? QCoreApplication::translate("JXLError", "%1 被强制终止 (信号 %2)，系统可能内存不足: %3")
            : QCoreApplication::translate("JXLError", "%1 被信号终止 (信号 %2): %3");
        return text.arg(tool, signalText, message);
    }
    case Kind::fileNotFound:
        return QCoreApplication::translate("JXLError", "找不到指定文件: %1").arg(path);
    case Kind::verificationFailed:
        return QCoreApplication::translate("JXLError", "无损校验未通过: %1").arg(reason);
    case Kind::invalidFormat:
        return QCoreApplication::translate("JXLError", "文件格式不匹配，预期为: %1").arg(expected);
    case Kind::platform:
    case Kind::refused:
        return message;
    }
    return message;
}
