// Feeds arbitrary bytes, cut into pieces at arbitrary points, to the local server's request
// assembly and parsing, as a connection would deliver them. The content downloads and folder
// helpers are replaced by a file system that checks every path handed to it: whatever the
// request, each local path the server forms lies inside its document root. Every answer is a
// well-formed reply whose Content-Length matches its body.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "server/CHTTPServer.h"
#include "server/DownloadHelpers.h"

namespace {

using vexa::fuzz::Require;

std::string g_root;     // the server's document root, with its trailing '/'
std::string g_siteUrl;  // the content site the server was started with

// Inside the root: below it, no segment climbing out (with '\' counted as a separator too, as on
// the desktop platform), and no NUL that would cut the path short for the system.
bool InsideRoot(const std::string& path) {
    if (path.find('\0') != std::string::npos) return false;
    if (path.compare(0, g_root.size(), g_root) != 0) {
        // The root itself, named without its trailing '/'.
        return path + "/" == g_root;
    }
    std::size_t start = g_root.size();
    for (std::size_t i = start; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '/' || path[i] == '\\') {
            if (path.compare(start, i - start, "..") == 0) return false;
            start = i + 1;
        }
    }
    return true;
}

class CServerUnderTest : public vexa::CHTTPServer {
  public:
    using CHTTPServer::IsRequestComplete;
    using CHTTPServer::ParseRequest;
};

void WriteFile(const std::string& path, const std::string& body) {
    std::ofstream(path, std::ios::binary) << body;
}

CServerUnderTest& Server() {
    static CServerUnderTest* server = [] {
        const std::string& scratch = vexa::fuzz::ScratchFolder();
        setenv("XDG_STATE_HOME", (scratch + "/state").c_str(), 1);
        // Nothing is ever fetched: the stand-in below only checks what it is asked for.
        g_siteUrl = "http://127.0.0.1:9/site/";
        setenv("VEXA_CONTENT_SITE", g_siteUrl.c_str(), 1);
        g_root = scratch + "/root/";
        mkdir(g_root.c_str(), 0700);
        mkdir((g_root + "lesson1").c_str(), 0700);
        WriteFile(g_root + "INDEX.HTML", "<html></html>");
        WriteFile(g_root + "vexa.swf", "FWS");
        WriteFile(g_root + "vexa.xml", "<config/>");
        WriteFile(g_root + "lesson1/pic.gif", "GIF89a");
        WriteFile(g_root + "lesson1/7word.mp3", "ID3");
        auto* s = new CServerUnderTest;
        Require(s->Start(g_root, "INDEX.HTML", 47000, 1000) == 1, "server start");
        Require(s->DocumentRoot() == g_root, "document root");
        return s;
    }();
    return *server;
}

// The reply is a status line, a header block and a body of the stated length.
void CheckReply(const std::string& reply) {
    Require(reply.compare(0, 9, "HTTP/1.0 ") == 0, "status line");
    std::size_t end = reply.find("\r\n\r\n");
    Require(end != std::string::npos, "end of head");
    std::size_t field = reply.find("Content-Length: ");
    Require(field != std::string::npos && field < end, "Content-Length");
    long long length = std::atoll(reply.c_str() + field + 16);
    Require(length == static_cast<long long>(reply.size() - end - 4), "body length");
}

}  // namespace

// The folder and download helpers, as the server sees them.
namespace vexa {

DownloadResult DownloadFile(const std::string& url, const std::string& localPath,
                            IDownloadWatcher*) {
    Require(InsideRoot(localPath), "download target inside the root");
    Require(url.compare(0, g_siteUrl.size(), g_siteUrl) == 0, "download from the site");
    // What goes to the site is one request target: no spaces or control bytes to smuggle in a
    // further header.
    for (unsigned char c : url) Require(c > 0x20 && c != 0x7f, "URL bytes");
    return DownloadResult::kNotStored;
}

void CloseKeptConnections() {}

bool FileExists(const char* path) {
    Require(path != nullptr && InsideRoot(path), "checked path inside the root");
    struct stat st;
    return stat(path, &st) == 0;
}

int CreateDirectoryTree(const char* path) {
    Require(path != nullptr && InsideRoot(path), "created folder inside the root");
    // Nothing is created, so the scratch root keeps only its fixed content.
    return 1;
}

}  // namespace vexa

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    CServerUnderTest& server = Server();
    if (size == 0) return 0;
    // The first byte picks how the rest is cut into pieces, as the socket reads might have it.
    std::uint32_t state = data[0];
    const std::size_t maxPiece = (data[0] & 0x80u) != 0 ? 4096 : 16;
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    std::string request;
    std::string reply;
    int keepAlive = 0;
    for (std::size_t pos = 0; pos < bytes.size();) {
        state = state * 1103515245u + 12345u;
        std::size_t piece = 1 + (state >> 8) % maxPiece;
        request.append(bytes, pos, piece);
        pos += piece;
        if (request.size() > vexa::CGenericServer::kMaxPendingRequest) break;
        if (server.IsRequestComplete(request) == 0) continue;
        reply.clear();
        if (server.ParseRequest(request, &reply, &keepAlive) == 0) break;
        CheckReply(reply);
        if (keepAlive == 0) break;
        request.clear();
    }
    // The run log grows with every refused request; it is begun anew at every start anyway.
    server.DeleteLog();
    return 0;
}
