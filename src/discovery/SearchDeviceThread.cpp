#include "discovery/SearchDeviceThread.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <utility>

#include <boost/asio/ip/address_v4.hpp>
#include <boost/system/system_error.hpp>
#include <boost/thread/thread.hpp>

#include "diag/LogSystem.h"
#include "discovery/SearchDeviceManager.h"

namespace {

using boost::asio::ip::udp;

// The worker whose receive thread is the current thread, if any.
thread_local const CSearchDeviceThread* currentWorker = nullptr;

// Receive buffer asked for every socket. A search pass can bring a burst of replies from many
// devices within a few milliseconds; the kernel's default buffer holds only a few hundred small
// datagrams. As root the limit of net.core.rmem_max does not apply.
constexpr int kReceiveBufferBytes = 4 * 1024 * 1024;

// What one receive brought.
struct Reception {
  enum Kind {
    Datagram,  // a datagram, possibly empty; `sender` holds its sender's dotted address
    ShutDown,  // no datagram: the socket was shut down for reading
    Failed,    // the receive failed
  };
  Kind kind;
  std::size_t count;
  char sender[INET_ADDRSTRLEN];
};

// Receives one datagram of at most kReceiveLength bytes into `buffer`, blocking. On Linux a
// receive returns 0 both for an empty datagram and on a socket that was shut down; only a
// datagram has a sender, so the length of the sender's address tells the two apart.
Reception ReceiveDatagram(int descriptor, char* buffer) {
  Reception reception{Reception::Failed, 0, {}};
  sockaddr_in sender{};
  socklen_t senderLength = 0;
  ssize_t count = -1;
  do {
    senderLength = sizeof sender;
    count = ::recvfrom(descriptor, buffer, CSearchDeviceThread::kReceiveLength, 0,
                       reinterpret_cast<sockaddr*>(&sender), &senderLength);
  } while (count < 0 && errno == EINTR);
  if (count < 0) {
    return reception;
  }
  if (senderLength == 0) {
    reception.kind = Reception::ShutDown;
    return reception;
  }
  reception.kind = Reception::Datagram;
  reception.count = static_cast<std::size_t>(count);
  ::inet_ntop(AF_INET, &sender.sin_addr, reception.sender, sizeof reception.sender);
  return reception;
}

// Best effort: a smaller buffer only makes a large burst lose datagrams.
void SetReceiveBuffer(int descriptor) {
  const int bytes = kReceiveBufferBytes;
  if (::setsockopt(descriptor, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0) {
    ::setsockopt(descriptor, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
  }
}

void ThrowIfError(const boost::system::error_code& error, const char* operation) {
  if (error) {
    throw boost::system::system_error(error, operation);
  }
}

}  // namespace

CSearchDeviceThread::CSearchDeviceThread()
    : socket(ioService), deviceSink(&SearchDeviceManager::OnDeviceFound) {
  lastDevice.Reset();
}

CSearchDeviceThread::~CSearchDeviceThread() {
  boost::system::error_code ignored;
  socket.close(ignored);
}

void CSearchDeviceThread::InitValue(const char* ip, std::int32_t port, bool testCreate) {
  strIP = ip == nullptr ? std::string() : std::string(ip);
  nPort = port;
  bTestCreate = testCreate;
  exitRequested = false;
  WriteLog("SendThread %d : Init Search Device Work Thread Value, strIP : %s, nPort : %d  ", Port(),
           strIP.c_str(), Port());
  CreateWorkThread();
}

void CSearchDeviceThread::CreateWorkThread() {
  CreateWorkThreadFrame("SendThread %d : Create Search Device Work Thread   ", nullptr,
                        std::string(), false);
}

void CSearchDeviceThread::CreateWorkThreadFrame(const char* firstLine,
                                                const std::function<void()>& prepareSocket,
                                                const std::string& bindAddress, bool retry,
                                                const std::function<bool()>& acquireSocket) {
  if (exitRequested && OnWorkThread()) {
    // The owner told the worker to exit while its receive thread was about to restart it.
    return;
  }
  WriteLog(firstLine, Port());
  bExitSock = false;
  bRetartSock = false;
  try {
    if (!acquireSocket || !acquireSocket()) {
      OpenSocket();
      if (prepareSocket) {
        prepareSocket();
      }
      BindSocket(bindAddress, Port());
    }
    StartWorkThread();
    SetCreateError(0, std::string());
  } catch (const std::exception& error) {
    const auto* systemError = dynamic_cast<const boost::system::system_error*>(&error);
    SetCreateError(systemError != nullptr ? systemError->code().value() : -1,
                   systemError != nullptr ? systemError->code().message() : error.what());
    CloseSocket();
    WriteLog("SendThread %d : Create Search Device Work Thread Error : %s   ", Port(),
             error.what());
    if (retry) {
      TestCreateWorkThread();
    }
  }
}

void CSearchDeviceThread::SetCreateError(int error, const std::string& text) {
  boost::mutex::scoped_lock lock(createErrorMutex);
  createError = error;
  createErrorText = text;
}

std::string CSearchDeviceThread::CreateErrorText() {
  boost::mutex::scoped_lock lock(createErrorMutex);
  return createErrorText;
}

void CSearchDeviceThread::ExitWorkThread() {
  bExitSock = true;
  CloseSocketForExit();
  WriteTimeLog("SendThread %d : Exit Search Device Tread , bExitSock : %d  ", Port(),
               static_cast<int>(bExitSock.load()));
}

void CSearchDeviceThread::SetDeviceSink(DeviceSink sink) {
  deviceSink = sink ? std::move(sink) : DeviceSink(&SearchDeviceManager::OnDeviceFound);
}

std::int32_t CSearchDeviceThread::SendSearchCommand(const SearchPacket&) { return 0; }

void CSearchDeviceThread::ResetLastDevice() {
  boost::mutex::scoped_lock lock(lastDeviceMutex);
  lastDevice.Reset();
}

void CSearchDeviceThread::HandleReceiveData(const char*, std::int32_t, const char*) {}

void CSearchDeviceThread::TestCreateWorkThread() {
  WriteLog("SendThread %d : Handle Create Search Device Work Thread Error  ", Port());
  if (testCount >= kMaxCreateRetries) {
    return;
  }
  ++nPort;
  ++testCount;
  WriteLog("SendThread %d : Test Create Search Device Work Thread, testCount = %d, port = %d  ",
           Port(), testCount.load(), Port());
  CreateWorkThread();
}

std::int32_t CSearchDeviceThread::WorkThread() {
  WriteLog("SendThread %d : Begin Search Device Work Thread  ", Port());
  try {
    // The thread receives through its own descriptor of the socket: the owner may close the
    // socket object at any time, and a shutdown reaches both descriptors.
    udp::socket receiver(ioService);
    {
      boost::mutex::scoped_lock lock(socketMutex);
      if (socket.is_open()) {
        // Close-on-exec like the socket itself: a program the application starts (a browser,
        // the file manager) must not inherit the engine's ports.
        const int descriptor = ::fcntl(socket.native_handle(), F_DUPFD_CLOEXEC, 0);
        if (descriptor < 0) {
          throw boost::system::system_error(
              boost::system::error_code(errno, boost::system::system_category()), "dup");
        }
        boost::system::error_code assignError;
        receiver.assign(udp::v4(), descriptor, assignError);
        if (assignError) {
          ::close(descriptor);
          throw boost::system::system_error(assignError, "assign");
        }
      }
    }
    char buffer[kReceiveLength + 1];
    while (!bExitSock) {
      WriteLog("SendThread %d : Wait Reciver Socket Protocol Info  ", Port());
      std::memset(buffer, 0, sizeof buffer);
      const Reception reception = receiver.is_open()
                                      ? ReceiveDatagram(receiver.native_handle(), buffer)
                                      : Reception{Reception::Failed, 0, {}};
      WriteLog("SendThread %d : Reciver Socket Protocol Info, nReceive = %d  ", Port(),
               static_cast<int>(reception.count));
      if (reception.kind == Reception::Datagram && reception.count != 0) {
        WriteLog("SendThread %d : Recive Socket Protocol IP : %s, nLen : %d  ", Port(),
                 reception.sender, static_cast<int>(reception.count));
        HandleReceiveData(buffer, static_cast<std::int32_t>(reception.count), reception.sender);
      } else if (reception.kind == Reception::Datagram) {
        // An empty datagram carries no reply, but anyone on the network can send one: taking it
        // for a failed receive and re-creating the socket would throw away the replies queued in
        // the old one and refuse those that arrive meanwhile.
        WriteLog("SendThread %d : Recive Socket Protocol Empty Datagram, IP : %s, Ignored  ",
                 Port(), reception.sender);
      } else if (bExitSock || reception.kind == Reception::ShutDown) {
        // The owner shut the socket down to end this thread; when it has already made a new
        // socket (which clears bExitSock), that socket has a thread of its own.
        break;
      } else {
        WriteLog(
            "SendThread %d : Reciver Socket Protocol Null Info, bExitSock = %d, bRetartSock = %d  ",
            Port(), 0, static_cast<int>(bRetartSock.load()));
        bExitSock = true;
        bRetartSock = true;
      }
    }
    // Let go of the port before a restart binds it again.
    boost::system::error_code error;
    receiver.close(error);
    if (bRetartSock && !exitRequested) {
      ExitWorkThread();
      CreateWorkThread();
    }
  } catch (const std::exception& error) {
    WriteLog("SendThread %d : Create Socket Protocolt Server Error : %s  ", Port(), error.what());
    return 0;
  }
  WriteTimeLog("SendThread %d : Finish Search Device Work Thread  ", Port());
  return 0;
}

bool CSearchDeviceThread::HasSocket() {
  boost::mutex::scoped_lock lock(socketMutex);
  return socket.is_open();
}

DeviceInfo CSearchDeviceThread::LastDevice() {
  boost::mutex::scoped_lock lock(lastDeviceMutex);
  return lastDevice;
}

int CSearchDeviceThread::RunningThreads() {
  boost::mutex::scoped_lock lock(threadsMutex);
  return runningThreads;
}

bool CSearchDeviceThread::WaitForWorkThreads(std::chrono::milliseconds timeout) {
  boost::mutex::scoped_lock lock(threadsMutex);
  return threadsEnded.wait_for(lock, boost::chrono::milliseconds(timeout.count()),
                               [this] { return runningThreads == 0; });
}

void CSearchDeviceThread::OpenSocket() {
  boost::mutex::scoped_lock lock(socketMutex);
  boost::system::error_code error;
  socket.open(udp::v4(), error);
  ThrowIfError(error, "open");
  // The engine's ports stay with the engine, not with the programs the application starts.
  ::fcntl(socket.native_handle(), F_SETFD, FD_CLOEXEC);
  SetReceiveBuffer(socket.native_handle());
}

void CSearchDeviceThread::AssignSocket(int descriptor) {
  boost::mutex::scoped_lock lock(socketMutex);
  boost::system::error_code error;
  socket.assign(udp::v4(), descriptor, error);
  if (error) {
    ::close(descriptor);
    ThrowIfError(error, "assign");
  }
  ::fcntl(socket.native_handle(), F_SETFD, FD_CLOEXEC);
  SetReceiveBuffer(socket.native_handle());
}

void CSearchDeviceThread::BindSocket(const std::string& address, std::int32_t port) {
  boost::mutex::scoped_lock lock(socketMutex);
  boost::system::error_code error;
  boost::asio::ip::address_v4 local = boost::asio::ip::address_v4::any();
  if (!address.empty()) {
    local = boost::asio::ip::make_address_v4(address, error);
    ThrowIfError(error, "bind");
  }
  socket.bind(udp::endpoint(local, static_cast<unsigned short>(port)), error);
  ThrowIfError(error, "bind");
}

void CSearchDeviceThread::StartWorkThread() {
  boost::mutex::scoped_lock lock(socketMutex);
  if (exitRequested && OnWorkThread()) {
    // The owner told the worker to exit while this thread was restarting it.
    boost::system::error_code ignored;
    socket.close(ignored);
    return;
  }
  {
    boost::mutex::scoped_lock threadsLock(threadsMutex);
    ++runningThreads;
  }
  try {
    boost::thread thread(&CSearchDeviceThread::RunWorkThread, this);
    thread.detach();
  } catch (...) {
    boost::mutex::scoped_lock threadsLock(threadsMutex);
    --runningThreads;
    threadsEnded.notify_all();
    throw;
  }
}

void CSearchDeviceThread::CloseSocketForExit() {
  if (!OnWorkThread()) {
    exitRequested = true;
  }
  CloseSocket();
}

void CSearchDeviceThread::CloseSocket() {
  boost::mutex::scoped_lock lock(socketMutex);
  if (socket.is_open()) {
    boost::system::error_code ignored;
    // On Linux closing a descriptor does not wake a receive blocked on it; a shutdown does, even
    // on an unconnected datagram socket (which reports ENOTCONN but still wakes the reader).
    ::shutdown(socket.native_handle(), SHUT_RDWR);
    socket.close(ignored);
  }
}

bool CSearchDeviceThread::OnWorkThread() const { return currentWorker == this; }

bool CSearchDeviceThread::AcceptDevice(const DeviceInfo& device, bool clearWhenSame,
                                       bool compareType) {
  boost::mutex::scoped_lock lock(lastDeviceMutex);
  if (IsSameDevice(device, lastDevice) && (!compareType || device.type == lastDevice.type)) {
    if (clearWhenSame) {
      lastDevice.Reset();
    }
    return false;
  }
  lastDevice = device;
  return true;
}

void CSearchDeviceThread::HandOn(const DeviceInfo& device) { deviceSink(device, Port()); }

void CSearchDeviceThread::RunWorkThread() {
  currentWorker = this;
  WorkThread();
  currentWorker = nullptr;
  boost::mutex::scoped_lock lock(threadsMutex);
  --runningThreads;
  threadsEnded.notify_all();
}
