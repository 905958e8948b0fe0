#include "FileServer.h"

#include <cerrno>
#include <cstdio>
#include <memory>

#include "UploadFile.h"
#include "base/PrintableText.h"

namespace {

constexpr char kInvalidFileName[] = "Invalid file name";
constexpr char kFileNotFound[] = "File not found";
constexpr char kCannotStore[] = "Cannot store the data";
// Most bytes of a text from a client that a log line shows.
constexpr std::size_t kMostShown = 200;

const char* DeliveryNote(const Error& result) {
    return result.Code() == 0 ? "" : " (not delivered: the client has gone)";
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

TFileServer::TFileServer(THttpServer& server, const TConfinedDirectory& files,
                         const TConfinedDirectory& uploads, std::ostream& log)
    : m_server(server), m_files(files), m_uploads(uploads), m_log(log) {
    m_server.SetRejectionListener([this](const std::string& name, const std::string& message) {
        m_log << "Refused a request"
              << (name.empty() ? "" : " from " + PrintableText(name, kMostShown)) << ": "
              << PrintableText(message) << std::endl;
    });
}

bool TFileServer::ServeNextRequest() {
    std::string sender;
    HTTP_REQUEST_TYPE type;
    std::string serial;
    T_BinaryData data;
    if (m_server.GetRequest(sender, type, serial, data).Code() != 0) {
        return false;
    }
    if (type == HTTP_REQUEST_GET) {
        const std::string fileName = data.ToString();
        m_log << "GET " << PrintableText(fileName, kMostShown) << " from "
              << PrintableText(sender, kMostShown) << " (serial "
              << PrintableText(serial, kMostShown) << "): " << ServeFile(sender, fileName)
              << std::endl;
    } else {
        m_log << "POST from " << PrintableText(sender, kMostShown) << ": "
              << StoreUpload(sender, data) << std::endl;
    }
    return true;
}

bool TFileServer::PercentDecode(const std::string& text, std::string& decoded) {
    decoded.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return false;
        }
        const int high = HexValue(text[i + 1]);
        const int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0) {
            return false;
        }
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return true;
}

std::string TFileServer::UploadName(unsigned long number) {
    char name[32];
    std::snprintf(name, sizeof name, "%08lu.bin", number);
    return name;
}

std::string TFileServer::ServeFile(const std::string& sender, const std::string& fileName) {
    std::string name;
    const char* failure = kInvalidFileName;
    std::unique_ptr<IFileReadable> file;
    if (PercentDecode(fileName, name) && TConfinedDirectory::IsPlainName(name)) {
        file = m_files.OpenForRead(name);
        failure = file ? nullptr : kFileNotFound;
    }
    if (failure != nullptr) {
        return failure + std::string(DeliveryNote(m_server.DeliverErrorReply(sender, failure)));
    }
    const long length = file->GetLength();
    const Error result = m_server.DeliverFileReply(sender, std::move(file));
    return std::to_string(length) + " bytes" + DeliveryNote(result);
}

std::string TFileServer::StoreUpload(const std::string& sender, const T_BinaryData& body) {
    // A body the server stored as it came is in an upload file already; one that came whole
    // (an empty one) goes into a new one now.
    std::unique_ptr<IHttpUpload> taken = m_server.TakeUpload();
    std::unique_ptr<TUploadFile> upload(dynamic_cast<TUploadFile*>(taken.get()));
    if (upload) {
        static_cast<void>(taken.release());
    } else {
        upload = TUploadFile::Create(m_uploads);
        if (upload && !upload->Write(body.GetData(), body.Length())) {
            upload.reset();
        }
    }
    // The next free number: a name taken already, by a file or by a planted link, is passed
    // over, never written through.
    std::string name;
    bool stored = false;
    while (upload && !stored) {
        name = UploadName(m_nextUpload);
        stored = upload->Publish(name);
        if (!stored && errno != EEXIST) {
            break;
        }
        ++m_nextUpload;
    }
    if (!stored) {
        return kCannotStore +
               std::string(DeliveryNote(m_server.DeliverErrorReply(sender, kCannotStore)));
    }
    const Error result = m_server.DeliverTextReply(sender, "OK");
    return std::to_string(upload->Length()) + " bytes stored as " + name + DeliveryNote(result);
}
