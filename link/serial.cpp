// Serial port access: each operation maps onto one or two platform calls.
#include "link/serial.h"

#include <cstring>

WORD wLastComErr;

namespace {
char szDevName[128];
}

HANDLE OpenComm(LPCSTR lpszPort, UINT /*cbInQueue*/, UINT /*cbOutQueue*/) {
  // The queue sizes are set by the open handler itself.
  std::strcpy(szDevName, "\\\\.\\");
  std::strncat(szDevName, lpszPort, sizeof(szDevName) - std::strlen(szDevName) - 1);
  return CreateFileA(szDevName, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                     FILE_FLAG_WRITE_THROUGH, nullptr);
}

int CloseComm(HANDLE hComm) { return CloseHandle(hComm) ? 1 : 0; }

void FlushComm(HANDLE hComm, int nQueue) {
  if (nQueue == 0) {
    PurgeComm(hComm, PURGE_TXCLEAR);
  } else if (nQueue == 1) {
    PurgeComm(hComm, PURGE_RXCLEAR);
  }
}

WORD GetCommError(HANDLE hComm, LPCOMSTAT lpStat) {
  DWORD dwErrors = 0;
  if (!ClearCommError(hComm, &dwErrors, lpStat)) return CE_IOE;
  return static_cast<WORD>(dwErrors);
}

int ReadComm(HANDLE hComm, void* lpBuf, int cbRead) {
  DWORD dwRead = 0;
  if (cbRead <= 0) return 0;
  if (!ReadFile(hComm, lpBuf, static_cast<DWORD>(cbRead), &dwRead, nullptr)) return 0;
  return static_cast<int>(dwRead);
}

int WriteComm(HANDLE hComm, const void* lpBuf, int cbWrite) {
  DWORD dwWritten = 0;
  if (cbWrite < 0) return 0;
  if (!WriteFile(hComm, lpBuf, static_cast<DWORD>(cbWrite), &dwWritten, nullptr)) {
    return -static_cast<int>(dwWritten);
  }
  return static_cast<int>(dwWritten);
}

bool ConfigureComm(HANDLE h, LPCSTR szSettings) {
  COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, MAXDWORD, MAXDWORD};
  if (!SetCommTimeouts(h, &timeouts) || !SetupComm(h, 1024, 1024)) return false;
  DCB dcb{};
  dcb.DCBlength = sizeof(dcb);
  GetCommState(h, &dcb);
  BuildCommDCBA(szSettings, &dcb);
  dcb.BaudRate = 38400;
  dcb.ByteSize = 8;
  dcb.Parity = ODDPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = 1;
  dcb.fDsrSensitivity = 0;
  SetCommState(h, &dcb);  // a failure to apply is not fatal
  return true;
}
