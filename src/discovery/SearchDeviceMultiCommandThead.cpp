#include "discovery/SearchDeviceMultiCommandThead.h"

#include <exception>

#include "diag/LogSystem.h"

void CSearchDeviceMultiCommandThead::CreateWorkThread() {
  WriteLog("SendThread %d : Create Search Device Work Thread   ", Port());
  bExitSock = false;
  bRetartSock = false;
  try {
    OpenSocket();
    BindSocket(strIP, Port());
    StartWorkThread();
  } catch (const std::exception& error) {
    CloseSocket();
    WriteLog("SendThread %d : Create Search Device Work Thread Error : %s   ", Port(),
             error.what());
    if (bTestCreate) {
      TestCreateWorkThread();
    }
  }
}

void CSearchDeviceMultiCommandThead::ExitWorkThread() {
  bExitSock = true;
  CloseSocketForExit();
  WriteLog("SendThread %d : Exit Search Device Tread , bExitSock : %d  ", Port(),
           static_cast<int>(bExitSock.load()));
}
