#pragma once

// The network lab: a pair of network namespaces of this test's own, "engine" and "devices",
// joined by a veth pair with addresses from 10.231.0.0/16 and default routes, so that limited
// broadcast and multicast cross a real link and never reach the machine's own network.
// Everything it creates is removed by its destructor, and a stale lab of a crashed run is
// removed by `tests/lab/lab.sh cleanup`.

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// True when the process may create namespaces (runs as root). Lab tests skip themselves
// otherwise, and only then.
bool LabAvailable();

// A wait status as a shell reports it: the exit status, 128 + the signal for a killed process,
// -1 otherwise.
int DecodeExitStatus(int status);

// Skips the current GoogleTest test when the lab is not available.
#define TARVELO_REQUIRE_LAB()                                                         \
  do {                                                                                \
    if (!::testsupport::LabAvailable()) GTEST_SKIP() << "the network lab needs root"; \
  } while (0)

class LabNetwork {
 public:
  static constexpr const char* kEngineAddress = "10.231.0.1";
  static constexpr const char* kDeviceAddress = "10.231.0.2";

  // Creates both namespaces, the link, addresses (prefix /16) and routes. Throws
  // std::runtime_error with the failed command on failure (after removing what was made).
  LabNetwork();
  ~LabNetwork();
  LabNetwork(const LabNetwork&) = delete;
  LabNetwork& operator=(const LabNetwork&) = delete;

  const std::string& EngineNamespace() const;
  const std::string& DeviceNamespace() const;
  const std::string& EngineInterface() const;
  const std::string& DeviceInterface() const;

  // Adds an address (with its prefix, e.g. "10.231.0.9/16") to one side's interface.
  void AddEngineAddress(const std::string& cidr);
  void RemoveEngineAddress(const std::string& cidr);
  // Adds `count` consecutive addresses starting at `first` (dotted) to the device side, /16.
  void AddDeviceAddresses(const std::string& first, int count);

  // A further link between the two sides: returns the name of its engine-side interface, which
  // is up but has no address yet. Lets a test give the engine host a second interface.
  std::string AddEngineInterface();
  // Adds or removes an address on a given engine-side interface (one of AddEngineInterface's).
  void AddEngineAddress(const std::string& cidr, const std::string& interface);
  void RemoveEngineAddress(const std::string& cidr, const std::string& interface);

  // A further network of devices: a namespace of its own, joined to the engine's namespace by a
  // veth link with `engineCidr` on the engine's end and `deviceCidr` on the other, and a default
  // route through the link on the devices' side only. Spawn, Run and the scopes accept its
  // namespace. Lets a test give the engine host several networks, each with devices of its own.
  struct DeviceNetwork {
    std::string ns;
    std::string engineInterface;
    std::string deviceInterface;
  };
  DeviceNetwork AddDeviceNetwork(const std::string& engineCidr, const std::string& deviceCidr);
  // Adds `count` consecutive addresses starting at `first` to a further network's device side,
  // with the prefix of that network's `deviceCidr`.
  void AddDeviceAddresses(const std::string& first, int count, const DeviceNetwork& network);

  // Deletes the link between the engine and the devices and makes it again as the constructor
  // did: the same names, addresses and routes, but new interfaces (with new indexes). Addresses
  // added later to either end are gone.
  void RecreateLink();

  // True when the calling thread is inside the named namespace right now.
  static bool IsCurrentNamespace(const std::string& ns);

  // Moves the calling thread into a namespace for the scope's life; threads it starts meanwhile,
  // and sockets it opens, belong to that namespace for good.
  class Scope {
   public:
    Scope(const LabNetwork& lab, const std::string& ns);
    ~Scope();
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;

   private:
    int previous_;
  };
  Scope EnterEngine() const { return Scope(*this, EngineNamespace()); }
  Scope EnterDevices() const { return Scope(*this, DeviceNamespace()); }

  // Starts a program inside a namespace (argument vector, no shell). Its standard output goes to
  // `stdoutPath` when given, else to /dev/null; standard error is inherited. The destructor
  // terminates every process still running.
  pid_t Spawn(const std::string& ns, const std::vector<std::string>& argv,
              const std::string& stdoutPath = std::string());
  // Waits for a spawned process; returns its exit status, or -1 when it had to be killed after
  // `timeout`. A process ended by a signal gives 128 + the signal's number, as a shell reports it.
  int Wait(pid_t pid, std::chrono::milliseconds timeout);
  void Terminate(pid_t pid);

  // Runs a command inside a namespace and waits for it (argument vector); returns its exit status.
  // Its standard streams are the test's own.
  int Run(const std::string& ns, const std::vector<std::string>& argv);

 private:
  struct Impl;
  Impl* impl_;
};

// True when the calling thread is inside the namespace of a lab (one named tvl-*).
bool InLabNamespace();
// True when the calling thread is on the machine's own network. Every namespace that is not a
// lab's counts as the machine's, which errs on the safe side. Code that opens sockets for a test
// or a benchmark refuses to do so there.
bool InMachineNamespace();

// Polls `condition` every few milliseconds until it holds or `timeout` passes.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// The path of a built program next to the test binaries (CMake passes the build folder).
std::string BuiltProgram(const std::string& name);

}  // namespace testsupport
