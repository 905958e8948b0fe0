#include "platform/linux/LoggerToFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "base/LogEvent.h"
#include "platform/FileSystem.h"
#include "platform/System.h"
#include "platform/linux/LinFileSystem.h"
#include "support/TempDir.h"
#include "support/TestSystem.h"

namespace {

// The test system's clock, counting its reads and failing them on request.
class LoggerClock : public TTestSystem {
  public:
    void FailReads() { m_failing = true; }
    int Reads() const { return m_reads; }

    Error GetDateTime(unsigned long* date, unsigned long* time) override {
        ++m_reads;
        return m_failing ? Error(1) : TTestSystem::GetDateTime(date, time);
    }

  private:
    bool m_failing = false;
    int m_reads = 0;
};

// A hex-dumped event whose marker is longer than one character.
class DumpEvent : public TLogEvent {
  public:
    DumpEvent(const unsigned char* data, int length) : TLogEvent(0, data, length) {}
    bool NeedsHexDump() const override { return true; }
    const char* GetEventMarker() const override { return "Dump"; }
};

class LoggerToFileTest : public ::testing::Test {
  protected:
    std::string LogText(const char* name = "CommLog1.txt") const { return m_dir.ReadFile(name); }
    void WriteLog(const std::string& content, const char* name = "CommLog1.txt") const {
        m_dir.WriteFile(name, content);
    }

