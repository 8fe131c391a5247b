#include "LabNetwork.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

#include <gtest/gtest.h>

#include "TemporaryDirectory.h"

extern char** environ;

namespace testsupport {
namespace {

// Every lab of this process gets its own number, so that labs of one test binary never share a
// name and `lab.sh cleanup` can tell from the name which process made them.
std::atomic<int> labCounter{0};
std::atomic<int> interfaceCounter{0};

// How long a spawned program may take to end after SIGTERM before it is killed.
constexpr std::chrono::seconds kTerminateGrace{5};
// How long a fresh link may take to report its carrier.
constexpr std::chrono::seconds kLinkUpTimeout{10};

const char* IpProgram() {
  // Tests may run with a PATH that lacks the system folders; look where Debian keeps `ip` first.
  static const char* const kCandidates[] = {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"};
  for (const char* candidate : kCandidates) {
    if (::access(candidate, X_OK) == 0) {
      return candidate;
    }
  }
  return "ip";
}

std::string Join(const std::vector<std::string>& argv) {
  std::string text;
  for (const std::string& item : argv) {
    if (!text.empty()) {
      text += ' ';
    }
    text += item;
  }
  return text;
}

std::string ErrnoText(const std::string& what, int error) {
  return what + ": " + std::strerror(error);
}

class SpawnActions {
 public:
  SpawnActions() { ::posix_spawn_file_actions_init(&actions_); }
  ~SpawnActions() { ::posix_spawn_file_actions_destroy(&actions_); }
  SpawnActions(const SpawnActions&) = delete;
  SpawnActions& operator=(const SpawnActions&) = delete;
  posix_spawn_file_actions_t* Get() { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_;
};

// Starts `argv` (no shell) with the given file actions. The child never inherits the test's
// descriptors: an inherited socket would keep an engine port bound after the engine closed it.
pid_t SpawnProgram(const std::vector<std::string>& argv, SpawnActions& actions) {
  ::posix_spawn_file_actions_addclosefrom_np(actions.Get(), 3);
  std::vector<char*> pointers;
  pointers.reserve(argv.size() + 1);
  for (const std::string& item : argv) {
    pointers.push_back(const_cast<char*>(item.c_str()));
  }
  pointers.push_back(nullptr);
  pid_t pid = -1;
  const int error =
      ::posix_spawnp(&pid, pointers[0], actions.Get(), nullptr, pointers.data(), environ);
  if (error != 0) {
    throw std::runtime_error(ErrnoText("cannot start " + Join(argv), error));
  }
  return pid;
}

int WaitBlocking(pid_t pid) {
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      return -1;
    }
  }
  return DecodeExitStatus(status);
}

// Runs `ip` with the arguments and returns its status and everything it wrote.
int RunIp(const std::vector<std::string>& arguments, std::string& output) {
  std::vector<std::string> argv{IpProgram()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  int pipeEnds[2];
  if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
    throw std::runtime_error(ErrnoText("pipe", errno));
  }
  SpawnActions actions;
  ::posix_spawn_file_actions_addopen(actions.Get(), 0, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_adddup2(actions.Get(), pipeEnds[1], 1);
  ::posix_spawn_file_actions_adddup2(actions.Get(), pipeEnds[1], 2);
  pid_t pid = -1;
  try {
    pid = SpawnProgram(argv, actions);
  } catch (...) {
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    throw;
  }
  ::close(pipeEnds[1]);
  output.clear();
  char buffer[512];
  for (;;) {
    const ssize_t count = ::read(pipeEnds[0], buffer, sizeof buffer);
    if (count > 0) {
      output.append(buffer, static_cast<std::size_t>(count));
    } else if (count == 0 || errno != EINTR) {
      break;
    }
  }
  ::close(pipeEnds[0]);
  return WaitBlocking(pid);
}

// Runs `ip` and throws with the command and its message when it fails.
std::string Ip(const std::vector<std::string>& arguments) {
  std::string output;
  const int status = RunIp(arguments, output);
  if (status != 0) {
    throw std::runtime_error("ip " + Join(arguments) + " failed with status " +
                             std::to_string(status) + ": " + output);
  }
  return output;
}

// The lab only ever uses 10.231.0.0/16; anything else is refused before it reaches `ip`.
std::uint32_t LabAddress(const std::string& dotted) {
  in_addr parsed{};
  if (::inet_pton(AF_INET, dotted.c_str(), &parsed) != 1) {
    throw std::invalid_argument("not an IPv4 address: " + dotted);
  }
  const std::uint32_t address = ntohl(parsed.s_addr);
  if ((address >> 16) != ((10u << 8) | 231u)) {
    throw std::invalid_argument("the lab only uses 10.231.0.0/16, not " + dotted);
  }
  return address;
}

std::string Dotted(std::uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 255) + "." +
         std::to_string((address >> 8) & 255) + "." + std::to_string(address & 255);
}

void CheckLabCidr(const std::string& cidr) {
  const std::size_t slash = cidr.find('/');
  LabAddress(cidr.substr(0, slash));
}

// Adds `count` consecutive addresses from `first` with the given prefix length to an interface.
void AddAddresses(const std::string& ns, const std::string& interface, const std::string& first,
                  const std::string& prefix, int count) {
  const std::uint32_t start = LabAddress(first);
  if (count <= 0) {
    return;
  }
  LabAddress(Dotted(start + static_cast<std::uint32_t>(count - 1)));
  // One `ip` run for all of them: a thousand simulated devices need a thousand addresses.
  TemporaryDirectory folder;
  const std::string batch = folder.Path() + "/addresses";
  {
    std::ofstream file(batch);
    for (int i = 0; i < count; ++i) {
      file << "addr add " << Dotted(start + static_cast<std::uint32_t>(i)) << "/" << prefix
           << " dev " << interface << "\n";
    }
    if (!file) {
      throw std::runtime_error("cannot write " + batch);
    }
  }
  Ip({"-n", ns, "-batch", batch});
}

bool SameFile(const char* a, const char* b) {
  struct stat first {};
  struct stat second {};
  return ::stat(a, &first) == 0 && ::stat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

// A test binary whose every test skipped itself for want of the lab ends with exit code 77,
// which CTest reports as "skipped" (SKIP_RETURN_CODE) rather than as passed. The status is set
// from an exit handler, after GoogleTest has written all its reports.
void ExitAsSkipped() {
  std::fflush(nullptr);
  std::_Exit(77);
}

class SkippedWithoutLab : public ::testing::EmptyTestEventListener {
  void OnTestProgramEnd(const ::testing::UnitTest& unit) override {
    if (!LabAvailable() && unit.skipped_test_count() > 0 && unit.successful_test_count() == 0 &&
        unit.failed_test_count() == 0) {
      std::atexit(&ExitAsSkipped);
    }
  }
};

// Registered when the program starts, before GoogleTest runs anything.
const bool skippedListenerInstalled = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new SkippedWithoutLab);
  return true;
}();

}  // namespace

