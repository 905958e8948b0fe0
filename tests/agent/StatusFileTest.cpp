// The status file on disk and the keeper that writes it: a reader never sees
// a part of a file, nothing but a regular file is ever replaced, no link is
// followed, and a storm of changes costs a few writes a second.

#include "agent/StatusFile.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "agent/ServiceNotifier.h"
#include "agent/StatusKeeper.h"
#include "agent/TraceProblems.h"
#include "support/TempDir.h"
#include "support/TestSystem.h"
#include "tunnel/SerialNetworkInterface.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::string> Names(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory)) {
        names.push_back(entry.path().filename());
    }
    std::sort(names.begin(), names.end());
    return names;
}

ino_t Inode(const std::string& path) {
    struct stat status {};
    return lstat(path.c_str(), &status) == 0 ? status.st_ino : 0;
}

TEST(StatusFileTest, WriteReplacesTheFileWholeAndLeavesNothingElse) {
    TempDir directory;
    const TStatusFile file(directory.Path());
    EXPECT_EQ(file.Path(), directory / "Status.json");
    EXPECT_FALSE(file.Write("first\n"));
    EXPECT_EQ(directory.ReadFile("Status.json"), "first\n");
    const ino_t first = Inode(file.Path());

    // A reader that holds the old file keeps reading all of it.
    const int reader = open(file.Path().c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    EXPECT_FALSE(file.Write("second, longer\n"));
    EXPECT_EQ(directory.ReadFile("Status.json"), "second, longer\n");
    EXPECT_NE(Inode(file.Path()), first) << "written in place, not replaced";
    char old[16] = {};
    EXPECT_EQ(read(reader, old, sizeof old), 6);
    close(reader);
    EXPECT_EQ(Names(directory.Path()), std::vector<std::string>{"Status.json"});
}

// Whatever is not a regular file under the name stays as it is, and so does
// what a link points at.
TEST(StatusFileTest, OnlyARegularFileIsEverReplaced) {
    struct Case {
        const char* what;
        void (*make)(const TempDir& directory);
        const char* obstacle;
    } cases[] = {
        {"a link to a file",
         [](const TempDir& d) { fs::create_symlink(d / "outside", d / "Status.json"); },
         "a symbolic link"},
        {"a dangling link",
         [](const TempDir& d) { fs::create_symlink(d / "nowhere", d / "Status.json"); },
         "a symbolic link"},
        {"a directory", [](const TempDir& d) { fs::create_directory(d / "Status.json"); },
         "a directory"},
        {"a FIFO",
         [](const TempDir& d) { ASSERT_EQ(mkfifo((d / "Status.json").c_str(), 0600), 0); },
         "not a regular file"},
    };
    for (const Case& c : cases) {
        TempDir directory;
        directory.WriteFile("outside", "untouched");
        c.make(directory);
        const ino_t before = Inode(directory / "Status.json");
        const auto problem = TStatusFile(directory.Path()).Write("status");
        ASSERT_TRUE(problem) << c.what;
        EXPECT_EQ(problem->obstacle, c.obstacle) << c.what;
        EXPECT_EQ(Inode(directory / "Status.json"), before) << c.what;
        EXPECT_EQ(directory.ReadFile("outside"), "untouched") << c.what;
        EXPECT_FALSE(directory.Exists("nowhere")) << c.what;
        EXPECT_EQ(Names(directory.Path()).size(), 2u) << c.what << ": a file was left behind";
    }
}

// A file of the writer's temporary name, even a link, is removed, never
// written through.
TEST(StatusFileTest, ALeftoverTemporaryFileIsNotFollowed) {
    TempDir directory;
    directory.WriteFile("outside", "untouched");
    fs::create_symlink(directory / "outside",
                       directory / (".Status.json." + std::to_string(getpid())));
    EXPECT_FALSE(TStatusFile(directory.Path()).Write("status"));
    EXPECT_EQ(directory.ReadFile("outside"), "untouched");
    EXPECT_EQ(directory.ReadFile("Status.json"), "status");
    EXPECT_EQ(Names(directory.Path()), (std::vector<std::string>{"Status.json", "outside"}));
}

TEST(StatusFileTest, ADirectoryThatCannotBeWrittenIsTheDirectorysProblem) {
    TempDir directory;
    directory.WriteFile("file", "");
    for (const std::string& where : {directory / "missing", directory / "file"}) {
        const auto problem = TStatusFile(where).Write("status");
        ASSERT_TRUE(problem) << where;
        EXPECT_EQ(problem->obstacle, "") << where;
        EXPECT_EQ(problem->error, where.ends_with("missing") ? ENOENT : ENOTDIR) << where;
    }
}

TEST(StatusFileTest, ReadTakesOnlyARegularFileOfBoundedLength) {
    TempDir directory;
    directory.WriteFile("good", "{}\n");
    ASSERT_EQ(mkfifo((directory / "fifo").c_str(), 0600), 0);
    fs::create_directory(directory / "dir");
    {
        const int huge = open((directory / "huge").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        ASSERT_GE(huge, 0);
        ASSERT_EQ(ftruncate(huge, 5 * 1024 * 1024), 0);
        close(huge);
    }
    struct Case {
        const char* name;
        bool read;
        std::string result;  // the text, or the reason
    } cases[] = {
        {"good", true, "{}\n"},
        {"missing", false, "No such file or directory"},
        {"fifo", false, "not a regular file"},
        {"dir", false, "a directory"},
        {"huge", false, "longer than 4 MiB, which no status is"},
    };
    for (const Case& c : cases) {
        std::string text;
        std::string error;
        EXPECT_EQ(TStatusFile::Read(directory / c.name, text, error), c.read) << c.name;
        EXPECT_EQ(c.read ? text : error, c.result) << c.name;
    }
}

TEST(StatusFileTest, ProblemsAreToldOnceEach) {
    std::vector<std::string> told;
    TTraceProblems problems("/t", [&told](const std::string& line) { told.push_back(line); });
    problems.OnStatusFailure({EEXIST, "a directory"});
    problems.OnStatusFailure({EEXIST, "a directory"});
    problems.OnStatusFailure({EACCES, ""});
    problems.OnLogFailure("CommLog9.txt", EACCES);
    problems.OnStatusFailure({EACCES, ""});
    EXPECT_EQ(told, (std::vector<std::string>{
                        "/t/Status.json is a directory; the status is not written into it",
                        "cannot write traffic logs in /t: Permission denied",
                    }));
}

// The keeper on the fake clock of a test system, writing into a directory.
class StatusKeeperTest : public testing::Test {
  protected:
    StatusKeeperTest() {
        m_keeper.WriteInto(m_directory.Path(), [this](const TStatusFile::TProblem& problem) {
            m_problems.push_back(problem);
        });
        m_keeper.SettingsRead(9);
    }

    // The status in the file now.
    TAgentStatus Written() const {
        std::string error;
        const auto status = StatusFromJson(m_directory.ReadFile("Status.json"), error);
        EXPECT_TRUE(status) << error;
        return status.value_or(TAgentStatus());
    }

    TTestSystem m_system;
    TempDir m_directory;
    TServiceNotifier m_notifier;  // the test runs without a service manager
    TStatusKeeper m_keeper{m_notifier};
    std::vector<TStatusFile::TProblem> m_problems;
};

TEST_F(StatusKeeperTest, AStormOfConnectionChangesCostsAFewWritesASecond) {
    m_keeper.ServingStarted();
    TTunnelSample sample;
    sample.linkUp = true;
    m_keeper.Observe(sample);
    ASSERT_EQ(m_keeper.Writes(), 1u);
    EXPECT_TRUE(Written().linkUp);

    // 1000 connections opened and closed, one change a pass, a pass a millisecond.
    for (std::uint32_t id = 1; id <= 1000; ++id) {
        m_system.Clock().Advance(1);
        sample.connections.clear();
        if (id % 2 == 1) {
            sample.connections.push_back({.socketId = id, .calling = true});
        }
        const unsigned long before = m_keeper.Writes();
        m_keeper.Observe(sample);
        EXPECT_LE(m_keeper.Writes(), before + 1) << "more than one write in a pass";
    }
    EXPECT_LE(m_keeper.Writes(), 1u + 1000 / TStatusKeeper::kChangeGapMs);
    EXPECT_GE(m_keeper.Writes(), 1000 / TStatusKeeper::kChangeGapMs);
    // The last change is written once the gap has passed at the latest.
    m_system.Clock().Advance(TStatusKeeper::kChangeGapMs);
    m_keeper.Observe(sample);
    EXPECT_TRUE(Written().connections.empty());
    EXPECT_TRUE(m_problems.empty());
}

TEST_F(StatusKeeperTest, QuietFiguresAreWrittenEveryFiveSecondsAndAResetAtOnce) {
    m_keeper.ServingStarted();
    TTunnelSample sample;
    m_keeper.Observe(sample);
    const std::string started = Written().lastReset;
    EXPECT_EQ(started, "2019-09-03 09:45:01");
    for (int pass = 0; pass < 100; ++pass) {  // 10 s of passes with new counts each
        m_system.Clock().Advance(100);
        ++sample.counters.framesReceived;
        m_keeper.Observe(sample);
    }
    EXPECT_EQ(m_keeper.Writes(), 3u);
    EXPECT_EQ(Written().counters.framesReceived, 100u);

    // A reset by the terminal is a change, with its time.
    ASSERT_EQ(m_system.SetDateTime(20190903, 94630).Code(), 0u);
    m_system.Clock().Advance(TStatusKeeper::kChangeGapMs);
    ++sample.counters.peerResets;
    m_keeper.Observe(sample);
    EXPECT_EQ(m_keeper.Writes(), 4u);
    EXPECT_EQ(Written().lastReset, "2019-09-03 09:46:30");
}

// The service's state is written when the loop settles before its pause;
// a trace directory that vanished is told at every write, and the keeper goes on.
TEST_F(StatusKeeperTest, StateChangesAreWrittenAndProblemsToldWithoutStopping) {
    m_keeper.ServingStarted();
    TTunnelSample sample;
    sample.linkUp = true;
    sample.connections.push_back({.socketId = 1, .calling = true});
    m_keeper.Observe(sample);
    m_keeper.LineLost();
    EXPECT_EQ(m_keeper.Status().state, TServiceStatus::EState::LineLost);
    EXPECT_FALSE(m_keeper.Status().linkUp);
    EXPECT_TRUE(m_keeper.Status().connections.empty());
    EXPECT_EQ(m_keeper.MillisecondsToNextWrite(), TStatusKeeper::kChangeGapMs);

    fs::remove_all(m_directory.Path());
    m_system.Clock().Advance(TStatusKeeper::kChangeGapMs);
    m_keeper.Observe(TTunnelSample());
    ASSERT_EQ(m_problems.size(), 1u);
    EXPECT_EQ(m_problems[0].error, ENOENT);
    fs::create_directory(m_directory.Path());
    m_keeper.NotServing(TServiceStatus::EState::PortUnavailable);
    m_system.Clock().Advance(TStatusKeeper::kChangeGapMs);
    m_keeper.Observe(TTunnelSample());
    EXPECT_EQ(Written().state, TServiceStatus::EState::PortUnavailable);
    EXPECT_EQ(Written().port, "ttyS99");
}

// A loop that pauses for seconds between passes (idle, or waiting for the
// port) writes its change at once and its figures as they fall due.
TEST_F(StatusKeeperTest, AnIdleLoopWritesItsStateAtOnceAndThenEveryFiveSeconds) {
    const TSerialNetworkInterface closed(9);
    m_keeper.NotServing(TServiceStatus::EState::Disabled);
    m_keeper.Settle(closed);
    EXPECT_EQ(Written().state, TServiceStatus::EState::Disabled);
    m_keeper.NotServing(TServiceStatus::EState::PortUnavailable);
    m_keeper.Settle(closed);
    EXPECT_EQ(Written().state, TServiceStatus::EState::PortUnavailable);
    EXPECT_EQ(m_keeper.Writes(), 2u);
    m_system.Clock().Advance(TStatusKeeper::kPeriodMs - 1);
    m_keeper.Settle(closed);
    EXPECT_EQ(m_keeper.Writes(), 2u);
    m_system.Clock().Advance(1);
    m_keeper.Settle(closed);
    EXPECT_EQ(m_keeper.Writes(), 3u);
}

}  // namespace
