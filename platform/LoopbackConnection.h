#pragma once

#include "base/BinaryData.h"
#include "base/Error.h"
#include "platform/Connection.h"

// An in-process connection: two coupled ends hand bytes to each other. An end without a
// partner is listening.
class TLoopbackConnection : public IConnection {
  public:
    explicit TLoopbackConnection(TLoopbackConnection* partner);
    ~TLoopbackConnection() override;
    TLoopbackConnection(const TLoopbackConnection&) = delete;
    TLoopbackConnection& operator=(const TLoopbackConnection&) = delete;

    long Send(const unsigned char* data, unsigned long length) override;
    long Receive(unsigned char* buffer, unsigned long length) override;
    unsigned long GetPeerAddress() override;
    CONNSTATE GetState() override;
    Error GetLastError() override;

    void Couple(TLoopbackConnection* other) { m_partner = other; }
    void AddData(const T_BinaryData& data) { m_receiveBuffer += data; }

  private:
    TLoopbackConnection* m_partner;
    T_BinaryData m_receiveBuffer;
};
