#include "serial/ComPort.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

bool IsHandle(HANDLE h) {
    return h != nullptr && h != INVALID_HANDLE_VALUE;
}

void Release(HANDLE& h) {
    if (IsHandle(h)) {
        CloseHandle(h);
    }
    h = INVALID_HANDLE_VALUE;
}

// How long the reader waits for one read before it cancels it and takes what it has.
constexpr DWORD kReadPassMs = 10000;
// The receive event stays set this long after a delivery for a Read to take it.
constexpr DWORD kDeliveryPauseMs = 5;

}  // namespace

CComPort::CComPort() = default;

CComPort::~CComPort() {
    StopReader();
    if (m_hPort != INVALID_HANDLE_VALUE) {
        // In a destructor virtual calls reach this class anyway; say so.
        bool restored = true;
        if (m_bDcbSaved && !SetCommState(m_hPort, &m_dcbSaved)) {
            CComPort::OnError("System error!");
            restored = false;
        }
        if (restored && m_bCtoSaved && !SetCommTimeouts(m_hPort, &m_ctoSaved)) {
            CComPort::OnError("System error!");
        }
        // Released even when a restore failed: nothing else would ever close them.
        std::lock_guard lock(m_handleMutex);
        CloseHandle(m_hPort);
        m_hPort = INVALID_HANDLE_VALUE;
    }
    CloseEvents();
    FreeBuffers();
}

void CComPort::OnError(const char*) {}
void CComPort::OnReceive(const BYTE*, DWORD) {}
void CComPort::OnSend(const BYTE*, DWORD) {}

void CComPort::ReportSystemError() {
    OnError("System error!");
}

void CComPort::CloseEvents() {
    std::lock_guard lock(m_handleMutex);
    Release(m_hRxEvent);
    Release(m_hAbortEvent);
}

void CComPort::FreeBuffers() {
    std::lock_guard lock(m_bufferMutex);
    delete[] m_pBuffer;
    m_pBuffer = nullptr;
    delete[] m_pStaging;
    m_pStaging = nullptr;
}

bool CComPort::Open() {
    const DWORD baud = m_nBaudRate;
    char name[12];
    std::snprintf(name, sizeof name, "COM%d:", m_nPort);

    if (!Close()) {
        ReportSystemError();
        return false;
    }

    HANDLE port = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 5 && port == INVALID_HANDLE_VALUE; ++attempt) {
        port = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
    }
    {
        std::lock_guard lock(m_handleMutex);
        m_hPort = port;
    }
    m_bDcbSaved = false;
    m_bCtoSaved = false;
    if (m_hPort == INVALID_HANDLE_VALUE) {
        ReportSystemError();
        return false;
    }

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(m_hPort, &dcb)) {
        ReportSystemError();
        return false;
    }
    m_dcbSaved = dcb;
    m_bDcbSaved = true;
    dcb.BaudRate = baud;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (!SetCommState(m_hPort, &dcb)) {
        ReportSystemError();
        return false;
    }

    PurgeComm(m_hPort, PURGE_TXCLEAR | PURGE_RXCLEAR);

    if (!SetCommMask(m_hPort, EV_RXCHAR)) {
        ReportSystemError();
        return false;
    }

    m_bCtoSaved = GetCommTimeouts(m_hPort, &m_ctoSaved) != FALSE;

    COMMTIMEOUTS cto{};
    // A character counts as 9 bit times here (ByteSize + the StopBits code + 1).
    cto.ReadIntervalTimeout = (static_cast<DWORD>(dcb.ByteSize) + dcb.StopBits + 1) * 1000u *
                              static_cast<DWORD>(m_nIntervalChars) / baud;
    if (!SetCommTimeouts(m_hPort, &cto)) {
        ReportSystemError();
        return false;
    }

    {
        // The pair of an earlier Open is never used again.
        std::lock_guard lock(m_handleMutex);
        Release(m_hRxEvent);
        Release(m_hAbortEvent);
        m_hRxEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_hAbortEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }

    {
        std::lock_guard lock(m_bufferMutex);
        if (m_pBuffer == nullptr && m_nBufferSize > 0) {
            m_pBuffer = new (std::nothrow) BYTE[m_nBufferSize];
            m_pStaging = new (std::nothrow) BYTE[m_nBufferSize];
        }
        // A fresh buffer holds nothing yet; counts from the previous port would hand over
        // bytes that were never received.
        m_nFill = 0;
        m_nAvailable = 0;
        if (m_pBuffer == nullptr || m_pStaging == nullptr) {
            delete[] m_pBuffer;
            m_pBuffer = nullptr;
            delete[] m_pStaging;
            m_pStaging = nullptr;
        }
    }
    if (m_pBuffer == nullptr) {
        ReportSystemError();
        return false;
    }

    if (m_hThread == nullptr) {
        m_bStopReader.store(false);
        m_hStopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (m_hStopEvent != nullptr) {
            m_hThread = CreateThread(nullptr, 0, ReaderThreadProc, this, 0, nullptr);
        }
        if (m_hThread == nullptr) {
            Release(m_hStopEvent);
            ReportSystemError();
            return false;
        }
    }

    return m_hPort != INVALID_HANDLE_VALUE;
}

