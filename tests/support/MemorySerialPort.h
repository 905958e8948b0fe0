#pragma once

#include <optional>

#include "MemoryConnection.h"
#include "platform/RS232.h"

// A serial port whose connections are end A of a memory line; it keeps the
// parameters of the last Connect.
class TMemorySerialPort : public IRS232Interface {
  public:
    explicit TMemorySerialPort(TMemoryLine& line) : m_line(line) {}
    Error Open() override { return Error(0); }
    void Close() override {}
    Error Connect(const TRs232Params& params, IConnection** connection) override {
        m_params = params;
        *connection = m_line.NewEnd(TMemoryLine::A);
        return Error(0);
    }
    const std::optional<TRs232Params>& LastParams() const { return m_params; }

  private:
    TMemoryLine& m_line;
    std::optional<TRs232Params> m_params;
};
