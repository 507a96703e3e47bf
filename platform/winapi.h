// The operating-system calls that serial/ and app/ stand on, under their usual names.
// On Windows they are the real ones; elsewhere platform/posix/ provides them with the
// same results (see winapi_posix.cpp).
#pragma once

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else

#include <cstddef>
#include <cstdint>

#define WINAPI

typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef uint32_t UINT;
typedef int32_t LONG;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef void* HANDLE;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef const char* LPCSTR;
typedef DWORD* LPDWORD;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define INFINITE 0xFFFFFFFFu
#define MAXDWORD 0xFFFFFFFFu

// CreateFileA
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define OPEN_EXISTING 3u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_FLAG_OVERLAPPED 0x40000000u

// Waits
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
// OVERLAPPED::Internal while the operation is under way.
#define STATUS_PENDING 0x00000103u
#define MAXIMUM_WAIT_OBJECTS 64u

// Error codes
#define ERROR_SUCCESS 0u
#define ERROR_FILE_NOT_FOUND 2u
#define ERROR_ACCESS_DENIED 5u
#define ERROR_INVALID_HANDLE 6u
#define ERROR_NOT_ENOUGH_MEMORY 8u
#define ERROR_GEN_FAILURE 31u
#define ERROR_SHARING_VIOLATION 32u
#define ERROR_NOT_SUPPORTED 50u
#define ERROR_INVALID_PARAMETER 87u
#define ERROR_IO_INCOMPLETE 996u
#define ERROR_IO_PENDING 997u
#define ERROR_OPERATION_ABORTED 995u
#define ERROR_NOT_FOUND 1168u
#define ERROR_DEVICE_NOT_CONNECTED 1167u

// Comm events, purge flags, escape functions
#define EV_RXCHAR 0x0001u
#define PURGE_TXABORT 0x0001u
#define PURGE_RXABORT 0x0002u
#define PURGE_TXCLEAR 0x0004u
#define PURGE_RXCLEAR 0x0008u
#define SETXOFF 1u
#define SETXON 2u
#define SETRTS 3u
#define CLRRTS 4u
#define SETDTR 5u
#define CLRDTR 6u

// DCB values
#define NOPARITY 0
#define ODDPARITY 1
#define EVENPARITY 2
#define ONESTOPBIT 0
#define ONE5STOPBITS 1
#define TWOSTOPBITS 2
#define DTR_CONTROL_DISABLE 0
#define DTR_CONTROL_ENABLE 1
#define DTR_CONTROL_HANDSHAKE 2
#define RTS_CONTROL_DISABLE 0
#define RTS_CONTROL_ENABLE 1
#define RTS_CONTROL_HANDSHAKE 2
#define RTS_CONTROL_TOGGLE 3

// ClearCommError flags
#define CE_RXOVER 0x0001u
#define CE_OVERRUN 0x0002u
#define CE_RXPARITY 0x0004u
#define CE_FRAME 0x0008u
#define CE_BREAK 0x0010u

typedef struct _DCB {
    DWORD DCBlength;
    DWORD BaudRate;
    DWORD fBinary : 1;
    DWORD fParity : 1;
    DWORD fOutxCtsFlow : 1;
    DWORD fOutxDsrFlow : 1;
    DWORD fDtrControl : 2;
    DWORD fDsrSensitivity : 1;
    DWORD fTXContinueOnXoff : 1;
    DWORD fOutX : 1;
    DWORD fInX : 1;
    DWORD fErrorChar : 1;
    DWORD fNull : 1;
    DWORD fRtsControl : 2;
    DWORD fAbortOnError : 1;
    DWORD fDummy2 : 17;
    WORD wReserved;
    WORD XonLim;
    WORD XoffLim;
    BYTE ByteSize;
    BYTE Parity;
    BYTE StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    WORD wReserved1;
} DCB, *LPDCB;

typedef struct _COMMTIMEOUTS {
    DWORD ReadIntervalTimeout;
    DWORD ReadTotalTimeoutMultiplier;
    DWORD ReadTotalTimeoutConstant;
    DWORD WriteTotalTimeoutMultiplier;
    DWORD WriteTotalTimeoutConstant;
} COMMTIMEOUTS, *LPCOMMTIMEOUTS;

typedef struct _COMSTAT {
    DWORD fCtsHold : 1;
    DWORD fDsrHold : 1;
    DWORD fRlsdHold : 1;
    DWORD fXoffHold : 1;
    DWORD fXoffSent : 1;
    DWORD fEof : 1;
    DWORD fTxim : 1;
    DWORD fReserved : 25;
    DWORD cbInQue;
    DWORD cbOutQue;
} COMSTAT, *LPCOMSTAT;

typedef struct _OVERLAPPED {
    ULONG_PTR Internal;
    ULONG_PTR InternalHigh;
    union {
        struct {
            DWORD Offset;
            DWORD OffsetHigh;
        } s;
        void* Pointer;
    } u;
    HANDLE hEvent;
} OVERLAPPED, *LPOVERLAPPED;

typedef struct _SECURITY_ATTRIBUTES SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;
typedef DWORD(WINAPI* LPTHREAD_START_ROUTINE)(LPVOID);

// Files and serial ports
HANDLE WINAPI CreateFileA(LPCSTR name, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa,
                          DWORD disposition, DWORD flags, HANDLE templ);
BOOL WINAPI GetCommState(HANDLE port, LPDCB dcb);
BOOL WINAPI SetCommState(HANDLE port, LPDCB dcb);
BOOL WINAPI GetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS cto);
BOOL WINAPI SetCommTimeouts(HANDLE port, LPCOMMTIMEOUTS cto);
BOOL WINAPI SetCommMask(HANDLE port, DWORD mask);
BOOL WINAPI PurgeComm(HANDLE port, DWORD flags);
BOOL WINAPI EscapeCommFunction(HANDLE port, DWORD func);
BOOL WINAPI WaitCommEvent(HANDLE port, LPDWORD mask, LPOVERLAPPED ov);
BOOL WINAPI ClearCommError(HANDLE port, LPDWORD errors, LPCOMSTAT stat);
BOOL WINAPI ReadFile(HANDLE file, LPVOID buf, DWORD toRead, LPDWORD read, LPOVERLAPPED ov);
BOOL WINAPI WriteFile(HANDLE file, LPCVOID buf, DWORD toWrite, LPDWORD written, LPOVERLAPPED ov);
BOOL WINAPI GetOverlappedResult(HANDLE file, LPOVERLAPPED ov, LPDWORD transferred, BOOL wait);
// ov == nullptr cancels every pending operation of the handle.
BOOL WINAPI CancelIoEx(HANDLE file, LPOVERLAPPED ov);

// Events, waits, threads
HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES sa, BOOL manualReset, BOOL initialState,
                           LPCSTR name);
BOOL WINAPI SetEvent(HANDLE event);
BOOL WINAPI ResetEvent(HANDLE event);
DWORD WINAPI WaitForSingleObject(HANDLE h, DWORD ms);
DWORD WINAPI WaitForMultipleObjects(DWORD count, const HANDLE* handles, BOOL waitAll, DWORD ms);
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES sa, size_t stack, LPTHREAD_START_ROUTINE proc,
                           LPVOID param, DWORD flags, LPDWORD id);
void WINAPI Sleep(DWORD ms);
BOOL WINAPI CloseHandle(HANDLE h);
DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD code);

#endif  // _WIN32