struct LabNetwork::Impl {
  std::string engineNamespace;
  std::string deviceNamespace;
  std::string engineInterface;
  std::string deviceInterface;
  std::string base;
  // Namespaces made so far, deleted in reverse order.
  std::vector<std::string> created;
  // Further device networks, with the prefix length of their device side.
  std::vector<std::pair<DeviceNetwork, std::string>> networks;
  std::mutex childrenMutex;
  std::vector<pid_t> children;

  bool Owns(const std::string& ns) const {
    return ns == engineNamespace || ns == deviceNamespace ||
           std::any_of(networks.begin(), networks.end(),
                       [&](const auto& network) { return network.first.ns == ns; });
  }
  void RequireOwn(const std::string& ns) const {
    if (!Owns(ns)) {
      throw std::invalid_argument("not a namespace of this lab: " + ns);
    }
  }
  void Forget(pid_t pid) {
    std::lock_guard<std::mutex> lock(childrenMutex);
    children.erase(std::remove(children.begin(), children.end(), pid), children.end());
  }
  void DeleteNamespaces() noexcept {
    for (auto it = created.rbegin(); it != created.rend(); ++it) {
      try {
        std::string output;
        if (RunIp({"netns", "del", *it}, output) != 0) {
          std::fprintf(stderr, "lab: cannot delete namespace %s: %s\n", it->c_str(),
                       output.c_str());
        }
      } catch (const std::exception& error) {
        std::fprintf(stderr, "lab: cannot delete namespace %s: %s\n", it->c_str(), error.what());
      }
    }
    created.clear();
  }
  // A veth link from the engine's namespace to `deviceNs`, both ends addressed and up, the
  // device side (and, with `engineRoute`, the engine side) routing everything through it.
  void MakeLink(const std::string& engineEnd, const std::string& engineCidr,
                const std::string& deviceNs, const std::string& deviceEnd,
                const std::string& deviceCidr, bool engineRoute) const {
    // Both ends are created right inside their namespaces, so no half-made link is ever visible
    // in the machine's own namespace.
    Ip({"link", "add", "name", engineEnd, "netns", engineNamespace, "type", "veth", "peer", "name",
        deviceEnd, "netns", deviceNs});
    const struct {
      const std::string& ns;
      const std::string& interface;
      const std::string& cidr;
      bool route;
    } sides[] = {{engineNamespace, engineEnd, engineCidr, engineRoute},
                 {deviceNs, deviceEnd, deviceCidr, true}};
    for (const auto& side : sides) {
      Ip({"-n", side.ns, "link", "set", "lo", "up"});
      Ip({"-n", side.ns, "addr", "add", side.cidr, "dev", side.interface});
      Ip({"-n", side.ns, "link", "set", side.interface, "up"});
      if (side.route) {
        // Limited broadcast and multicast leave only through a route; a default route through
        // the link sends both across it.
        Ip({"-n", side.ns, "route", "add", "default", "dev", side.interface});
      }
    }
    for (const auto& side : sides) {
      WaitForCarrier(side.ns, side.interface);
    }
  }
  void WaitForCarrier(const std::string& ns, const std::string& interface) const {
    // A veth end passes traffic only once both ends are up; the kernel reports that as LOWER_UP.
    const bool up = WaitUntil(
        [&] {
          std::string output;
          return RunIp({"-n", ns, "-o", "link", "show", "dev", interface}, output) == 0 &&
                 output.find("LOWER_UP") != std::string::npos;
        },
        kLinkUpTimeout);
    if (!up) {
      throw std::runtime_error("link " + interface + " in " + ns + " did not come up");
    }
  }
};

