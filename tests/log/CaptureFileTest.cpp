#include "log/CaptureFile.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

using TBytes = std::vector<std::uint8_t>;

const TBytes kHeader(48, 'H');

TBytes Block(char fill, std::size_t size = 40) {
    return TBytes(size, static_cast<std::uint8_t>(fill));
}

std::string Text(const TBytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST(CaptureFileTest, ANewFileHoldsTheHeaderAndTheBlocks) {
    TempDir directory;
    std::string error;
    auto capture = TCaptureFile::Open(directory / "one.pcapng", {}, kHeader, nullptr, error);
    ASSERT_NE(capture, nullptr) << error;
    capture->Write(Block('a'));
    capture->Write(Block('b'));
    capture->Flush();
    EXPECT_EQ(directory.ReadFile("one.pcapng"),
              Text(kHeader) + Text(Block('a')) + Text(Block('b')));
    struct stat file {};
    ASSERT_EQ(stat((directory / "one.pcapng").c_str(), &file), 0);
    EXPECT_EQ(file.st_mode & 0777, 0640u);
}

TEST(CaptureFileTest, NothingThatExistsIsWrittenThrough) {
    TempDir directory;
    directory.WriteFile("taken", "keep");
    fs::create_symlink(directory / "target", directory / "link");
    for (const char* name : {"taken", "link"}) {
        std::string error;
        EXPECT_EQ(TCaptureFile::Open(directory / name, {}, kHeader, nullptr, error), nullptr);
        EXPECT_EQ(error, directory / name + ": File exists");
    }
    EXPECT_EQ(directory.ReadFile("taken"), "keep");
    EXPECT_FALSE(directory.Exists("target"));
}

TEST(CaptureFileTest, ARingKeepsItsNewestFilesWithinTheirBound) {
    TempDir directory;
    std::string error;
    auto capture = TCaptureFile::Open(directory / "ring.pcapng", {.fileBytes = 200, .files = 2},
                                      kHeader, nullptr, error);
    ASSERT_NE(capture, nullptr) << error;
    for (char fill = 'a'; fill <= 'p'; ++fill) {
        capture->Write(Block(fill));
    }
    capture->Flush();
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory.Path())) {
        files[entry.path().filename().string()] = directory.ReadFile(entry.path().filename());
    }
    // Three blocks a file after the header: 16 blocks fill five files and start a sixth.
    const std::map<std::string, std::string> expected = {
        {"ring_00005.pcapng",
         Text(kHeader) + Text(Block('m')) + Text(Block('n')) + Text(Block('o'))},
        {"ring_00006.pcapng", Text(kHeader) + Text(Block('p'))},
    };
    EXPECT_EQ(files, expected);
    EXPECT_EQ(TCaptureFile::RingFileName("dir.x/line", 3), "dir.x/line_00003");
    EXPECT_EQ(TCaptureFile::RingFileName(".hidden", 1), ".hidden_00001");
}

TEST(CaptureFileTest, AFailedWriteStopsTheCaptureAndIsToldOnce) {
    TempDir directory;
    std::vector<std::string> told;
    std::string error;
    auto capture = TCaptureFile::Open(
        directory / "full.pcapng", {}, kHeader,
        [&told](const std::string& line) { told.push_back(line); }, error);
    ASSERT_NE(capture, nullptr) << error;
    // A file size limit stands in for a full disk.
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    const auto previous = signal(SIGXFSZ, SIG_IGN);
    rlimit limit = before;
    limit.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    capture->Write(Block('a', 200));
    capture->Flush();
    capture->Write(Block('b'));
    capture->Flush();
    setrlimit(RLIMIT_FSIZE, &before);
    signal(SIGXFSZ, previous);
    EXPECT_TRUE(capture->Stopped());
    EXPECT_EQ(told, std::vector<std::string>{"capture stopped: " + (directory / "full.pcapng") +
                                             ": File too large"});
}

}  // namespace