bool CComPort::Close() {
    StopReader();
    FreeBuffers();
    bool closed = true;
    {
        std::lock_guard lock(m_handleMutex);
        if (m_hPort != INVALID_HANDLE_VALUE) {
            closed = CloseHandle(m_hPort) != FALSE;
            m_hPort = INVALID_HANDLE_VALUE;
        }
    }
    CloseEvents();
    if (!closed) {
        OnError("ResetEvent error!");
        return false;
    }
    return true;
}

void CComPort::StopReader() {
    if (m_hThread == nullptr) {
        return;
    }
    // The reader is woken wherever it waits (each wait includes the stop event, and its
    // pending operation is cancelled) and ends by itself; nothing kills it. Only then may
    // the buffer be freed and the port closed.
    m_bStopReader.store(true);
    SetEvent(m_hStopEvent);
    if (m_hPort != INVALID_HANDLE_VALUE) {
        // A new event mask ends a pending WaitCommEvent; not every serial driver lets a
        // cancel end it.
        SetCommMask(m_hPort, 0);
        CancelIoEx(m_hPort, nullptr);
    }
    WaitForSingleObject(m_hThread, INFINITE);
    CloseHandle(m_hThread);
    m_hThread = nullptr;
    Release(m_hStopEvent);
}

bool CComPort::SetDtr(bool raise) {
    if (m_hPort == INVALID_HANDLE_VALUE) {
        return false;
    }
    if (!EscapeCommFunction(m_hPort, raise ? SETDTR : CLRDTR)) {
        OnError("SETDTR/CLRDTR command error!");
        return false;
    }
    return true;
}

bool CComPort::SetRts(bool raise) {
    if (m_hPort == INVALID_HANDLE_VALUE) {
        return false;
    }
    if (!EscapeCommFunction(m_hPort, raise ? SETRTS : CLRRTS)) {
        OnError("SETRTS/CLRRTS command error!");
        return false;
    }
    return true;
}

void CComPort::Abort() {
    std::lock_guard lock(m_handleMutex);
    if (m_hPort != INVALID_HANDLE_VALUE && IsHandle(m_hAbortEvent)) {
        SetEvent(m_hAbortEvent);
    }
}

DWORD WINAPI CComPort::ReaderThreadProc(LPVOID param) {
    return static_cast<CComPort*>(param)->ReaderLoop() ? 0 : 1;
}

bool CComPort::RaiseAbort() {
    if (SetEvent(m_hAbortEvent)) {
        return true;
    }
    OnError("SetEvent error!");
    return false;
}

void CComPort::WaitUntilStopped() {
    // The time limit only matters if setting the stop event failed; the flag still ends it.
    while (!m_bStopReader.load()) {
        if (WaitForSingleObject(m_hStopEvent, 1000) == WAIT_FAILED) {
            Sleep(1000);
        }
    }
}

DWORD CComPort::CancelPending(OVERLAPPED* ov) {
    // The operation owns the record and its event until it has ended; a cancelled read
    // still tells what it had received.
    CancelIoEx(m_hPort, ov);
    DWORD n = 0;
    GetOverlappedResult(m_hPort, ov, &n, TRUE);
    return n;
}

