// Why cjxl would refuse a JPEG: the whole-file walk through markers and scan data.
#include "engine/jpegdiagnosis.h"

#include <QByteArray>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const JpegDiagnosis::Problem problem = JpegDiagnosis::findProblem(bytes);
    const QString reason = JpegDiagnosis::describe(problem, bytes);
    if (reason.isEmpty() != (problem == JpegDiagnosis::Problem::none))
        qFatal("a problem without words, or words without a problem");
    return 0;
}
