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

// Time-outs (reads return at once), queue sizes and 38400 8O1 over the settings
// text, as every open sets them; false when the time-outs or queues cannot be set.
bool ConfigureComm(HANDLE hComm, LPCSTR szSettings);
