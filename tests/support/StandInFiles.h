#pragma once

#include <memory>

#include "platform/linux/LinFileSystem.h"

// Files that are created in the directory as usual, but whose writes go to a stand-in in
// memory, so that a test decides what writing does without a disk or a device behind it.
class TStandInFiles : public TLinFileSystem {
  public:
    // What a write to every file opened here does.
    enum class TWrites {
        // Counted and thrown away: a transfer of any size costs no disk.
        Discarded,
        // Refused, as on a full disk.
        Failing,
    };

    TStandInFiles(const char* directory, TWrites writes)
        : TLinFileSystem(directory), m_writes(writes) {}

    IFileWritable* OpenForWrite(const char* name, unsigned short mode) override {
        const std::unique_ptr<IFileWritable> created(TLinFileSystem::OpenForWrite(name, mode));
        return created ? new TStandIn(m_writes) : nullptr;
    }

  private:
    class TStandIn : public IFileWritable {
      public:
        explicit TStandIn(TWrites writes) : m_writes(writes) {}
        long Read(unsigned char*, unsigned long) override { return 0; }
        long Seek(unsigned long) override { return -1; }
        long Tell() override { return m_length; }
        long GetLength() override { return m_length; }
        long Write(const unsigned char*, unsigned long count) override {
            if (m_writes == TWrites::Failing) {
                return -1;
            }
            m_length += static_cast<long>(count);
            return static_cast<long>(count);
        }

      private:
        TWrites m_writes;
        long m_length = 0;
    };

    TWrites m_writes;
};
