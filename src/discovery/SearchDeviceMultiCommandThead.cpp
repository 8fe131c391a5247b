#include "discovery/SearchDeviceMultiCommandThead.h"

#include <exception>

#include "diag/LogSystem.h"

void CSearchDeviceMultiCommandThead::CreateWorkThread() {
  // Bound to its own address (when it has one), so that its requests leave through that
  // address's interface and the replies come back to it; no group membership.
  CreateWorkThreadFrame("SendThread %d : Create Search Device Work Thread   ", nullptr, strIP,
                        bTestCreate);
}

void CSearchDeviceMultiCommandThead::ExitWorkThread() {
  bExitSock = true;
  CloseSocketForExit();
  WriteLog("SendThread %d : Exit Search Device Tread , bExitSock : %d  ", Port(),
           static_cast<int>(bExitSock.load()));
}
