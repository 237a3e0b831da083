#pragma once

#include <QCoreApplication>
#include <QDateTime>
#include <QString>
#include <QUrl>

struct UpdateStatus;

// Texts the update sheet and the About page share, so both say the same of one state.
namespace UpdateTexts {

// progress × 100, truncated toward zero and kept within 0…100: 0.999 is 99.
int wholePercent(double progress);

// The About page's line for a state; lastChecked is used while idle.
QString statusLine(const UpdateStatus &status, const QDateTime &lastChecked);

// "安装包已下载到「下载」文件夹" and how to install what was saved at file.
QString downloadedTitle();
QString installHint(const QUrl &file);

} // namespace UpdateTexts
