// A tool's output file on every kind of path: what is written where, what is
// replaced and when, and what is refused.

#include "common/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;

// The names in the directory, so that a temporary file left behind shows.
std::vector<std::string> Names(const TempDir& directory) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory.Path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool WriteWhole(const std::string& path, const std::string& text, std::string& error) {
    const std::unique_ptr<TOutputFile> output = TOutputFile::Open(path, error);
    return output && output->Write(text, error) && output->Finish(error);
}

TEST(OutputFileTest, ARegularFileIsReplacedOnlyWhenTheOutputIsWhole) {
    TempDir directory;
    directory.WriteFile("out", "old");
    chmod((directory / "out").c_str(), 0640);
    std::string error;
    {
        const std::unique_ptr<TOutputFile> output = TOutputFile::Open(directory / "out", error);
        ASSERT_TRUE(output) << error;
        ASSERT_TRUE(output->Write("new", error)) << error;
        EXPECT_EQ(directory.ReadFile("out"), "old") << "replaced before it was whole";
        ASSERT_TRUE(output->Finish(error)) << error;
    }
    EXPECT_EQ(directory.ReadFile("out"), "new");
    struct stat status {};
    ASSERT_EQ(stat((directory / "out").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u) << "the permissions of the old file are kept";

    // Given up unfinished, the old file stays and nothing is left beside it.
    {
        const std::unique_ptr<TOutputFile> output = TOutputFile::Open(directory / "out", error);
        ASSERT_TRUE(output) << error;
        ASSERT_TRUE(output->Write("half", error)) << error;
    }
    EXPECT_EQ(directory.ReadFile("out"), "new");
    EXPECT_EQ(Names(directory), std::vector<std::string>{"out"});

    // A new name is created, also when the output stays empty.
    ASSERT_TRUE(WriteWhole(directory / "empty", "", error)) << error;
    EXPECT_TRUE(directory.Exists("empty"));
}

TEST(OutputFileTest, ASymbolicLinkIsFollowedAndKept) {
    TempDir directory;
    fs::create_directory(directory / "real");
    directory.WriteFile("real/file", "old");
    fs::create_symlink("real/file", directory / "link");
    fs::create_symlink("link", directory / "chain");
    fs::create_symlink("real/new", directory / "dangling");
    std::string error;

    ASSERT_TRUE(WriteWhole(directory / "chain", "through two links", error)) << error;
    EXPECT_TRUE(fs::is_symlink(directory / "chain"));
    EXPECT_TRUE(fs::is_symlink(directory / "link"));
    EXPECT_EQ(directory.ReadFile("real/file"), "through two links");

    ASSERT_TRUE(WriteWhole(directory / "dangling", "created at the target", error)) << error;
    EXPECT_TRUE(fs::is_symlink(directory / "dangling"));
    EXPECT_EQ(directory.ReadFile("real/new"), "created at the target");
    EXPECT_EQ(Names(directory), (std::vector<std::string>{"chain", "dangling", "link", "real"}));
}

TEST(OutputFileTest, AFifoIsWrittenInPlace) {
    TempDir directory;
    const std::string fifo = directory / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string read;
    std::thread reader([&] {
        const int fd = open(fifo.c_str(), O_RDONLY);
        char buffer[256];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
            read.append(buffer, static_cast<std::size_t>(n));
        }
        close(fd);
    });
    std::string error;
    EXPECT_TRUE(WriteWhole(fifo, "through the fifo", error)) << error;
    reader.join();
    EXPECT_EQ(read, "through the fifo");
    struct stat status {};
    ASSERT_EQ(lstat(fifo.c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode)) << "the FIFO was replaced";
    EXPECT_EQ(Names(directory), std::vector<std::string>{"fifo"});
}

TEST(OutputFileTest, PathsThatCannotBeWrittenAreRefusedUpFront) {
    TempDir directory;
    directory.WriteFile("file", "");
    fs::create_directory(directory / "sub");
    fs::create_symlink("loop", directory / "loop");
    struct TCase {
        std::string path;
        std::string error;
    };
    const TCase cases[] = {
        {directory / "missing/out",
         "cannot write " + (directory / "missing/out") + ": no directory " +
             (directory / "missing") + ": No such file or directory"},
        {directory / "sub", "cannot write " + (directory / "sub") + ": Is a directory"},
        {directory / "file/out", "Not a directory"},
        {directory / "loop", "cannot follow " + (directory / "loop") + ": "},
    };
    for (const TCase& c : cases) {
        std::string error;
        EXPECT_FALSE(TOutputFile::Check(c.path, error)) << c.path;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.path << " gave: " << error;
        error.clear();
        EXPECT_EQ(TOutputFile::Open(c.path, error), nullptr) << c.path;
        EXPECT_NE(error.find(c.error), std::string::npos) << c.path << " gave: " << error;
    }
    EXPECT_FALSE(fs::exists(directory / "missing")) << "a directory was created";
    EXPECT_EQ(Names(directory), (std::vector<std::string>{"file", "loop", "sub"}));

    std::string error;
    EXPECT_TRUE(TOutputFile::Check(directory / "new", error)) << error;
    EXPECT_TRUE(TOutputFile::Check("-", error)) << error;
    EXPECT_FALSE(directory.Exists("new")) << "a check created the file";
}

}  // namespace
