#include "progressline.h"

#include "cliconsole.h"
#include "model/formattedbytes.h"
#include "runreport.h"

#include <QCoreApplication>
#include <QString>

ProgressLine::ProgressLine(bool enabled)
    : m_enabled(enabled)
{
    m_clock.start();
}

void ProgressLine::draw(qsizetype done, qsizetype total, qint64 saved)
{
    if (m_enabled)
        drawLine(done, total, CliTexts::tr("已节省 %1").arg(formattedBytes(saved)) + QStringLiteral("  "));
}

void ProgressLine::draw(qsizetype done, qsizetype total)
{
    if (m_enabled)
        drawLine(done, total, QString());
}

void ProgressLine::drawLine(qsizetype done, qsizetype total, const QString &note)
{
    constexpr int kWidth = 24;
    const int filled = total > 0 ? int(done * kWidth / total) : 0;
    CliConsole::out() << "\r\033[K[" << QString(filled, QLatin1Char('#')) << QString(kWidth - filled, QLatin1Char('-'))
                      << "] " << done << '/' << total << "  " << note << RunReport::elapsedText(m_clock.elapsed())
                      << Qt::flush;
}

void ProgressLine::clear()
{
    if (m_enabled)
        CliConsole::out() << "\r\033[K" << Qt::flush;
}

qint64 ProgressLine::elapsed() const
{
    return m_clock.elapsed();
}
