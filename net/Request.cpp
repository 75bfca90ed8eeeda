#include "net/Request.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "BuildConfig.h"
#include "net/CMultipartBody.h"
#include "net/UploadHost.h"
#include "platform/upload/HttpPost.h"

namespace vexa {
namespace {

void CopyCut(char (&to)[100], const char* from) {
    std::snprintf(to, sizeof to, "%s", from != nullptr ? from : "");
}

std::string WithoutLineEnd(std::string line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    return line;
}

}  // namespace

// Both here, in this order: g_request binds to g_sendData while statics are initialised.
CSendData& g_sendData = *new CSendData;
Request& g_request = *new Request(g_sendData);

void Request::SetServer(const char* path) {
    UploadTarget target = ConfiguredUploadHost();
    CopyCut(m_data.m_szHost, target.host.c_str());
    CopyCut(m_data.m_szUrlPath, path);
    m_data.m_nPort = static_cast<std::uint16_t>(target.port);
    m_data.m_bTls = target.tls;
}

void Request::Reset() {
    m_data.m_files.clear();
    m_data.m_nBodyLength = 0;
    m_data.m_strFields.clear();
}

void Request::AddField(const std::string& name, const std::string& value) {
    const std::string& b = m_data.m_strBoundary;
    std::string part = "--" + b + "\r\nContent-Disposition: form-data; name=\"" + name +
                       "\"\r\n\r\n" + value + "\r\n";
    m_data.m_nBodyLength += part.size();
    m_data.m_strFields += part;
}

void Request::AddFile(const std::string& path, const std::string& fieldName) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return;
    std::error_code error;
    // A folder opens for reading here but has no bytes to send.
    bool regular = std::filesystem::is_regular_file(path, error);
    std::uintmax_t size = regular ? std::filesystem::file_size(path, error) : 0;
    if (regular && !error && m_data.m_files.find(path) == m_data.m_files.end()) {
        std::string fileName = std::filesystem::path(path).filename().string();
        CSendData::FilePart part;
        part.header = "--" + m_data.m_strBoundary + "\r\nContent-Disposition: form-data; name=\"" +
                      fieldName + "\"; filename=\"" + fileName +
                      "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
        part.length = size;
        m_data.m_nBodyLength += part.header.size() + 2 + size;
        m_data.m_files.emplace(path, std::move(part));
    }
    std::fclose(file);
}

std::string Request::BuildContentTypeHeader() const {
    return "Content-Type: multipart/form-data; boundary=" + m_data.m_strBoundary + "\r\n";
}

std::string Request::BuildClosingSection() {
    const std::string& b = m_data.m_strBoundary;
    std::string closing = "\r\n--" + b +
                          "\r\nContent-Disposition: form-data; name=\"Submit\"\r\n\r\nhello\r\n--" +
                          b + "--\r\n";
    m_data.m_nBodyLength += closing.size();
    return closing;
}

bool Request::Send(int* status) {
    std::string closing = BuildClosingSection();
    platform::HttpPostRequest post;
    post.agent = VEXA_PRODUCT_NAME;
    post.host = m_data.m_szHost;
    post.port = m_data.m_nPort;
    post.tls = m_data.m_bTls;
    post.path = m_data.m_szUrlPath;
    post.headers = {"Accept: */*", "Connection:Keep-Alive",
                    WithoutLineEnd(BuildContentTypeHeader())};
    post.contentLength = m_data.m_nBodyLength;
    CMultipartBody body(m_data, std::move(closing));
    std::string reply;
    bool sent = platform::HttpPost(post, body, reply, status);
    // The reply is read to its end but says nothing about success.
    return sent && !body.Failed() && body.BytesProduced() == post.contentLength;
}

}  // namespace vexa
