#include "FileServer.h"

#include <cstdio>
#include <memory>

namespace {

constexpr char cInvalidFileName[] = "Invalid file name";
constexpr char cFileNotFound[] = "File not found";
constexpr char cCannotStore[] = "Cannot store the data";

// The whole file; false when it cannot be read (a directory opens, but
// cannot be read).
bool ReadWholeFile(IFileReadable& file, T_BinaryData& contents) {
    contents.Clear();
    unsigned char chunk[4096];
    for (;;) {
        const long count = file.Read(chunk, sizeof chunk);
        if (count <= 0) {
            return count == 0;
        }
        contents.Add(chunk, static_cast<unsigned long>(count));
    }
}

bool Exists(IFileSystem& files, const std::string& name) {
    return std::unique_ptr<IFileReadable>(files.OpenForRead(name.c_str())) != nullptr;
}

const char* DeliveryNote(const Error& result) {
    return result.Code() == 0 ? "" : " (not delivered: the client has gone)";
}

}  // namespace

TFileServer::TFileServer(THttpServer& server, IFileSystem& files, IFileSystem& uploads,
                         std::ostream& log)
    : m_server(server), m_files(files), m_uploads(uploads), m_log(log) {
    while (Exists(m_uploads, UploadName(m_nextUpload))) {
        ++m_nextUpload;
    }
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
        m_log << "GET " << fileName << " from " << sender << " (serial " << serial
              << "): " << ServeFile(sender, fileName) << std::endl;
    } else {
        m_log << "POST from " << sender << ": " << StoreUpload(sender, data) << std::endl;
    }
    return true;
}

bool TFileServer::IsPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name.find('/') == std::string::npos &&
           name.find("..") == std::string::npos;
}

std::string TFileServer::UploadName(unsigned long number) {
    char name[32];
    std::snprintf(name, sizeof name, "%08lu.bin", number);
    return name;
}

std::string TFileServer::ServeFile(const std::string& sender, const std::string& fileName) {
    const char* failure = cInvalidFileName;
    T_BinaryData contents;
    if (IsPlainFileName(fileName)) {
        std::unique_ptr<IFileReadable> file(m_files.OpenForRead(fileName.c_str()));
        failure = file && ReadWholeFile(*file, contents) ? nullptr : cFileNotFound;
    }
    if (failure != nullptr) {
        return failure + std::string(DeliveryNote(m_server.DeliverErrorReply(sender, failure)));
    }
    const Error result = m_server.DeliverBinaryReply(sender, contents);
    return std::to_string(contents.Length()) + " bytes" + DeliveryNote(result);
}

std::string TFileServer::StoreUpload(const std::string& sender, const T_BinaryData& body) {
    const std::string name = UploadName(m_nextUpload);
    std::unique_ptr<IFileWritable> file(
        m_uploads.OpenForWrite(name.c_str(), FILE_MODE_CREATE | FILE_MODE_TRUNCATE));
    const bool stored =
        file && file->Write(body.GetData(), body.Length()) == static_cast<long>(body.Length());
    file.reset();
    if (!stored) {
        m_uploads.EraseFile(name.c_str());  // no partial upload is left behind
        return cCannotStore +
               std::string(DeliveryNote(m_server.DeliverErrorReply(sender, cCannotStore)));
    }
    ++m_nextUpload;
    const Error result = m_server.DeliverTextReply(sender, "OK");
    return std::to_string(body.Length()) + " bytes stored as " + name + DeliveryNote(result);
}
