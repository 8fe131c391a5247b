#include "SambaServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "NamespaceProcesses.h"
#include "TemporaryDirectory.h"

namespace testsupport {
namespace {

constexpr auto kReachableTimeout = std::chrono::seconds(30);
constexpr auto kStopTimeout = std::chrono::seconds(10);
constexpr std::uint16_t kSmbPort = 445;

const char* const kStateFolders[] = {"state", "cache", "private", "lock", "pid", "ncalrpc"};

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::trunc);
  file << text;
  file.close();
  if (!file) {
    throw std::runtime_error("cannot write " + path);
  }
}

// Every folder Samba keeps state in lies below @FOLDER@. Every name without an account is the
// guest, so that clients that log in anonymously (as GVFS does) reach the shares. No NetBIOS
// name service and no printers: nothing but the SMB port is opened.
const char* const kConfiguration = R"([global]
  workgroup = LAB
  server role = standalone server
  map to guest = Bad User
  guest account = nobody
  state directory = @FOLDER@/state
  cache directory = @FOLDER@/cache
  private dir = @FOLDER@/private
  lock directory = @FOLDER@/lock
  pid directory = @FOLDER@/pid
  ncalrpc dir = @FOLDER@/ncalrpc
  log file = @FOLDER@/log.%m
  smb ports = 445
  disable netbios = yes
  disable spoolss = yes
  load printers = no
  printcap name = /dev/null
[public]
  path = @FOLDER@/public
  guest ok = yes
  read only = no
[media]
  path = @FOLDER@/media
  guest ok = yes
)";

std::string Configuration(const std::string& folder) {
  std::string text = kConfiguration;
  const std::string placeholder = "@FOLDER@";
  for (std::size_t at = text.find(placeholder); at != std::string::npos;
       at = text.find(placeholder, at + folder.size())) {
    text.replace(at, placeholder.size(), folder);
  }
  return text;
}

// True when a TCP connection to the address's SMB port succeeds from inside the engine
// namespace, where the desktop's clients run.
bool Accepts(const LabNetwork& lab, const std::string& address) {
  const LabNetwork::Scope inside(lab, lab.EngineNamespace());
  const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (socket < 0) {
    return false;
  }
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(kSmbPort);
  const bool valid = ::inet_pton(AF_INET, address.c_str(), &target.sin_addr) == 1;
  const bool connected =
      valid && ::connect(socket, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0;
  ::close(socket);
  return connected;
}

bool Ended(pid_t pid) {
  siginfo_t info{};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid;
}

}  // namespace

SambaServer::SambaServer(const LabNetwork& lab, const std::string& folder,
                         const std::vector<std::string>& addresses)
    : lab_(lab), folder_(folder), log_(folder + "/smbd.log") {
  const std::string smbd = FindProgram("smbd");
  if (smbd.empty()) {
    throw std::runtime_error("smbd is not installed");
  }
  for (const char* name : kStateFolders) {
    ::mkdir((folder_ + "/" + name).c_str(), 0755);
  }
  // The shares are written to by the guest account, which is not the test's user.
  for (const char* share : {"public", "media"}) {
    const std::string path = folder_ + "/" + share;
    ::mkdir(path.c_str(), 0777);
    ::chmod(path.c_str(), 0777);
    WriteText(path + "/readme.txt", std::string("the ") + share + " share\n");
  }
  const std::string configuration = folder_ + "/smb.conf";
  WriteText(configuration, Configuration(folder_));
  // smbd must run in a process group of its own: with --no-process-group it signals its caller's
  // whole group when it stops, which would otherwise be the test's.
  pid_ = StartInNamespace(
      lab_, lab_.DeviceNamespace(),
      {smbd, "--foreground", "--no-process-group", "--debug-stdout", "-s", configuration},
      {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LANG=C.UTF-8"}, log_);
  bool reachable = false;
  for (const std::string& address : addresses) {
    reachable = WaitUntil([&] { return Ended(pid_) || Accepts(lab_, address); }, kReachableTimeout);
    reachable = reachable && !Ended(pid_);
    if (!reachable) {
      break;
    }
  }
  if (!reachable) {
    Stop();
    throw std::runtime_error("smbd did not become reachable; see " + log_);
  }
}

SambaServer::~SambaServer() { Stop(); }

void SambaServer::Stop() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    WaitForChild(pid_, kStopTimeout);
    pid_ = -1;
  }
  // smbd starts samba-dcerpcd for share listings; it detaches itself into a session of its own
  // and outlives smbd. Its pid file tells where it is, and its process group holds its workers.
  const std::string pidText = ReadFile(folder_ + "/pid/samba-dcerpcd.pid");
  const pid_t helper = static_cast<pid_t>(std::atol(pidText.c_str()));
  if (helper > 1 && ProcessInNamespace(helper, lab_.DeviceNamespace()) &&
      ::getpgid(helper) == helper) {
    ::kill(-helper, SIGTERM);
    WaitUntil([&] { return !ProcessInNamespace(helper, lab_.DeviceNamespace()); }, kStopTimeout);
  }
}

}  // namespace testsupport
