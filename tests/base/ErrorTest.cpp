#include "base/Error.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>
#include <vector>

namespace {

// The cause codes of an error from the outermost inwards.
std::vector<unsigned long> Chain(const Error& error) {
    std::vector<unsigned long> codes{error.Code()};
    for (std::optional<Error> cause = error.Sub(); cause; cause = cause->Sub()) {
        codes.push_back(cause->Code());
    }
    return codes;
}

TEST(ErrorTest, CodeZeroIsSuccessAlthoughARecordExists) {
    const Error ok(0);
    EXPECT_EQ(0UL, static_cast<unsigned long>(ok));
    EXPECT_EQ(0UL, ok.Code());
    EXPECT_FALSE(ok.Sub().has_value());
    EXPECT_EQ(20004UL, static_cast<unsigned long>(Error(20004)));
}

TEST(ErrorTest, DerivedErrorsAttachACauseOnlyToFailures) {
    struct Case {
        const char* name;
        Error error;
        std::vector<unsigned long> chain;
    };
    const Case cases[] = {
        {"ErrnoError(0)", ErrnoError(0), {0}},
        {"LinError(0)", LinError(0), {0}},
        {"SubError(0, 7)", SubError(0, 7), {0}},
        {"SubError(20004, 0)", SubError(20004, 0), {20004, 0}},
        {"SubError(20004, 7)", SubError(20004, 7), {20004, 7}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.chain, Chain(c.error)) << c.name;
    }
}

TEST(ErrorTest, ErrnoIsReadWhenTheErrorIsBuilt) {
    errno = 5;
    const Error lin = LinError(20003);
    errno = 2;
    const Error plain = ErrnoError(19001);
    errno = 0;
    EXPECT_EQ((std::vector<unsigned long>{20003, 22005}), Chain(lin));
    EXPECT_EQ((std::vector<unsigned long>{19001, 2}), Chain(plain));
}

TEST(ErrorTest, AddSubErrorOnACopyLeavesTheOriginalAlone) {
    Error original = SubError(20001, 11);
    Error copy = original;
    copy.AddSubError(Error(12));
    EXPECT_EQ((std::vector<unsigned long>{20001, 11}), Chain(original));
    EXPECT_EQ((std::vector<unsigned long>{20001, 12}), Chain(copy));
}

TEST(ErrorTest, AddSubErrorReplacesTheCauseOfASoleHolder) {
    Error error(20001);
    error.AddSubError(Error(1));
    error.AddSubError(Error(2));
    EXPECT_EQ((std::vector<unsigned long>{20001, 2}), Chain(error));
}

TEST(ErrorTest, AddSubErrorBuildsChainsAcrossLayers) {
    Error tunnel(20025);
    tunnel.AddSubError(SubError(20006, 22104));
    Error http(27003);
    http.AddSubError(tunnel);
    EXPECT_EQ((std::vector<unsigned long>{27003, 20025, 20006, 22104}), Chain(http));
    // The inner handle still sees its own chain, unchanged.
    EXPECT_EQ((std::vector<unsigned long>{20025, 20006, 22104}), Chain(tunnel));
}

TEST(ErrorTest, ReleaseStopsAtARecordThatIsStillHeld) {
    std::optional<Error> middle;
    {
        Error outer(1);
        Error inner(2);
        inner.AddSubError(Error(3));
        outer.AddSubError(inner);
        middle = outer.Sub();
    }
    // The outer record is gone; the middle one and its cause live on.
    ASSERT_TRUE(middle.has_value());
    EXPECT_EQ((std::vector<unsigned long>{2, 3}), Chain(*middle));
}

TEST(ErrorTest, AssignmentSharesAndSurvivesSelfAssignment) {
    Error a = SubError(41002, 9);
    Error b(0);
    b = a;
    EXPECT_EQ(Chain(a), Chain(b));
    const Error& self = b;
    b = self;
    EXPECT_EQ((std::vector<unsigned long>{41002, 9}), Chain(b));
    // Assigning the error's own cause drops the outer record safely.
    b = *b.Sub();
    EXPECT_EQ((std::vector<unsigned long>{9}), Chain(b));
    EXPECT_EQ((std::vector<unsigned long>{41002, 9}), Chain(a));
}

}  // namespace
