// What pinpad-sim says for an error: words, then the code, then the
// system's reason or the server's status where there is one.

#include "pinpad-sim/ErrorText.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "base/ErrorCodes.h"

namespace {

TEST(ErrorTextTest, WordsThenTheCode) {
    struct TCase {
        Error error;
        std::string statusLine;
        std::string text;
    };
    const TCase cases[] = {
        {Error(27007), "HTTP/1.1 404 Not Found", "HTTP 404 Not Found (27007)"},
        {Error(27007), "HTTP/1.0 503 Service Unavailable", "HTTP 503 Service Unavailable (27007)"},
        // A status line that is none, or none at all, falls back to the code's words.
        {Error(27007), "", "the server's status line is not HTTP 200 (27007)"},
        {Error(27007), "garbage", "the server's status line is not HTTP 200 (27007)"},
        // The server's text cannot move the cursor of the terminal it is shown on.
        {Error(27007), "HTTP/1.1 500 \x1b[2J", "HTTP 500 ?[2J (27007)"},
        {SubError(kErrorCannotConnect, 22000 + ECONNREFUSED), "",
         "connection refused (20001: Connection refused)"},
        {Error(kErrorCannotConnect), "", "connection refused (20001)"},
        {Error(kErrorNotConnected), "",
         "no connection to the server: refused, unreachable or unanswered (20027)"},
        {Error(27006), "", "the server's answer did not come or broke off (27006)"},
        {Error(19003), "", "the file cannot be renamed (19003)"},
        // A status line goes with a bad status only.
        {Error(27005), "HTTP/1.1 404 Not Found", "the body cannot be written (27005)"},
        {Error(12345), "", "error 12345"},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(ErrorText(c.error, c.statusLine), c.text);
    }
}

}  // namespace
