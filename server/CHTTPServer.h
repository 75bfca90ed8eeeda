// The local HTTP/1.0 file server for the movie: answers GET requests from the data folder,
// fetches what is missing from the content site, and refreshes the movie and every XML document
// from the site before serving them.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "server/CGenericServer.h"
#include "server/CSiteOutage.h"

namespace vexa {

class IDownloadWatcher;

class CHTTPServer : public CGenericServer {
  public:
    CHTTPServer();
    ~CHTTPServer() override;

    // Serves root (created when missing) with defaultDocument for "/", on 127.0.0.1 and the
    // first free port from port upward. 1 when serving, 0 on failure (see the run log).
    int Start(const std::string& root, const std::string& defaultDocument, int port,
              int clientTimeoutMs);
    // The port the server listens on.
    int GetPort() const { return ListenPort(); }
    // Also closes the connections to the content site that were kept for later fetches.
    int Stop();

    // The document root as Start fixed it (with a trailing '/').
    const std::string& DocumentRoot() const { return m_strRoot; }
    // What the fetches know of a content site that does not answer; the content upkeep notes
    // its own downloads in it too. Lives as long as its last holder.
    const std::shared_ptr<CSiteOutage>& SiteOutage() const { return m_siteOutage; }

  protected:
    int OnClientConnect(const char* address, int port) override;
    int OnBytesSent(unsigned count) override;
    int IsRequestComplete(const std::string& request) override;
    // The whole reply in *reply; the connections themselves get it through BuildReply.
    int ParseRequest(const std::string& request, std::string* reply, int* keepAlive) override;
    // A file larger than a few pages is left in *body, sent from the file; a file missing from
    // the data folder goes on to the client while it is being fetched.
    int BuildReply(const std::string& request, std::string* reply, int* keepAlive, SReplyBody* body,
                   const TrySendProc& trySend) override;

  private:
    struct SFetchSlot;
    // Fetches url into localPath, one fetch per local path at a time. With onlyWhenMissing a
    // file that another connection fetched meanwhile is not fetched again; without it (a
    // refresh) a fetch of the same file already under way stands for this one. Nothing is
    // fetched while the site is known not to answer. A watcher sees a download this call makes.
    void Fetch(const std::string& url, const std::string& localPath, bool onlyWhenMissing,
               IDownloadWatcher* watcher = nullptr);

    std::string m_strRoot;
    std::string m_strDefaultDocument;
    std::map<std::string, std::string> m_mimeTypes;
    std::string m_strBaseUrl;

    std::shared_ptr<CSiteOutage> m_siteOutage = std::make_shared<CSiteOutage>();
    std::mutex m_fetchLock;
    std::map<std::string, std::unique_ptr<SFetchSlot>> m_fetchSlots;
};

}  // namespace vexa