    LoggerClock m_clock;
    TempDir m_dir;
    TLinFileSystem m_files{m_dir.Path().c_str()};
};

TEST_F(LoggerToFileTest, WritesEveryKindOfEntryExactlyAsExpected) {
    TLoggerToFile logger("CommLog1.txt", &m_files, 0);
    const unsigned char one[] = {0x41};
    const unsigned char seventeen[] = {'H',  'e',  'l',  'l',  'o',  0x0D, 0x0A, 0x00, 0x1F,
                                       0x20, 0x7E, 0x7F, 0x80, 0xFF, 'x',  'y',  'z'};
    const unsigned char sixteen[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    const unsigned char three[] = {1, 2, 3};

    EXPECT_EQ(m_clock.SetDateTime(20260905, 140321).Code(), 0u);
    logger.LogData(T_LE_Connected(nullptr));
    logger.LogData(T_LE_Connected("192.168.0.5"));
    EXPECT_EQ(m_clock.SetDateTime(20260201, 90807).Code(), 0u);
    logger.LogData(T_LE_Sent(one, sizeof one));
    logger.LogData(T_LE_Received(seventeen, sizeof seventeen));
    EXPECT_EQ(m_clock.SetDateTime(20261231, 235959).Code(), 0u);
    logger.LogData(T_LE_Sent(sixteen, sizeof sixteen));
    logger.LogData(T_LE_ComError(20003));
    logger.LogData(DumpEvent(three, sizeof three));
    logger.LogData(T_LE_Disconnected());

    std::ifstream expectedFile(
        std::filesystem::path(__FILE__).parent_path() / "data" / "CommLog.expected",
        std::ios::binary);
    const std::string expected((std::istreambuf_iterator<char>(expectedFile)),
                               std::istreambuf_iterator<char>());
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(LogText(), expected);
}

TEST_F(LoggerToFileTest, AppendsToWhatTheFileAlreadyHolds) {
    WriteLog("earlier\r\n");
    EXPECT_EQ(m_clock.SetDateTime(20190903, 90501).Code(), 0u);
    TLoggerToFile("CommLog1.txt", &m_files, 0).LogData(T_LE_ComError(0));
    EXPECT_EQ(LogText(), "earlier\r\n03.09 09:05:01 Error 0\r\n");
}

TEST_F(LoggerToFileTest, TrimsToTheLastHalfOfTheLimitBeforeTheNextEntry) {
    struct Case {
        std::size_t sizeBefore;
        std::size_t keptBytes;  // of the old contents, from its end
    };
    const std::vector<Case> cases = {{999, 999}, {1000, 500}, {1500, 500}};
    EXPECT_EQ(m_clock.SetDateTime(20190903, 90501).Code(), 0u);
    const std::string entry = "03.09 09:05:01 Connected\r\n";
    for (const Case& c : cases) {
        std::string old;
        for (std::size_t i = 0; i < c.sizeBefore; ++i) {
            old += static_cast<char>('a' + i % 26);
        }
        WriteLog(old);
        TLoggerToFile("CommLog1.txt", &m_files, 1000).LogData(T_LE_Connected(nullptr));
        EXPECT_EQ(LogText(), old.substr(old.size() - c.keptBytes) + entry)
            << "file of " << c.sizeBefore << " bytes";
        EXPECT_FALSE(m_dir.Exists("tmpflnm"));
    }
}

// The process's traffic policy: without payloads only the entries without bytes stay; its size
// limit trims a log that has none of its own, and a log's own limit wins.
TEST_F(LoggerToFileTest, TrafficPolicyDropsPayloadsAndBoundsEveryLog) {
    EXPECT_EQ(m_clock.SetDateTime(20190903, 90501).Code(), 0u);
    const unsigned char bytes[] = {1, 2, 3};
    TLoggerToFile::SetTrafficPolicy(false, 0);
    TLoggerToFile logger("CommLog1.txt", &m_files, 0);
    logger.LogData(T_LE_Connected("10.0.0.5"));
    logger.LogData(T_LE_Sent(bytes, sizeof bytes));
    logger.LogData(T_LE_Received(bytes, sizeof bytes));
    logger.LogData(T_LE_ComError(20003));
    logger.LogData(T_LE_Disconnected());
    EXPECT_EQ(LogText(),
              "03.09 09:05:01 Connected10.0.0.5\r\n03.09 09:05:01 Error 20003\r\n"
              "03.09 09:05:01 Disconnected\n\r\n");

    const std::string entry = "03.09 09:05:01 Connected\r\n";
    struct Case {
        unsigned long ownLimit;
        std::size_t keptBytes;  // of 1500 old bytes
    } cases[] = {{0, 500}, {2000, 1500}};
    TLoggerToFile::SetTrafficPolicy(true, 1000);
    for (const Case& c : cases) {
        const std::string old(1500, 'o');
        WriteLog(old);
        TLoggerToFile("CommLog1.txt", &m_files, c.ownLimit).LogData(T_LE_Connected(nullptr));
        EXPECT_EQ(LogText(), old.substr(old.size() - c.keptBytes) + entry) << c.ownLimit;
    }
    TLoggerToFile::SetTrafficPolicy(true, 0);
}

// A directory whose renames fail, as on a file system that refuses them.
class NoRenameFileSystem : public TLinFileSystem {
  public:
    using TLinFileSystem::TLinFileSystem;
    Error RenameFile(const char*, const char*) override { return Error(FILE_ERROR_RENAME); }
};

TEST_F(LoggerToFileTest, FailedRenameLeavesTheFileUntrimmedAndTheTemporaryFileAlone) {
    NoRenameFileSystem files(m_dir.Path().c_str());
    const std::string old(1500, 'o');
    WriteLog(old);
    WriteLog("left over from another log", "tmpflnm");
    EXPECT_EQ(m_clock.SetDateTime(20190903, 90501).Code(), 0u);
    TLoggerToFile("CommLog1.txt", &files, 1000).LogData(T_LE_Connected(nullptr));
    EXPECT_EQ(LogText(), old + "03.09 09:05:01 Connected\r\n");
    EXPECT_EQ(LogText("tmpflnm"), "left over from another log");
}

// Only a positive length, or a text, has bytes to show; a negative one is
// never taken as a count.
TEST_F(LoggerToFileTest, EventsWithoutBytesGetJustTheirHeader) {
    const unsigned char bytes[] = {0x41, 0x42};
    EXPECT_EQ(m_clock.SetDateTime(20190903, 90501).Code(), 0u);
    TLoggerToFile logger("CommLog1.txt", &m_files, 0);
    logger.LogData(T_LE_Sent(bytes, -1));
    logger.LogData(T_LE_Received(nullptr, 5));
    logger.LogData(T_LE_Connected(""));
    EXPECT_EQ(LogText(), "03.09 09:05:01 >\r\n03.09 09:05:01 <\r\n03.09 09:05:01 Connected\r\n");
}

TEST_F(LoggerToFileTest, WithoutFileSystemNeitherWritesNorReadsTheClock) {
    TLoggerToFile("CommLog1.txt", nullptr, 1000).LogData(T_LE_Connected(nullptr));
    EXPECT_EQ(m_clock.Reads(), 0);
    EXPECT_TRUE(std::filesystem::is_empty(m_dir.Path()));
}

TEST_F(LoggerToFileTest, DropsTheEventWhenTheClockCannotBeRead) {
    m_clock.FailReads();
    TLoggerToFile("CommLog1.txt", &m_files, 0).LogData(T_LE_Connected(nullptr));
    EXPECT_FALSE(m_dir.Exists("CommLog1.txt"));
}

// A log file that is a symbolic link is never written through: the link's
// target stays as it was, also when the log is trimmed, and the failure is
// told to the listener with the file's name and ELOOP.
TEST_F(LoggerToFileTest, NeverWritesThroughASymbolicLink) {
    std::vector<std::pair<std::string, int>> told;
    TLoggerToFile::SetFailureListener(
        [&told](const char* name, int error) { told.emplace_back(name, error); });
    TempDir outside;
    outside.WriteFile("target.txt", std::string(300, 't'));
    std::filesystem::create_symlink(outside / "target.txt", m_dir / "CommLog1.txt");
    std::filesystem::create_symlink(outside / "target.txt", m_dir / "Trimmed.txt");

    TLoggerToFile("CommLog1.txt", &m_files, 0).LogData(T_LE_Connected(nullptr));
    TLoggerToFile("Trimmed.txt", &m_files, 100).LogData(T_LE_Connected(nullptr));
    TLoggerToFile::SetFailureListener(nullptr);

    EXPECT_EQ(outside.ReadFile("target.txt"), std::string(300, 't'));
    EXPECT_EQ(told, (std::vector<std::pair<std::string, int>>{{"CommLog1.txt", ELOOP}}));
    // The trimmed log was moved aside as a link and started afresh.
    EXPECT_TRUE(
        std::filesystem::is_regular_file(std::filesystem::symlink_status(m_dir / "Trimmed.txt")));
    EXPECT_NE(LogText("Trimmed.txt").find("Connected"), std::string::npos);
}

TEST_F(LoggerToFileTest, TellsTheListenerWhyAFileWouldNotOpen) {
    std::vector<std::pair<std::string, int>> told;
    TLoggerToFile::SetFailureListener(
        [&told](const char* name, int error) { told.emplace_back(name, error); });
    m_dir.WriteFile("NotADirectory", "");
    TLinFileSystem files((m_dir / "NotADirectory").c_str());
    TLoggerToFile logger("CommLog1.txt", &files, 0);
    logger.LogData(T_LE_Connected(nullptr));
    logger.LogData(T_LE_Disconnected());
    TLoggerToFile::SetFailureListener(nullptr);
    logger.LogData(T_LE_Disconnected());  // silent again
    EXPECT_EQ(told, (std::vector<std::pair<std::string, int>>{{"CommLog1.txt", ENOTDIR},
                                                              {"CommLog1.txt", ENOTDIR}}));
}

}  // namespace