bool CComPort::ReaderLoop() {
    OVERLAPPED ov{};
    COMSTAT stat{};
    DWORD errors = 0;
    DWORD mask = 0;
    DWORD count = 0;
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const HANDLE waits[2] = {ov.hEvent, m_hStopEvent};
    bool result = true;

    while (!m_bStopReader.load()) {
        count = 0;
        if (!ResetEvent(ov.hEvent)) {
            OnError("ResetEvent error!");
            if (!RaiseAbort()) {
                result = false;
                break;
            }
        }
        if (!ResetEvent(m_hRxEvent)) {
            OnError("ResetEvent error!");
            if (!RaiseAbort()) {
                result = false;
                break;
            }
        }

        // The character event reports only arrivals since the last completed wait, so
        // bytes that the previous read left in the port are read at once.
        stat = COMSTAT{};
        const bool queued = ClearCommError(m_hPort, &errors, &stat) && stat.cbInQue > 0;
        if (!queued) {
            mask = 0;
            if (!WaitCommEvent(m_hPort, &mask, &ov)) {
                if (GetLastError() != ERROR_IO_PENDING) {
                    // The device is gone: raise the abort once and wait to be stopped,
                    // rather than fail pass after pass.
                    if (!m_bStopReader.load() && !RaiseAbort()) {
                        result = false;
                        break;
                    }
                    WaitUntilStopped();
                    break;
                }
                if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
                    // The wait is this thread's own, so ending it here cannot come too early.
                    SetCommMask(m_hPort, 0);
                    CancelPending(&ov);
                    if (m_bStopReader.load()) {
                        break;
                    }
                    if (!RaiseAbort()) {
                        result = false;
                        break;
                    }
                    WaitUntilStopped();
                    break;
                }
            }
            if (m_bStopReader.load()) {
                break;
            }
            // An ended wait without the character event (a failed wait leaves the mask
            // empty) begins the next pass, whose wait shows whether the device is gone.
            if ((mask & EV_RXCHAR) == 0) {
                continue;
            }
            stat = COMSTAT{};
            if (ClearCommError(m_hPort, &errors, &stat) && stat.cbInQue == 0) {
                continue;  // the previous read already took what raised the event
            }
        }

        if (!ResetEvent(ov.hEvent)) {
            OnError("ResetEvent error!");
            if (!RaiseAbort()) {
                result = false;
                break;
            }
        }

        DWORD room;
        {
            std::lock_guard lock(m_bufferMutex);
            if (m_nFill >= m_nBufferSize) {
                m_nFill = 0;
            }
            room = static_cast<DWORD>(m_nBufferSize - m_nFill);
        }
        if (!ReadFile(m_hPort, m_pStaging, room, &count, &ov)) {
            const bool started = GetLastError() == ERROR_IO_PENDING;
            count = 0;
            if (!started) {
                OnError("FileRead command error!");
                if (!RaiseAbort()) {
                    result = false;
                    break;
                }
            }
            const DWORD waited = WaitForMultipleObjects(2, waits, FALSE, kReadPassMs);
            if (waited == WAIT_OBJECT_0) {
                if (started && !GetOverlappedResult(m_hPort, &ov, &count, FALSE)) {
                    count = 0;
                    OnError("GetOverlappedResult error! Unknown error!");
                    if (!RaiseAbort()) {
                        result = false;
                        break;
                    }
                }
            } else if (waited == WAIT_OBJECT_0 + 1) {
                if (started) {
                    CancelPending(&ov);
                }
                break;
            } else if (waited == WAIT_TIMEOUT) {
                // A stream longer than one pass: end the read and keep what it got.
                if (started) {
                    count = CancelPending(&ov);
                }
            } else {
                OnError("FileRead command error! Unknown error!");
                if (started) {
                    count = CancelPending(&ov);
                }
                if (!RaiseAbort()) {
                    result = false;
                    break;
                }
            }
        }
        if (m_bStopReader.load()) {
            break;
        }

        if (!ResetEvent(ov.hEvent)) {
            OnError("ResetEvent error!");
            if (!RaiseAbort()) {
                result = false;
                break;
            }
        }

        if (count > 0) {
            OnReceive(m_pStaging, count);
            bool signalled;
            {
                // The event is set under the lock, so that a Read that takes the bytes
                // also takes the signal that announced them.
                std::lock_guard lock(m_bufferMutex);
                if (m_nFill >= m_nBufferSize) {
                    m_nFill = 0;
                }
                std::memcpy(m_pBuffer + m_nFill, m_pStaging, count);
                m_nAvailable = m_nFill + static_cast<int>(count);
                m_nFill += static_cast<int>(count);
                signalled = SetEvent(m_hRxEvent) != FALSE;
            }
            if (!signalled) {
                OnError("SetEvent error!");
                if (!RaiseAbort()) {
                    result = false;
                    break;
                }
            }
            Sleep(kDeliveryPauseMs);
        }
    }

    CloseHandle(ov.hEvent);
    return result;
}

