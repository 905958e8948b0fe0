#include "FileServer.h"

#include <cerrno>
#include <cstdio>
#include <memory>

namespace {

constexpr char kInvalidFileName[] = "Invalid file name";
constexpr char kFileNotFound[] = "File not found";
constexpr char kCannotStore[] = "Cannot store the data";

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

// Shown in a log line as it came, apart from bytes that would break the line.
std::string Printable(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            shown += escaped;
        } else {
            shown += c;
        }
    }
    return shown;
}

}  // namespace

TFileServer::TFileServer(THttpServer& server, const TConfinedDirectory& files,
                         const TConfinedDirectory& uploads, std::ostream& log)
    : m_server(server), m_files(files), m_uploads(uploads), m_log(log) {
    m_server.SetRejectionListener([this](const std::string& name, const std::string& message) {
        m_log << "Refused a request" << (name.empty() ? "" : " from " + Printable(name)) << ": "
              << message << std::endl;
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
        m_log << "GET " << Printable(fileName) << " from " << Printable(sender) << " (serial "
              << Printable(serial) << "): " << ServeFile(sender, fileName) << std::endl;
    } else {
        m_log << "POST from " << Printable(sender) << ": " << StoreUpload(sender, data)
              << std::endl;
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
    // A new file of the next free number: a name taken already, by a file or
    // by a planted link, is passed over, never written through.
    std::unique_ptr<IFileWritable> file;
    std::string name;
    for (;;) {
        name = UploadName(m_nextUpload);
        file = m_uploads.CreateNew(name);
        if (file || errno != EEXIST) {
            break;
        }
        ++m_nextUpload;
    }
    const bool stored =
        file && file->Write(body.GetData(), body.Length()) == static_cast<long>(body.Length());
    if (!stored) {
        if (file) {
            file.reset();
            m_uploads.Erase(name);  // no partial upload is left behind
        }
        return kCannotStore +
               std::string(DeliveryNote(m_server.DeliverErrorReply(sender, kCannotStore)));
    }
    file.reset();
    ++m_nextUpload;
    const Error result = m_server.DeliverTextReply(sender, "OK");
    return std::to_string(body.Length()) + " bytes stored as " + name + DeliveryNote(result);
}
