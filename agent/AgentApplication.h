#pragma once

// The agent's top level: reads its settings beside the executable and drives
// the serial tunnel from a single polling loop. It owns no devices; the device
// layer keeps them.
class TAgentApplication {
  public:
    // The process's agent, built on first use.
    static TAgentApplication* Instance();

    // Reads the serial port number once; Instance() is the one the program
    // uses, tests build their own.
    TAgentApplication();
    TAgentApplication(const TAgentApplication&) = delete;
    TAgentApplication& operator=(const TAgentApplication&) = delete;

    // "ComPort" of "pinpad.ini", cut to 16 bits; 0 when absent.
    static unsigned short LoadSerialPortNumber();
    // "Enabled" of "agent.ini", read anew on every call; false when absent.
    static bool IsEnabled();

    // Whether a stop was requested; polls the keyboard only when allowed.
    bool IsStopped(bool pollKeyboard);
    // Serves the terminal until IsStopped(pollKeyboard) says so; returns at
    // once without a port or without the two network interfaces.
    void Run(bool pollKeyboard);

    unsigned short SerialPortNumber() const { return m_serialPort; }

  private:
    bool m_stopped = false;
    unsigned short m_serialPort;
};
