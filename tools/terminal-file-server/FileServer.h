#pragma once

#include <ostream>
#include <string>

#include "base/BinaryData.h"
#include "http/HttpServer.h"
#include "platform/FileSystem.h"

// Serves the files of one directory to terminals: a GET names a file of the
// directory and gets its contents; a POST body is stored as the next
// numbered file of the uploads directory and answered "OK". A name that
// could lead out of the directory is refused, and so is one that names no
// readable file; those replies close the connection, which marks their end
// for any HTTP client. Every request is reported as one line on the log.
class TFileServer {
  public:
    // Uploads are numbered on from the first number not taken yet.
    TFileServer(THttpServer& server, IFileSystem& files, IFileSystem& uploads, std::ostream& log);

    // Answers the next request, if one has come; false when none was waiting.
    bool ServeNextRequest();

    // A name inside the directory itself: not empty, without "/" and "..",
    // and not the directory itself (".").
    static bool IsPlainFileName(const std::string& name);
    // The name of upload number `number`: eight digits and ".bin".
    static std::string UploadName(unsigned long number);

  private:
    // Reply text of the request or why it failed; an empty text is success.
    std::string ServeFile(const std::string& sender, const std::string& fileName);
    std::string StoreUpload(const std::string& sender, const T_BinaryData& body);

    THttpServer& m_server;
    IFileSystem& m_files;
    IFileSystem& m_uploads;
    std::ostream& m_log;
    unsigned long m_nextUpload = 1;
};
