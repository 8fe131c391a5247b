#pragma once

// Hands the results of work on other threads to an object of the window's thread, for as long as
// that object lives. The object closes the channel when it goes; work that ends later reports to
// nobody instead of to freed memory.

#include <functional>
#include <mutex>

class QObject;

class ReplyChannel {
 public:
  explicit ReplyChannel(QObject* receiver);

  // From any thread: runs TASK on the receiver's thread soon, unless the channel is closed by
  // then. Tasks still waiting when the receiver is destroyed are dropped with it.
  void Post(std::function<void()> task);

  // On the receiver's thread, before it is destroyed.
  void Close();

 private:
  std::mutex mutex_;
  QObject* receiver_;
};
