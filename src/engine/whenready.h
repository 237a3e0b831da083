#pragma once

#include <QFuture>
#include <QFutureWatcher>
#include <QObject>

#include <utility>

// Hands a future's result to step on context's thread once it is in: exactly once, and never
// after context is gone (the watcher that waits belongs to it). Unlike a continuation attached
// with QFuture::then, this cannot run twice when the future ends while it is being attached.
template<typename T, typename Step>
void whenReady(QObject *context, const QFuture<T> &future, Step step)
{
    auto *watcher = new QFutureWatcher<T>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, context, [watcher, step = std::move(step)]() mutable {
        watcher->deleteLater();
        step(watcher->result());
    });
    watcher->setFuture(future);
}