bool CComPort::Read(BYTE* dest, int* count, DWORD timeoutMs) {
    const HANDLE events[2] = {m_hAbortEvent, m_hRxEvent};
    // The reader withdraws its signal soon after a delivery; bytes that it delivered earlier
    // are taken at once all the same. The abort still comes first.
    DWORD waited = WaitForMultipleObjects(2, events, FALSE, 0);
    if (waited == WAIT_TIMEOUT) {
        waited = BytesWaiting() ? WAIT_OBJECT_0 + 1
                                : WaitForMultipleObjects(2, events, FALSE, timeoutMs);
    }
    switch (waited) {
        case WAIT_OBJECT_0:
            OnError("Read abort!");
            return false;
        case WAIT_OBJECT_0 + 1: {
            std::lock_guard lock(m_bufferMutex);
            if (!ResetEvent(m_hRxEvent)) {
                OnError("ResetEvent error!");
                return false;
            }
            if (m_pBuffer != nullptr && m_nAvailable > 0) {
                std::memcpy(dest, m_pBuffer, static_cast<size_t>(m_nAvailable));
            }
            *count = m_nAvailable;
            m_nFill = 0;
            return true;
        }
        case WAIT_TIMEOUT:
            return false;
        default:
            OnError("Unknown error!");
            return false;
    }
}

bool CComPort::BytesWaiting() {
    std::lock_guard lock(m_bufferMutex);
    return m_pBuffer != nullptr && m_nFill > 0;
}

bool CComPort::Write(const BYTE* data, DWORD length, DWORD timeoutMs) {
    OVERLAPPED ov{};
    ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool result = false;

    // The receive buffer is left alone: bytes gathered before a Write are the next Read's.
    if (!ResetEvent(ov.hEvent)) {
        OnError("Reset event error!");
        if (IsHandle(ov.hEvent)) {
            CloseHandle(ov.hEvent);
        }
        return false;
    }

    OnSend(data, length);

    DWORD written = 0;
    if (WriteFile(m_hPort, data, length, &written, &ov)) {
        result = true;
    } else if (GetLastError() != ERROR_IO_PENDING) {
        OnError("FileWrite command error!");
        CloseHandle(ov.hEvent);
        return false;
    } else {
        const HANDLE events[2] = {m_hAbortEvent, ov.hEvent};
        const DWORD waited = WaitForMultipleObjects(2, events, FALSE, timeoutMs);
        switch (waited) {
            case WAIT_OBJECT_0:
                OnError("Write abort!");
                break;
            case WAIT_OBJECT_0 + 1:
                if (GetOverlappedResult(m_hPort, &ov, &written, FALSE)) {
                    result = true;
                } else {
                    OnError("GetOverlappedResult error! Unknown error!");
                }
                break;
            case WAIT_TIMEOUT:
                OnError("FileWrite command error! TimeOut elapsed!");
                break;
            default:
                OnError("FileWrite command error! Unknown error!");
                break;
        }
        if (waited != WAIT_OBJECT_0 + 1) {
            // The write still owns ov, its event and the caller's bytes until it has ended.
            CancelPending(&ov);
        }
    }

    if (!ResetEvent(ov.hEvent)) {
        OnError("Reset event error!");
        result = false;
    }
    CloseHandle(ov.hEvent);
    return result;
}
