#pragma once

#include <ostream>
#include <string>

#include "ConfinedDirectory.h"
#include "base/BinaryData.h"
#include "http/HttpServer.h"

// Serves the files of one directory to terminals: a GET names a file of the
// directory and gets its contents, sent as the connection takes them; a
// POST body is stored as the next numbered file of the uploads directory
// and answered "OK". A name is percent-decoded first; one that could lead
// out of the directory is refused, and so is one that names no regular
// file (a symbolic link included); those replies close the connection.
// Every request is reported as one line on the log, the ones the HTTP
// server refuses itself too.
class TFileServer {
  public:
    TFileServer(THttpServer& server, const TConfinedDirectory& files,
                const TConfinedDirectory& uploads, std::ostream& log);

    // Answers the next request, if one has come; false when none was waiting.
    bool ServeNextRequest();

    // The text with every "%XX" replaced by the byte it stands for; false
    // for a "%" not followed by two hexadecimal digits.
    static bool PercentDecode(const std::string& text, std::string& decoded);
    // The name of upload number `number`: eight digits and ".bin".
    static std::string UploadName(unsigned long number);

  private:
    // The log line's outcome of the request.
    std::string ServeFile(const std::string& sender, const std::string& fileName);
    std::string StoreUpload(const std::string& sender, const T_BinaryData& body);

    THttpServer& m_server;
    const TConfinedDirectory& m_files;
    const TConfinedDirectory& m_uploads;
    std::ostream& m_log;
    unsigned long m_nextUpload = 1;
};
