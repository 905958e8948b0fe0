#pragma once

#include <memory>
#include <string>

#include "ConfinedDirectory.h"
#include "http/HttpCustomer.h"
#include "platform/Descriptor.h"

// A POST body on its way into the uploads directory: written to a hidden file of its own as it
// arrives, so that no upload is held in memory, and given its numbered name only once it is
// complete, so that no such name ever holds part of one. Dropped before that, the file goes.
class TUploadFile : public IHttpUpload {
  public:
    // A new hidden file in directory; null, with errno set, when none can be made.
    static std::unique_ptr<TUploadFile> Create(const TConfinedDirectory& directory);
    ~TUploadFile() override;
    TUploadFile(const TUploadFile&) = delete;
    TUploadFile& operator=(const TUploadFile&) = delete;

    [[nodiscard]] bool Write(const unsigned char* data, unsigned long length) override;
    // Gives the file that name in the directory, never over a name that is taken (EEXIST, by
    // a symbolic link too); false with errno set.
    [[nodiscard]] bool Publish(const std::string& name);
    unsigned long Length() const { return m_length; }

  private:
    TUploadFile(const TConfinedDirectory& directory, std::string hiddenName, int descriptor);

    const TConfinedDirectory& m_directory;
    std::string m_hiddenName;
    TDescriptor m_file;
    unsigned long m_length = 0;
};
