#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>

#include "discovery/DeviceInfo.h"
#include "discovery/DeviceSink.h"
#include "discovery/SearchProtocol.h"

// Base of every search worker: one UDP socket, one receive thread that hands each datagram to
// the subclass's parser, and recovery from a failed receive by re-creating socket and thread.
// An empty datagram is no failure: it is ignored, and the socket stays as it is.
//
// Thread safety: the owner (the user-interface thread) calls SendSearchCommand, ResetLastDevice
// and ExitWorkThread while the receive thread is blocked in its receive. The socket object is
// guarded by a mutex; the receive thread reads through its own duplicate of the descriptor, so
// that closing the socket never races with the blocked receive. Shutting the socket down wakes
// that receive with a count of 0 and no sender, which ends the thread without a restart.
class CSearchDeviceThread {
 public:
  static constexpr int kReceiveLength = 1024;
  static constexpr int kMaxCreateRetries = 20;

  CSearchDeviceThread();
  CSearchDeviceThread(const CSearchDeviceThread&) = delete;
  CSearchDeviceThread& operator=(const CSearchDeviceThread&) = delete;
  virtual ~CSearchDeviceThread();

  virtual void CreateWorkThread();
  virtual void InitValue(const char* ip, std::int32_t port, bool testCreate);
  virtual void ExitWorkThread();
  virtual std::int32_t SendSearchCommand(const SearchPacket& request);
  virtual void ResetLastDevice();
  virtual std::int32_t WorkThread();
  virtual void HandleReceiveData(const char* data, std::int32_t length, const char* address);

  // Gives the worker the receiver of the devices it accepts. Set it before InitValue, while no
  // receive thread runs: the receive thread reads it without a lock. Without one (or with an
  // empty one) the worker hands its devices to SearchDeviceManager::OnDeviceFound.
  void SetDeviceSink(DeviceSink sink);

  // Creation retry of the per-address workers: the next port, at most kMaxCreateRetries times in
  // the worker's life.
  void TestCreateWorkThread();

  std::int32_t Port() const { return nPort.load(); }
  const std::string& Address() const { return strIP; }
  std::int32_t CreateRetries() const { return testCount.load(); }
  bool HasSocket();
  DeviceInfo LastDevice();
  // Why the worker's socket could not be made the last time it was tried: the system's error
  // number (EACCES for a privileged port without the capability, EADDRINUSE for a port another
  // program holds; -1 for another failure) and its text. 0 and empty while the socket is open.
  int CreateError() const { return createError.load(); }
  std::string CreateErrorText();
  // The number of receive threads of this worker that have not ended yet.
  int RunningThreads();
  // Waits until no receive thread of this worker runs; false when the time ran out.
  bool WaitForWorkThreads(std::chrono::milliseconds timeout);

 protected:
  // The frame every CreateWorkThread shares: the first log line, both flags false, open the
  // socket, let the subclass prepare it (options, group), bind, start the receive thread. On any
  // failure the socket is closed, the error line written and, when `retry` is true, the next port
  // tried (TestCreateWorkThread). When `acquireSocket` is given and returns true, it has put a
  // socket in place that is already prepared and bound (AssignSocket), and opening, preparing
  // and binding are skipped; it may throw as BindSocket does.
  void CreateWorkThreadFrame(const char* firstLine, const std::function<void()>& prepareSocket,
                             const std::string& bindAddress, bool retry,
                             const std::function<bool()>& acquireSocket = nullptr);
  void SetCreateError(int error, const std::string& text);
  // Building blocks of CreateWorkThread and ExitWorkThread. They throw the library's
  // boost::system::system_error, whose text names the failed operation ("open: ...").
  void OpenSocket();
  void BindSocket(const std::string& address, std::int32_t port);
  // Makes an already bound socket that another program made (the port helper) the worker's
  // socket, with the receive buffer OpenSocket asks for. Takes ownership of `descriptor`.
  void AssignSocket(int descriptor);
  void StartWorkThread();
  // Shuts the socket down (waking a blocked receive) and closes it; never throws.
  void CloseSocket();
  // CloseSocket for ExitWorkThread: when the owner calls it, a restart that the receive thread
  // may have in progress gives up instead of bringing the worker back.
  void CloseSocketForExit();
  // Runs `action` on the socket under the socket lock.
  template <typename Action>
  void WithSocket(Action&& action) {
    boost::mutex::scoped_lock lock(socketMutex);
    action(socket);
  }
  // True on this worker's own receive thread.
  bool OnWorkThread() const;
  // Compares a freshly parsed record with lastDevice and replaces it when it differs, under the
  // worker's lock: true when the record is new. With COMPARE_TYPE, records of another report
  // type (an announcement, a goodbye, a reply) differ even when every text is the same.
  bool AcceptDevice(const DeviceInfo& device, bool clearWhenSame, bool compareType = false);
  // Hands an accepted device to the worker's sink, with the worker's port.
  void HandOn(const DeviceInfo& device);

  DeviceInfo lastDevice;
  boost::asio::io_context ioService;
  boost::asio::ip::udp::socket socket;
  std::string strIP;
  std::atomic<std::int32_t> nPort{kFirstCommandPort};
  std::atomic<std::int32_t> testCount{0};
  std::atomic<bool> bExitSock{false};
  std::atomic<bool> bRetartSock{false};
  bool bTestCreate = false;

 private:
  void RunWorkThread();

  DeviceSink deviceSink;
  boost::mutex lastDeviceMutex;
  boost::mutex socketMutex;
  std::atomic<int> createError{0};
  boost::mutex createErrorMutex;
  std::string createErrorText;
  // Set when the owner told the worker to exit; a restart in progress on the receive thread then
  // gives up instead of bringing the worker back. Cleared by InitValue.
  std::atomic<bool> exitRequested{false};
  boost::mutex threadsMutex;
  boost::condition_variable threadsEnded;
  int runningThreads = 0;
};
