// The six serial operations every byte to and from a machine goes through.
#pragma once

#include "platform/win32.h"

// Line-error flags collected by the last failed exchange.
extern WORD wLastComErr;

HANDLE OpenComm(LPCSTR lpszPort, UINT cbInQueue, UINT cbOutQueue);
int CloseComm(HANDLE hComm);
void FlushComm(HANDLE hComm, int nQueue);
WORD GetCommError(HANDLE hComm, LPCOMSTAT lpStat);
int ReadComm(HANDLE hComm, void* lpBuf, int cbRead);
int WriteComm(HANDLE hComm, const void* lpBuf, int cbWrite);
