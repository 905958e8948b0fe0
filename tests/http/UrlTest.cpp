#include "http/Url.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct ParseCase {
    std::string url;
    std::string protocol;
    std::string host;
    unsigned short port;
    std::string document;
    std::uint32_t address;
    bool valid;
};

void ExpectParsed(const TUrl& url, const ParseCase& c) {
    EXPECT_EQ(url.GetProtocol(), c.protocol);
    EXPECT_EQ(url.GetHost(), c.host);
    EXPECT_EQ(url.GetPort(), c.port);
    EXPECT_EQ(url.GetDoc(), c.document);
    EXPECT_EQ(url.GetAddr(), c.address);
    EXPECT_EQ(url.IsValidSymbolicAddress(), c.valid);
}

TEST(UrlTest, ParseSplitsWellFormedUrls) {
    const ParseCase cases[] = {
        {"http://10.1.2.3:8080/a/b", "http", "10.1.2.3", 8080, "a/b", 0x0A010203, true},
        {"example.org", "", "example.org", 80, "", 0, true},
        {"https://example.org/", "https", "example.org", 80, "", 0, true},
        {"example.org:1/x", "", "example.org", 1, "x", 0, true},
        {"ftp://h:65535", "ftp", "h", 65535, "", 0, true},
        {"h:00080", "", "h", 80, "", 0, true},  // five characters are allowed
        {"127.0.0.1/index.html?q=1", "", "127.0.0.1", 80, "index.html?q=1", 0x7F000001, true},
        {"255.255.255.255", "", "255.255.255.255", 80, "", 0xFFFFFFFF, true},
        {"", "", "", 80, "", 0, false},
        {"h:0", "", "h", 0, "", 0, false},  // an explicit port 0 is no port
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        ExpectParsed(TUrl(c.url, 80), c);
    }
}

TEST(UrlTest, BadPortSpoilsTheHost) {
    // Host empty and port 0, while protocol and document keep their parts.
    const ParseCase cases[] = {
        {"http://h:/doc", "http", "", 0, "doc", 0, false},
        {"h:65536", "", "", 0, "", 0, false},
        {"h:123456", "", "", 0, "", 0, false},
        {"h/a:b", "", "", 0, "a:b", 0, false},  // the ":" is in the document
        {"http://h/a:80", "http", "", 0, "a:80", 0, false},
        {"h:8a", "", "", 0, "", 0, false},  // not a number
        {"h:80 ", "", "", 0, "", 0, false},
        {"h:-1", "", "", 0, "", 0, false},
        {"x://a://b", "x", "", 0, "/b", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        ExpectParsed(TUrl(c.url, 80), c);
    }
}

TEST(UrlTest, OnlyFourDecimalFieldsMakeADottedHost) {
    const struct {
        std::string host;
        std::uint32_t address;
    } cases[] = {
        {"10.1.2.3", 0x0A010203},
        {"001.002.003.004", 0x01020304},
        {"0.0.0.0", 0},
        {"1.2.3.256", 0},
        {"1.2.3", 0},
        {".1.2.3", 0},
        {"1.2.3.", 0},
        {"1..2.3", 0},
        {"1.2.3.4.5", 0},
        {"1.2.3.1234", 0},
        {"1.2.3.a", 0},
        {"a.b.c.d", 0},
        {"1.2.3.4.", 0},
        {"1.2.3. 4", 0},
    };
    for (const auto& c : cases) {
        const TUrl url(c.host + ":80", 0);
        EXPECT_EQ(url.GetHost(), c.host);
        EXPECT_EQ(url.GetAddr(), c.address) << c.host;
    }
}

TEST(UrlTest, FullUrlAlwaysCarriesThePort) {
    const struct {
        std::string url;
        std::string full;
    } cases[] = {
        {"http://10.1.2.3:8080/a/b", "http://10.1.2.3:8080/a/b"},
        {"example.org", "example.org:443"},
        {"http://example.org/", "http://example.org:443"},
        {"h:/doc", ":0/doc"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TUrl(c.url, 443).GetFullUrl(), c.full) << c.url;
    }
}

TEST(UrlTest, BuiltFromAddress) {
    const TUrl withDoc(0xC0A80001, 80, "d");
    EXPECT_EQ(withDoc.GetHost(), "192.168.0.1");
    EXPECT_EQ(withDoc.GetProtocol(), "");
    EXPECT_EQ(withDoc.GetAddr(), 0xC0A80001u);
    EXPECT_EQ(withDoc.GetFullUrl(), "192.168.0.1:80/d");
    EXPECT_TRUE(withDoc.IsValidSymbolicAddress());

    EXPECT_EQ(TUrl(0x7F000001, 0, "").GetFullUrl(), "127.0.0.1:0");
    EXPECT_FALSE(TUrl(0x7F000001, 0, "").IsValidSymbolicAddress());
}

TEST(UrlTest, ValueSemantics) {
    TUrl url("http://h:81/d", 80);
    TUrl copy(url);
    url.Parse("other", 82);
    EXPECT_EQ(copy.GetFullUrl(), "http://h:81/d");
    EXPECT_EQ(url.GetFullUrl(), "other:82");

    copy = url;
    EXPECT_EQ(copy.GetFullUrl(), "other:82");
    const TUrl& self = copy;
    copy = self;
    EXPECT_EQ(copy.GetFullUrl(), "other:82");

    copy.Clear();
    EXPECT_EQ(copy.GetFullUrl(), ":0");
    EXPECT_EQ(copy.GetAddr(), 0u);
    EXPECT_EQ(TUrl().GetFullUrl(), ":0");
}

}  // namespace
