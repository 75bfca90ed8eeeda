#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "net/Request.h"
#include "net/UploadHost.h"
#include "tests/fakes/CUploadSinkFake.h"

namespace vexa {
namespace {

namespace fs = std::filesystem;
using testing::CUploadSinkFake;

const std::string B = "---------------------------114782935826962";
const std::string kClosing =
    "\r\n--" + B + "\r\nContent-Disposition: form-data; name=\"Submit\"\r\n\r\nhello\r\n--" + B +
    "--\r\n";

std::string FieldPart(const std::string& name, const std::string& value) {
    return "--" + B + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
           "\r\n";
}

std::string FileHeader(const std::string& name, const std::string& file) {
    return "--" + B + "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" +
           file + "\"\r\nContent-Type: application/octet-stream\r\n\r\n";
}

class RequestTest : public ::testing::Test {
  protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() / ("vexa-request-" + std::to_string(::getpid()));
        fs::create_directories(m_dir);
        // The client honours the environment's proxy; the sink is reached directly.
        for (const char* proxy :
             {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            ::unsetenv(proxy);
        ::setenv("VEXA_UPLOAD_HOST", m_sink.HostPort().c_str(), 1);
        m_request.SetServer("/Upfile.ashx");
        m_request.Reset();
    }
    void TearDown() override {
        ::unsetenv("VEXA_UPLOAD_HOST");
        ::unsetenv("VEXA_TLS_CA_FILE");
        fs::remove_all(m_dir);
    }
    std::string Write(const std::string& relative, const std::string& bytes) {
        fs::path path = m_dir / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }
    // Sends and returns what the sink received; checks the parts every upload has.
    CUploadSinkFake::Received SendAndReceive() {
        EXPECT_TRUE(m_request.Send());
        EXPECT_TRUE(m_sink.WaitForRequests(1, 5000));
        auto got = m_sink.Requests();
        if (got.size() != 1) {
            ADD_FAILURE() << got.size() << " requests";
            return {};
        }
        EXPECT_EQ("POST", got[0].method);
        EXPECT_EQ("/Upfile.ashx", got[0].path);
        EXPECT_TRUE(got[0].lengthAnnounced);
        EXPECT_EQ(got[0].announcedLength, got[0].body.size());
        EXPECT_EQ(m_data.m_nBodyLength, got[0].body.size());
        return got[0];
    }

    CUploadSinkFake m_sink;
    CSendData m_data;
    Request m_request{m_data};
    fs::path m_dir;
};

TEST_F(RequestTest, ClosingSectionAloneIs152Bytes) {
    auto got = SendAndReceive();
    EXPECT_EQ(152u, got.body.size());
    EXPECT_EQ(kClosing, got.body);
    EXPECT_EQ("*/*", got.Header("Accept"));
    EXPECT_NE(std::string::npos, got.head.find("\r\nConnection:Keep-Alive\r\n"));
    EXPECT_EQ("multipart/form-data; boundary=" + B, got.Header("Content-Type"));
    EXPECT_EQ("", got.Header("Expect"));
    EXPECT_EQ("Vexa", got.Header("User-Agent"));
    EXPECT_EQ(m_sink.HostPort(), got.Header("Host"));
}

TEST_F(RequestTest, OneFieldGives247Bytes) {
    m_request.AddField("uid", "7");
    EXPECT_EQ(95u, m_data.m_nBodyLength);
    auto got = SendAndReceive();
    EXPECT_EQ(247u, got.body.size());
    EXPECT_EQ(FieldPart("uid", "7") + kClosing, got.body);
}

TEST_F(RequestTest, FullUploadCarriesFieldsThenFileBytes) {
    // Bytes that a text path would mangle, and more than one transfer buffer's worth.
    std::string mp3(200000, '\0');
    for (std::size_t i = 0; i < mp3.size(); ++i) mp3[i] = static_cast<char>((i * 131 + 7) % 256);
    mp3.replace(100, 4, "\r\n\r\n");
    std::string path = Write("rec/test.mp3", mp3);
    m_request.AddField("uid", "u-1");
    m_request.AddField("tid", "42");
    m_request.AddFile(path, "txtfile");
    auto got = SendAndReceive();
    EXPECT_EQ(FieldPart("uid", "u-1") + FieldPart("tid", "42") + FileHeader("txtfile", "test.mp3") +
                  mp3 + "\r\n" + kClosing,
              got.body);
    EXPECT_EQ("u-1", got.Field("uid"));
}

TEST_F(RequestTest, EmptyValueAndRepeatedFileAndEmptyFile) {
    std::string path = Write("a/b/c/take one.mp3", "xyz");
    std::string empty = Write("empty.bin", "");
    m_request.AddField("tid", "");
    m_request.AddFile(path, "txtfile");
    m_request.AddFile(path, "other");  // the first registration stays
    m_request.AddFile(empty, "blank");
    auto got = SendAndReceive();
    // The file table is ordered by path.
    std::string first = path < empty ? path : empty;
    std::string parts = first == path ? FileHeader("txtfile", "take one.mp3") + "xyz\r\n" +
                                            FileHeader("blank", "empty.bin") + "\r\n"
                                      : FileHeader("blank", "empty.bin") + "\r\n" +
                                            FileHeader("txtfile", "take one.mp3") + "xyz\r\n";
    EXPECT_EQ("--" + B + "\r\nContent-Disposition: form-data; name=\"tid\"\r\n\r\n\r\n" + parts +
                  kClosing,
              got.body);
}

TEST_F(RequestTest, UnreadablePathsAddNothing) {
    m_request.AddFile((m_dir / "missing.mp3").string(), "txtfile");
    m_request.AddFile(m_dir.string(), "txtfile");  // a folder
    EXPECT_EQ(0u, m_data.m_nBodyLength);
    EXPECT_TRUE(m_data.m_files.empty());
    EXPECT_EQ(kClosing, SendAndReceive().body);
}

TEST_F(RequestTest, ResetForgetsThePreviousUpload) {
    m_request.AddField("uid", "1");
    m_request.AddFile(Write("f.mp3", "data"), "txtfile");
    m_request.Reset();
    m_request.AddField("uid", "2");
    auto got = SendAndReceive();
    EXPECT_EQ(FieldPart("uid", "2") + kClosing, got.body);
}

TEST_F(RequestTest, ErrorStatusStillSucceeds) {
    for (int status : {200, 404, 500}) {
        CUploadSinkFake sink;
        sink.SetStatus(status);
        ::setenv("VEXA_UPLOAD_HOST", sink.HostPort().c_str(), 1);
        m_request.SetServer("/Upfile_mp.ashx");
        m_request.Reset();
        m_request.AddField("uid", "7");
        int answered = -1;
        EXPECT_TRUE(m_request.Send(&answered)) << status;
        EXPECT_EQ(status, answered);
        ASSERT_EQ(1u, sink.Requests().size());
        EXPECT_EQ("/Upfile_mp.ashx", sink.Requests()[0].path);
    }
}

TEST_F(RequestTest, UnreachableHostFails) {
    int port;
    {
        CUploadSinkFake gone;
        port = gone.Port();
    }
    ::setenv("VEXA_UPLOAD_HOST", ("127.0.0.1:" + std::to_string(port)).c_str(), 1);
    m_request.SetServer("/Upfile.ashx");
    m_request.AddField("uid", "7");
    int answered = -1;
    EXPECT_FALSE(m_request.Send(&answered));
    EXPECT_EQ(0, answered);
}

TEST_F(RequestTest, FileChangedAfterItWasCountedFails) {
    std::string path = Write("grow.mp3", "12345");
    m_request.AddFile(path, "txtfile");
    Write("grow.mp3", "123456");
    EXPECT_FALSE(m_request.Send());

    m_request.Reset();
    m_request.AddFile(path, "txtfile");
    Write("grow.mp3", "1");
    EXPECT_FALSE(m_request.Send());

    m_request.Reset();
    m_request.AddFile(path, "txtfile");
    fs::remove(path);
    EXPECT_FALSE(m_request.Send());
}

TEST_F(RequestTest, HttpsUploadGoesOnlyToAVerifiedHostAndNeverInClearText) {
    using Identity = CUploadSinkFake::TlsIdentity;
    Identity trusted = CUploadSinkFake::MakeIdentity(m_dir.string(), "trusted", "IP:127.0.0.1");
    Identity stranger = CUploadSinkFake::MakeIdentity(m_dir.string(), "stranger", "IP:127.0.0.1");
    Identity misnamed =
        CUploadSinkFake::MakeIdentity(m_dir.string(), "misnamed", "DNS:other.example");
    ASSERT_FALSE(trusted.certFile.empty() || stranger.certFile.empty() ||
                 misnamed.certFile.empty());
    std::ifstream a(trusted.certFile), b(misnamed.certFile);
    std::string ca = Write("ca.pem", std::string(std::istreambuf_iterator<char>(a), {}) +
                                         std::string(std::istreambuf_iterator<char>(b), {}));
    ::setenv("VEXA_TLS_CA_FILE", ca.c_str(), 1);
    std::string mp3(150000, '\0');
    for (std::size_t i = 0; i < mp3.size(); ++i) mp3[i] = static_cast<char>((i * 7 + 3) % 256);
    std::string path = Write("test.mp3", mp3);
    auto upload = [&](int port) {
        std::string host = "https://127.0.0.1:" + std::to_string(port);
        ::setenv("VEXA_UPLOAD_HOST", host.c_str(), 1);
        m_request.SetServer("/Upfile.ashx");
        m_request.Reset();
        m_request.AddField("uid", "9");
        m_request.AddFile(path, "txtfile");
        return m_request.Send();
    };

    CUploadSinkFake good(trusted);
    ASSERT_TRUE(upload(good.Port()));
    ASSERT_EQ(1u, good.Requests().size());
    auto got = good.Requests()[0];
    EXPECT_EQ(FieldPart("uid", "9") + FileHeader("txtfile", "test.mp3") + mp3 + "\r\n" + kClosing,
              got.body);
    EXPECT_EQ(got.announcedLength, got.body.size());

    CUploadSinkFake unknown(stranger), otherName(misnamed);
    for (CUploadSinkFake* sink : {&unknown, &otherName, &m_sink}) {
        EXPECT_FALSE(upload(sink->Port())) << sink->Port();
        EXPECT_GE(sink->Connections(), 1) << "the client did try";
        EXPECT_TRUE(sink->Requests().empty()) << "nothing sent to " << sink->Port();
    }
}

TEST_F(RequestTest, ServerPathIsCutTo99Bytes) {
    std::string longPath = "/" + std::string(150, 'p');
    m_request.SetServer(longPath.c_str());
    EXPECT_EQ(longPath.substr(0, 99), std::string(m_data.m_szUrlPath));
    EXPECT_EQ(m_sink.Port(), m_data.m_nPort);
}

TEST(UploadHost, HostAndOptionalPort) {
    auto t = ParseUploadHost("upload.example.com");
    EXPECT_EQ("upload.example.com", t.host);
    EXPECT_EQ(80, t.port);
    t = ParseUploadHost("127.0.0.1:8081");
    EXPECT_EQ("127.0.0.1", t.host);
    EXPECT_EQ(8081, t.port);
    t = ParseUploadHost("[::1]:9000");
    EXPECT_EQ("::1", t.host);
    EXPECT_EQ(9000, t.port);
    t = ParseUploadHost("::1");
    EXPECT_EQ("::1", t.host);
    EXPECT_EQ(80, t.port);
    for (const char* bad : {"h:", "h:0", "h:70000", "h:12a", "h:999999"}) {
        t = ParseUploadHost(bad);
        EXPECT_EQ("h", t.host) << bad;
        EXPECT_EQ(80, t.port) << bad;
        EXPECT_FALSE(t.tls);
    }
}

TEST(UploadHost, HttpsFormAsksForTls) {
    struct Case {
        const char* text;
        const char* host;
        int port;
    };
    for (const Case& c :
         {Case{"https://upload.example.com", "upload.example.com", 443},
          Case{"HTTPS://127.0.0.1:8443/", "127.0.0.1", 8443},
          Case{"https://[::1]:9443", "::1", 9443}, Case{"https://h:12a", "h", 443}}) {
        auto t = ParseUploadHost(c.text);
        EXPECT_TRUE(t.tls) << c.text;
        EXPECT_EQ(c.host, t.host) << c.text;
        EXPECT_EQ(c.port, t.port) << c.text;
    }
    EXPECT_FALSE(ParseUploadHost("http://h").tls);
}

TEST(UploadHost, EnvironmentOverridesTheBuildValue) {
    ::unsetenv("VEXA_UPLOAD_HOST");
    EXPECT_FALSE(ConfiguredUploadHost().host.empty());
    ::setenv("VEXA_UPLOAD_HOST", "10.1.2.3:81", 1);
    EXPECT_EQ("10.1.2.3", ConfiguredUploadHost().host);
    EXPECT_EQ(81, ConfiguredUploadHost().port);
    ::unsetenv("VEXA_UPLOAD_HOST");
}

}  // namespace
}  // namespace vexa
