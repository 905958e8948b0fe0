#pragma once

#include "base/Error.h"
#include "platform/DeviceLayer.h"

class IFileSystem;

// The Linux answers for the self-test and the last error.
class TLinDeviceLayer : public TDeviceLayer {
  public:
    // Not supported: sets `*result` to 0 and returns code 2, which also
    // becomes the last error.
    Error Test(DEVICE kind, unsigned int* result) override;
    Error GetLastError() override;

  private:
    Error m_lastError{0};
};

// Makes the Linux devices; those that log their traffic write into the trace
// file system.
class TLinDeviceDebugLayer : public TLinDeviceLayer {
  public:
    // The trace file system is not owned.
    explicit TLinDeviceDebugLayer(IFileSystem* traceFileSystem);

    // A new device of that kind, or null for a kind this platform lacks.
    IDevice* CreateDevice(DEVICE kind, unsigned int index) override;

  private:
    IFileSystem* m_traceFileSystem;
};
