#include "linux/qt/qt_dispatcher.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>
#include <cmath>

namespace tovami::linux_backend {

QtMainQueue::QtMainQueue() : context_(std::make_unique<QObject>()) {}

QtMainQueue::~QtMainQueue() = default;

void QtMainQueue::async(Task task) {
  QMetaObject::invokeMethod(
      context_.get(), [task = std::move(task)] { task(); }, Qt::QueuedConnection);
}

WorkItem QtMainQueue::asyncAfter(Seconds delay, Task task) {
  auto item = WorkItem::make();
  startTimer(delay, std::move(task), item, false);
  return item;
}

WorkItem QtMainQueue::repeating(Seconds interval, Task task) {
  auto item = WorkItem::make();
  startTimer(interval, std::move(task), item, true);
  return item;
}

void QtMainQueue::startTimer(Seconds delay, Task task, WorkItem item, bool repeat) {
  // Timers belong to the main thread: when asked from elsewhere, hop there first.
  if (QThread::currentThread() != context_->thread()) {
    async([this, delay, task = std::move(task), item, repeat]() mutable {
      startTimer(delay, std::move(task), item, repeat);
    });
    return;
  }
  if (item.isCancelled()) return;
  int ms = static_cast<int>(std::lround(std::max(0.0, delay) * 1000.0));
  auto* timer = new QTimer(context_.get());
  timer->setTimerType(ms < 2000 ? Qt::PreciseTimer : Qt::CoarseTimer);
  timer->setSingleShot(!repeat);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, task = std::move(task), item, repeat] {
    if (item.isCancelled()) {
      timer->stop();
      timer->deleteLater();
      return;
    }
    if (!repeat) timer->deleteLater();
    task();
  });
  timer->start(ms);
}

}  // namespace tovami::linux_backend
