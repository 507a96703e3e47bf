// CComPort: one serial port with fixed line settings (8N1, no flow control, DTR and RTS
// raised), a reader thread that gathers received bursts, a timed Read and a timed Write.
// Every failure is reported as a short English text through OnError.
#pragma once

#include <atomic>
#include <mutex>

#include "platform/winapi.h"

class CComPort {
  public:
    CComPort();
    virtual ~CComPort();

    CComPort(const CComPort&) = delete;
    CComPort& operator=(const CComPort&) = delete;

    // Settings take effect at the next Open.
    void SetPortNumber(int port) { m_nPort = port; }
    int GetPortNumber() const { return m_nPort; }
    void SetBaudRate(DWORD baud) { m_nBaudRate = baud; }
    DWORD GetBaudRate() const { return m_nBaudRate; }
    void SetIntervalChars(int chars) { m_nIntervalChars = chars; }
    int GetIntervalChars() const { return m_nIntervalChars; }
    void SetBufferSize(int size) { m_nBufferSize = size; }
    int GetBufferSize() const { return m_nBufferSize; }

    bool Open();
    bool Close();
    bool SetDtr(bool raise);
    bool SetRts(bool raise);

    // Hands over everything gathered since the previous successful Read.
    // dest must hold GetBufferSize() bytes.
    bool Read(BYTE* dest, int* count, DWORD timeoutMs);
    bool Write(const BYTE* data, DWORD length, DWORD timeoutMs);

    // Raises the abort from any thread, so that a waiting Read or Write ends at once
    // (used when the program is closed in the middle of a check).
    void Abort();

  protected:
    virtual void OnError(const char* text);
    virtual void OnReceive(const BYTE* data, DWORD length);
    virtual void OnSend(const BYTE* data, DWORD length);

    // Ends the reader thread. The reader calls the hooks, so a class that overrides them
    // calls this in its own destructor, before its part of the object is gone; the port
    // stays open, so that destruction still gives it its saved settings back.
    void StopReader();

  private:
    static DWORD WINAPI ReaderThreadProc(LPVOID param);
    bool ReaderLoop();
    void ReportSystemError();
    bool RaiseAbort();
    void WaitUntilStopped();
    DWORD CancelPending(OVERLAPPED* ov);
    // Bytes delivered since the last Read that took any.
    bool BytesWaiting();
    void CloseEvents();
    void FreeBuffers();

    int m_nFill = 0;
    int m_nAvailable = 0;
    DWORD m_nBaudRate = 9600;
    int m_nPort = 1;
    int m_nIntervalChars = 20;
    BYTE* m_pBuffer = nullptr;
    int m_nBufferSize = 1024;
    HANDLE m_hPort = INVALID_HANDLE_VALUE;
    HANDLE m_hAbortEvent = INVALID_HANDLE_VALUE;
    HANDLE m_hRxEvent = INVALID_HANDLE_VALUE;
    HANDLE m_hThread = nullptr;
    DCB m_dcbSaved{};
    COMMTIMEOUTS m_ctoSaved{};

    // Whether the last Open got as far as reading each of the two saved records.
    bool m_bDcbSaved = false;
    bool m_bCtoSaved = false;
    // The reader reads into its own staging buffer and hands the bytes over under
    // m_bufferMutex, which also guards m_pBuffer's content, m_nFill and m_nAvailable.
    BYTE* m_pStaging = nullptr;
    std::mutex m_bufferMutex;
    // Guards m_hPort and m_hAbortEvent against Abort() from another thread.
    std::mutex m_handleMutex;
    // StopReader's way in: the flag, and an event that every wait of the reader includes.
    std::atomic<bool> m_bStopReader{false};
    HANDLE m_hStopEvent = INVALID_HANDLE_VALUE;
};