bool LabAvailable() { return ::geteuid() == 0; }

LabNetwork::LabNetwork() : impl_(new Impl) {
  const int number = labCounter++;
  const pid_t pid = ::getpid();
  const std::string base = "tvl-" + std::to_string(pid) + "-" + std::to_string(number);
  impl_->base = base;
  impl_->engineNamespace = base + "-e";
  impl_->deviceNamespace = base + "-d";
  // Interface names are limited to 15 characters.
  const std::string link = "tv" + std::to_string(pid % 100000) + std::to_string(number);
  impl_->engineInterface = link + "e";
  impl_->deviceInterface = link + "d";
  try {
    Ip({"netns", "add", impl_->engineNamespace});
    impl_->created.push_back(impl_->engineNamespace);
    Ip({"netns", "add", impl_->deviceNamespace});
    impl_->created.push_back(impl_->deviceNamespace);
    impl_->MakeLink(impl_->engineInterface, std::string(kEngineAddress) + "/16",
                    impl_->deviceNamespace, impl_->deviceInterface,
                    std::string(kDeviceAddress) + "/16", true);
  } catch (...) {
    impl_->DeleteNamespaces();
    delete impl_;
    throw;
  }
}

LabNetwork::~LabNetwork() {
  std::vector<pid_t> children;
  {
    std::lock_guard<std::mutex> lock(impl_->childrenMutex);
    children = impl_->children;
  }
  for (pid_t pid : children) {
    ::kill(pid, SIGTERM);
  }
  const auto deadline = std::chrono::steady_clock::now() + kTerminateGrace;
  for (pid_t pid : children) {
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() >= deadline) {
        ::kill(pid, SIGKILL);
        WaitBlocking(pid);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  impl_->DeleteNamespaces();
  delete impl_;
}

const std::string& LabNetwork::EngineNamespace() const { return impl_->engineNamespace; }
const std::string& LabNetwork::DeviceNamespace() const { return impl_->deviceNamespace; }
const std::string& LabNetwork::EngineInterface() const { return impl_->engineInterface; }
const std::string& LabNetwork::DeviceInterface() const { return impl_->deviceInterface; }

void LabNetwork::AddEngineAddress(const std::string& cidr) {
  AddEngineAddress(cidr, impl_->engineInterface);
}

void LabNetwork::RemoveEngineAddress(const std::string& cidr) {
  RemoveEngineAddress(cidr, impl_->engineInterface);
}

void LabNetwork::AddEngineAddress(const std::string& cidr, const std::string& interface) {
  CheckLabCidr(cidr);
  Ip({"-n", impl_->engineNamespace, "addr", "add", cidr, "dev", interface});
}

void LabNetwork::RemoveEngineAddress(const std::string& cidr, const std::string& interface) {
  CheckLabCidr(cidr);
  Ip({"-n", impl_->engineNamespace, "addr", "del", cidr, "dev", interface});
}

void LabNetwork::AddDeviceAddresses(const std::string& first, int count) {
  AddAddresses(impl_->deviceNamespace, impl_->deviceInterface, first, "16", count);
}

void LabNetwork::AddDeviceAddresses(const std::string& first, int count,
                                    const DeviceNetwork& network) {
  const auto known = std::find_if(impl_->networks.begin(), impl_->networks.end(),
                                  [&](const auto& item) { return item.first.ns == network.ns; });
  if (known == impl_->networks.end()) {
    throw std::invalid_argument("not a network of this lab: " + network.ns);
  }
  AddAddresses(network.ns, network.deviceInterface, first, known->second, count);
}

LabNetwork::DeviceNetwork LabNetwork::AddDeviceNetwork(const std::string& engineCidr,
                                                       const std::string& deviceCidr) {
  CheckLabCidr(engineCidr);
  CheckLabCidr(deviceCidr);
  const std::size_t slash = deviceCidr.find('/');
  if (slash == std::string::npos) {
    throw std::invalid_argument("an address with its prefix is needed, not " + deviceCidr);
  }
  const int number = static_cast<int>(impl_->networks.size()) + 1;
  const std::string link =
      "tv" + std::to_string(::getpid() % 100000) + "n" + std::to_string(number);
  DeviceNetwork network{impl_->base + "-n" + std::to_string(number), link + "e", link + "d"};
  Ip({"netns", "add", network.ns});
  impl_->created.push_back(network.ns);
  impl_->networks.emplace_back(network, deviceCidr.substr(slash + 1));
  impl_->MakeLink(network.engineInterface, engineCidr, network.ns, network.deviceInterface,
                  deviceCidr, false);
  return network;
}

void LabNetwork::RecreateLink() {
  // Deleting one end of a veth pair deletes the other, and the routes through it.
  Ip({"-n", impl_->engineNamespace, "link", "del", impl_->engineInterface});
  impl_->MakeLink(impl_->engineInterface, std::string(kEngineAddress) + "/16",
                  impl_->deviceNamespace, impl_->deviceInterface,
                  std::string(kDeviceAddress) + "/16", true);
}

std::string LabNetwork::AddEngineInterface() {
  const int number = interfaceCounter++;
  const std::string link =
      "tv" + std::to_string(::getpid() % 100000) + "x" + std::to_string(number);
  const std::string engineSide = link + "e";
  const std::string deviceSide = link + "d";
  Ip({"link", "add", "name", engineSide, "netns", impl_->engineNamespace, "type", "veth", "peer",
      "name", deviceSide, "netns", impl_->deviceNamespace});
  Ip({"-n", impl_->engineNamespace, "link", "set", engineSide, "up"});
  Ip({"-n", impl_->deviceNamespace, "link", "set", deviceSide, "up"});
  impl_->WaitForCarrier(impl_->engineNamespace, engineSide);
  return engineSide;
}

bool LabNetwork::IsCurrentNamespace(const std::string& ns) {
  return SameFile("/proc/thread-self/ns/net", ("/run/netns/" + ns).c_str());
}

LabNetwork::Scope::Scope(const LabNetwork& lab, const std::string& ns) : previous_(-1) {
  lab.impl_->RequireOwn(ns);
  previous_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  if (previous_ < 0) {
    throw std::runtime_error(ErrnoText("open /proc/thread-self/ns/net", errno));
  }
  const std::string path = "/run/netns/" + ns;
  const int target = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (target < 0 || ::setns(target, CLONE_NEWNET) != 0) {
    const int error = errno;
    if (target >= 0) {
      ::close(target);
    }
    ::close(previous_);
    throw std::runtime_error(ErrnoText("enter " + path, error));
  }
  ::close(target);
}

LabNetwork::Scope::~Scope() {
  if (::setns(previous_, CLONE_NEWNET) != 0) {
    // Going on in the wrong namespace could let a later test reach the machine's own network.
    std::perror("lab: cannot return to the previous network namespace");
    std::abort();
  }
  ::close(previous_);
}

pid_t LabNetwork::Spawn(const std::string& ns, const std::vector<std::string>& argv,
                        const std::string& stdoutPath) {
  impl_->RequireOwn(ns);
  if (argv.empty()) {
    throw std::invalid_argument("Spawn needs a program");
  }
  std::vector<std::string> command{IpProgram(), "netns", "exec", ns};
  command.insert(command.end(), argv.begin(), argv.end());
  SpawnActions actions;
  ::posix_spawn_file_actions_addopen(actions.Get(), 0, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_addopen(actions.Get(), 1,
                                     stdoutPath.empty() ? "/dev/null" : stdoutPath.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  // The child list is locked across the start, so the destructor never misses a child.
  std::lock_guard<std::mutex> lock(impl_->childrenMutex);
  const pid_t pid = SpawnProgram(command, actions);
  impl_->children.push_back(pid);
  return pid;
}

int LabNetwork::Wait(pid_t pid, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    const pid_t reaped = ::waitpid(pid, &status, WNOHANG);
    if (reaped == pid) {
      impl_->Forget(pid);
      return DecodeExitStatus(status);
    }
    if (reaped < 0 && errno != EINTR) {
      impl_->Forget(pid);
      throw std::runtime_error(ErrnoText("waitpid " + std::to_string(pid), errno));
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid, SIGKILL);
      WaitBlocking(pid);
      impl_->Forget(pid);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

void LabNetwork::Terminate(pid_t pid) {
  ::kill(pid, SIGTERM);
  Wait(pid, kTerminateGrace);
}

int LabNetwork::Run(const std::string& ns, const std::vector<std::string>& argv) {
  impl_->RequireOwn(ns);
  if (argv.empty()) {
    throw std::invalid_argument("Run needs a program");
  }
  std::vector<std::string> command{IpProgram(), "netns", "exec", ns};
  command.insert(command.end(), argv.begin(), argv.end());
  SpawnActions actions;
  ::posix_spawn_file_actions_addopen(actions.Get(), 0, "/dev/null", O_RDONLY, 0);
  return WaitBlocking(SpawnProgram(command, actions));
}

bool InLabNamespace() {
  DIR* directory = ::opendir("/run/netns");
  if (directory == nullptr) {
    return false;
  }
  bool inside = false;
  while (const dirent* entry = ::readdir(directory)) {
    const std::string name = entry->d_name;
    if (name.rfind("tvl-", 0) == 0 &&
        SameFile("/proc/thread-self/ns/net", ("/run/netns/" + name).c_str())) {
      inside = true;
      break;
    }
  }
  ::closedir(directory);
  return inside;
}

bool InMachineNamespace() { return !InLabNamespace(); }

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      return condition();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::string BuiltProgram(const std::string& name) {
  return std::string(TARVELO_RUNTIME_OUTPUT_DIRECTORY) + "/" + name;
}

int DecodeExitStatus(int status) {
  if (WIFEXITED(status)) {
    return WEXITSTATUS(status);
  }
  if (WIFSIGNALED(status)) {
    return 128 + WTERMSIG(status);
  }
  return -1;
}

}  // namespace testsupport
