#include "app/ReplyChannel.h"

#include <utility>

#include <QMetaObject>
#include <QObject>

ReplyChannel::ReplyChannel(QObject* receiver) : receiver_(receiver) {}

void ReplyChannel::Post(std::function<void()> task) {
  // The lock keeps the receiver alive for the posting: its destructor closes the channel first.
  std::lock_guard<std::mutex> guard(mutex_);
  if (receiver_ != nullptr) {
    QMetaObject::invokeMethod(receiver_, std::move(task), Qt::QueuedConnection);
  }
}

void ReplyChannel::Close() {
  std::lock_guard<std::mutex> guard(mutex_);
  receiver_ = nullptr;
}
