#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/http/HttpGet.h"
#include "tests/fakes/CFakeContentSite.h"

namespace vexa {
namespace {

using testing::CFakeContentSite;

struct CRecordingSink : platform::IHttpGetSink {
    int responses = 0;
    int status = 0;
    long long length = -5;
    std::string body;
    bool acceptStatus = true;
    bool OnResponse(int s, long long l) override {
        ++responses;
        status = s;
        length = l;
        return acceptStatus;
    }
    bool OnBody(const char* data, std::size_t size) override {
        body.append(data, size);
        return true;
    }
};

class HttpGetTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        setenv("no_proxy", "127.0.0.1,localhost", 1);
        setenv("NO_PROXY", "127.0.0.1,localhost", 1);
    }
    void SetUp() override { ASSERT_TRUE(m_site.Start()); }
    CFakeContentSite m_site;
};

TEST_F(HttpGetTest, ReportsStatusStatedLengthAndFraming) {
    m_site.SetFile("/len", "12345");
    m_site.SetNoLength("/open", "abc");
    m_site.SetShortBody("/short", "ab", 10);
    m_site.SetFile("/empty", "");
    platform::HttpGetOptions options;

    CRecordingSink len, open, shortBody, empty;
    EXPECT_TRUE(platform::HttpGet(m_site.BaseUrl() + "len", options, len));
    EXPECT_TRUE(platform::HttpGet(m_site.BaseUrl() + "open", options, open));
    platform::HttpGetFailure failure = platform::HttpGetFailure::kNoAnswer;
    EXPECT_FALSE(platform::HttpGet(m_site.BaseUrl() + "short", options, shortBody, &failure));
    EXPECT_EQ(failure, platform::HttpGetFailure::kBroken) << "the site did answer";
    EXPECT_TRUE(platform::HttpGet(m_site.BaseUrl() + "empty", options, empty, &failure));
    EXPECT_EQ(failure, platform::HttpGetFailure::kNone);

    EXPECT_EQ(len.status, 200);
    EXPECT_EQ(len.length, 5);
    EXPECT_EQ(len.body, "12345");
    EXPECT_EQ(open.length, -1);
    EXPECT_EQ(open.body, "abc");
    EXPECT_EQ(shortBody.length, 10);
    EXPECT_EQ(shortBody.body, "ab");
    EXPECT_EQ(empty.responses, 1);
    EXPECT_EQ(empty.length, 0);
}

TEST_F(HttpGetTest, SinkThatDeclinesTheResponseGetsNoBody) {
    m_site.SetNotFound("/missing");
    CRecordingSink sink;
    sink.acceptStatus = false;
    platform::HttpGetFailure failure = platform::HttpGetFailure::kNone;
    EXPECT_FALSE(platform::HttpGet(m_site.BaseUrl() + "missing", {}, sink, &failure));
    EXPECT_EQ(failure, platform::HttpGetFailure::kBroken);
    EXPECT_EQ(sink.responses, 1);
    EXPECT_EQ(sink.status, 404);
    EXPECT_EQ(sink.body, "");
}

TEST_F(HttpGetTest, SiteThatGoesQuietIsGivenUpAfterTheStallTimeAndNotAskedTwice) {
    m_site.SetFile("/quiet", "late");
    m_site.SetDelay("/quiet", 20000);
    platform::HttpGetOptions options;
    options.stallTimeoutMs = 1000;
    CRecordingSink sink;
    platform::HttpGetFailure failure = platform::HttpGetFailure::kNone;
    EXPECT_FALSE(platform::HttpGet(m_site.BaseUrl() + "quiet", options, sink, &failure));
    EXPECT_EQ(sink.responses, 0);
    EXPECT_EQ(failure, platform::HttpGetFailure::kNoAnswer);
    EXPECT_EQ(m_site.CountOf("/quiet"), 1u);
}

}  // namespace
}  // namespace vexa
