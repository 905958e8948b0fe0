#pragma once

#include <memory>

#include "agent/CaptureRecorder.h"
#include "platform/Connection.h"
#include "platform/RS232.h"
#include "tunnel/LineCutter.h"

// A filter over the serial port's connection that records the line: the raw bytes each way
// are cut into SLIP frames and garbage as the tunnel's own decoder cuts them, and every piece
// goes to the capture. The bytes themselves pass unchanged. It owns the port's connection.
class TLineCapture : public IConnection, public ISerialLine {
  public:
    TLineCapture(IConnection* port, TCaptureRecorder& recorder);
    ~TLineCapture() override;
    TLineCapture(const TLineCapture&) = delete;
    TLineCapture& operator=(const TLineCapture&) = delete;

    long Send(const unsigned char* data, unsigned long length) override;
    // A read that finds nothing also puts down what the capture gathered, when it is due: the
    // line is idle.
    long Receive(unsigned char* buffer, unsigned long length) override;
    unsigned long GetPeerAddress() override { return m_port->GetPeerAddress(); }
    CONNSTATE GetState() override { return m_port->GetState(); }
    Error GetLastError() override { return m_port->GetLastError(); }
    // The port's descriptor, or -1 when it offers none.
    int GetDescriptor() const override;
    // Passed on to the port when it is a serial line.
    void SetReceiveWait(unsigned long milliseconds) override;

  private:
    std::unique_ptr<IConnection> m_port;
    // The port as the poller and the serial line see it; null where it is not one.
    const IPollable* m_pollable;
    ISerialLine* m_serialLine;
    TCaptureRecorder& m_recorder;
    TLineCutter m_fromTerminal;
    TLineCutter m_toTerminal;
};
