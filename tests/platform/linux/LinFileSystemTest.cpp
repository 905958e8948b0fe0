#include "platform/FileSystem.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <ostream>

#include <cerrno>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/linux/LinFileSystem.h"
#include "support/TempDir.h"

namespace {

unsigned long SubCode(const Error& error) {
    auto sub = error.Sub();
    return sub ? sub->Code() : ~0ul;
}

mode_t Permissions(const std::string& path) {
    struct stat status {};
    stat(path.c_str(), &status);
    return status.st_mode & 07777;
}

long WriteText(IFileWritable& file, const std::string& text) {
    return file.Write(reinterpret_cast<const unsigned char*>(text.data()), text.size());
}

// Files under a fresh temporary root, with a known file-creation mask.
class FileSystemTest : public ::testing::Test {
  protected:
    FileSystemTest() : m_oldMask(umask(022)) {}
    ~FileSystemTest() override { umask(m_oldMask); }

    TempDir m_dir;
    TLinFileSystem m_fs{m_dir.Path().c_str()};

  private:
    mode_t m_oldMask;
};

struct OpenModeCase {
    const char* name;
    unsigned short mode;
    bool existing;
    const char* expected;  // contents after writing "ab"; null when the open fails
};

void PrintTo(const OpenModeCase& c, std::ostream* os) {
    *os << c.name;
}

class OpenModeTest : public FileSystemTest, public ::testing::WithParamInterface<OpenModeCase> {};

TEST_P(OpenModeTest, WritesAsTheModeSays) {
    const OpenModeCase& c = GetParam();
    if (c.existing) {
        m_dir.WriteFile("f.txt", "old");
    }
    std::unique_ptr<IFileWritable> file(m_fs.OpenForWrite("f.txt", c.mode));
    if (c.expected == nullptr) {
        ASSERT_EQ(file, nullptr);
        Error error = m_fs.GetLastError();
        EXPECT_EQ(error.Code(), 19001u);
        EXPECT_EQ(SubCode(error), static_cast<unsigned long>(ENOENT));
        return;
    }
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(WriteText(*file, "ab"), 2);
    file.reset();
    EXPECT_EQ(m_dir.ReadFile("f.txt"), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, OpenModeTest,
    ::testing::Values(OpenModeCase{"TruncateWinsOverCreate", 0x0C, true, "ab"},
                      OpenModeCase{"TruncateWinsOverAppend", 0x18, true, "ab"},
                      OpenModeCase{"Append", 0x10, true, "oldab"},
                      OpenModeCase{"AppendWinsOverCreate", 0x14, true, "oldab"},
                      OpenModeCase{"CreateKeepsTheContents", 0x04, true, "abd"},
                      OpenModeCase{"CreateMakesAMissingFile", 0x04, false, "ab"},
                      OpenModeCase{"AppendMakesAMissingFile", 0x10, false, "ab"},
                      OpenModeCase{"ReadWriteOpensAnExistingFile", 0x00, true, "abd"},
                      OpenModeCase{"ReadWriteFailsOnAMissingFile", 0x00, false, nullptr}),
    [](const ::testing::TestParamInfo<OpenModeCase>& info) { return info.param.name; });

TEST_F(FileSystemTest, OpenForReadReadsAndFailsOnMissingFiles) {
    m_dir.WriteFile("in.txt", "hello");
    std::unique_ptr<IFileReadable> file(m_fs.OpenForRead("in.txt"));
    ASSERT_NE(file, nullptr);
    EXPECT_STREQ(static_cast<TPCFile*>(file.get())->GetName(), "in.txt");
    unsigned char buffer[16] = {};
    EXPECT_EQ(file->Read(buffer, sizeof buffer), 5);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 5), "hello");
    EXPECT_EQ(file->Read(buffer, sizeof buffer), 0);
    unsigned char byte = 0;
    EXPECT_EQ(static_cast<IFileWritable*>(file.get())->Write(&byte, 1), -1);  // read-only

    EXPECT_EQ(m_fs.OpenForRead("missing.txt"), nullptr);
    EXPECT_EQ(m_fs.GetLastError().Code(), 19001u);
    EXPECT_EQ(SubCode(m_fs.GetLastError()), static_cast<unsigned long>(ENOENT));

    // A successful open leaves the last failure in place.
    std::unique_ptr<IFileReadable> again(m_fs.OpenForRead("in.txt"));
    EXPECT_EQ(m_fs.GetLastError().Code(), 19001u);
}

TEST_F(FileSystemTest, SeekTellAndLengthKeepThePosition) {
    m_dir.WriteFile("f.bin", "0123456789");
    std::unique_ptr<IFileReadable> file(m_fs.OpenForRead("f.bin"));
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->Seek(4), 4);
    EXPECT_EQ(file->GetLength(), 10);
    EXPECT_EQ(file->Tell(), 4);
    unsigned char byte = 0;
    EXPECT_EQ(file->Read(&byte, 1), 1);
    EXPECT_EQ(byte, '4');
    EXPECT_EQ(file->Tell(), 5);
}

TEST_F(FileSystemTest, NewFilesAreExecutableOnlyForUpdates) {
    delete m_fs.OpenForWrite("plain.txt", 0x04);
    delete m_fs.OpenForWrite("agent.new", 0x04);
    EXPECT_EQ(Permissions(m_dir / "plain.txt"), 0644u);
    EXPECT_EQ(Permissions(m_dir / "agent.new"), 0755u);
}

TEST_F(FileSystemTest, EraseFile) {
    m_dir.WriteFile("f.txt", "x");
    EXPECT_EQ(m_fs.EraseFile("f.txt").Code(), 0u);
    EXPECT_FALSE(m_dir.Exists("f.txt"));
    EXPECT_EQ(m_fs.EraseFile("f.txt").Code(), 0u);  // already gone

    mkdir((m_dir / "sub").c_str(), 0755);
    Error error = m_fs.EraseFile("sub");
    EXPECT_EQ(error.Code(), 19002u);
    EXPECT_EQ(SubCode(error), static_cast<unsigned long>(EISDIR));
    EXPECT_EQ(m_fs.GetLastError().Code(), 19002u);
    EXPECT_EQ(m_fs.EraseFile("missing").Code(), 0u);
    EXPECT_EQ(m_fs.GetLastError().Code(), 0u);
}

TEST_F(FileSystemTest, RenameReplacesTheTarget) {
    m_dir.WriteFile("a.txt", "new");
    m_dir.WriteFile("b.txt", "old");
    EXPECT_EQ(m_fs.RenameFile("a.txt", "b.txt").Code(), 0u);
    EXPECT_FALSE(m_dir.Exists("a.txt"));
    EXPECT_EQ(m_dir.ReadFile("b.txt"), "new");
}

TEST_F(FileSystemTest, RenameToTheSameNameInOtherCaseDoesNothing) {
    m_dir.WriteFile("Log.txt", "x");
    EXPECT_EQ(m_fs.RenameFile("Log.txt", "LOG.TXT").Code(), 0u);
    EXPECT_TRUE(m_dir.Exists("Log.txt"));
    EXPECT_FALSE(m_dir.Exists("LOG.TXT"));
}

TEST_F(FileSystemTest, FailedRenameKeepsTheTarget) {
    m_dir.WriteFile("b.txt", "keep");
    Error error = m_fs.RenameFile("missing.txt", "b.txt");
    EXPECT_EQ(error.Code(), 19003u);
    EXPECT_EQ(SubCode(error), static_cast<unsigned long>(ENOENT));
    EXPECT_EQ(m_fs.GetLastError().Code(), 19003u);
    EXPECT_EQ(m_dir.ReadFile("b.txt"), "keep");
}

TEST_F(FileSystemTest, RenameToAnUpdateCopiesIntoAnExecutableFile) {
    m_dir.WriteFile("download.bin", std::string("\x7f"
                                                "ELF\0data",
                                                9));
    m_dir.WriteFile("agent.new", "stale contents that are longer");
    EXPECT_EQ(m_fs.RenameFile("download.bin", "agent.new").Code(), 0u);
    EXPECT_FALSE(m_dir.Exists("download.bin"));
    EXPECT_EQ(m_dir.ReadFile("agent.new"), std::string("\x7f"
                                                       "ELF\0data",
                                                       9));

    m_dir.WriteFile("empty.bin", "");
    EXPECT_EQ(m_fs.RenameFile("empty.bin", "fresh.new").Code(), 0u);
    EXPECT_EQ(Permissions(m_dir / "fresh.new"), 0755u);
    EXPECT_EQ(m_dir.ReadFile("fresh.new"), "");
}

TEST_F(FileSystemTest, RenameToAnUpdateFromAMissingSourceLeavesTheTarget) {
    m_dir.WriteFile("agent.new", "waiting");
    EXPECT_EQ(m_fs.RenameFile("missing.bin", "agent.new").Code(), 19003u);
    EXPECT_EQ(m_fs.GetLastError().Code(), 19003u);
    EXPECT_EQ(m_dir.ReadFile("agent.new"), "waiting");
}

TEST_F(FileSystemTest, NoFollowRefusesASymbolicLinkAsTheName) {
    TempDir outside;
    outside.WriteFile("target", "kept");
    std::filesystem::create_symlink(outside / "target", m_dir / "link");
    std::unique_ptr<IFileWritable> file(
        m_fs.OpenForWrite("link", FILE_MODE_APPEND | FILE_MODE_NO_FOLLOW));
    EXPECT_FALSE(file);
    ASSERT_TRUE(m_fs.GetLastError().Sub());
    EXPECT_EQ(m_fs.GetLastError().Sub()->Code(), static_cast<unsigned long>(ELOOP));
    EXPECT_EQ(outside.ReadFile("target"), "kept");
    // Without the bit a link is followed, and a plain file opens either way.
    EXPECT_TRUE(std::unique_ptr<IFileReadable>(m_fs.OpenForRead("link")));
    m_dir.WriteFile("plain", "");
    EXPECT_TRUE(std::unique_ptr<IFileWritable>(
        m_fs.OpenForWrite("plain", FILE_MODE_APPEND | FILE_MODE_NO_FOLLOW)));
}

TEST_F(FileSystemTest, OverlongPathsFailInsteadOfBeingCut) {
    std::string name(300, 'n');
    EXPECT_EQ(m_fs.OpenForWrite(name.c_str(), 0x04), nullptr);
    EXPECT_EQ(m_fs.GetLastError().Code(), 19001u);
    EXPECT_EQ(SubCode(m_fs.GetLastError()), static_cast<unsigned long>(ENAMETOOLONG));
    EXPECT_EQ(m_fs.EraseFile(name.c_str()).Code(), 19002u);
    EXPECT_EQ(m_fs.RenameFile(name.c_str(), "b").Code(), 19003u);
    EXPECT_EQ(m_fs.GetFileLength(name.c_str()), 0u);

    // The longest name that fits still works.
    std::string longest(kMaxPathLength - m_dir.Path().size() - 1, 'n');
    std::unique_ptr<IFileWritable> file(m_fs.OpenForWrite(longest.c_str(), 0x04));
    EXPECT_NE(file, nullptr);
}

TEST_F(FileSystemTest, FileLengthAndFreeSpace) {
    m_dir.WriteFile("f.bin", "12345");
    EXPECT_EQ(m_fs.GetFileLength("f.bin"), 5u);
    EXPECT_EQ(m_fs.GetFileLength("missing"), 0u);
    EXPECT_GT(m_fs.GetFreeSpaceInKbytes(), 0u);
    EXPECT_EQ(m_fs.FlushCacheToDisk().Code(), 0u);
}

TEST(FileSystemPathTest, MakeFullPathJoinsTheRoot) {
    char path[kMaxPathLength + 1];
    TLinFileSystem rooted("/tmp");
    EXPECT_STREQ(rooted.MakeFullPath(path, "a.txt"), "/tmp/a.txt");
    TLinFileSystem unrooted("Trace", "");  // executable unknown: no root
    EXPECT_EQ(unrooted.GetRoot(), "");
    EXPECT_STREQ(unrooted.MakeFullPath(path, "a.txt"), "a.txt");
}

TEST(LinFileSystemRootTest, RootsLieBesideTheExecutable) {
    TempDir dir;
    mkdir((dir / "bin").c_str(), 0755);
    std::string executable = dir / "bin/agent";

    TLinFileSystem beside("", executable);
    EXPECT_EQ(beside.GetRoot(), dir / "bin");
    EXPECT_FALSE(dir.Exists("bin/Trace"));

    TLinFileSystem trace("Trace", executable);
    EXPECT_EQ(trace.GetRoot(), dir / "bin/Trace");
    EXPECT_TRUE(dir.Exists("bin/Trace"));

    TLinFileSystem absolute((dir / "abs").c_str(), executable);
    EXPECT_EQ(absolute.GetRoot(), dir / "abs");
    EXPECT_TRUE(dir.Exists("abs"));
}

TEST(LinFileSystemRootTest, DefaultRootIsTheRunningProgramsDirectory) {
    std::string executable = ExecutablePath();
    ASSERT_FALSE(executable.empty());
    TLinFileSystem fs("");
    EXPECT_EQ(fs.GetRoot(), executable.substr(0, executable.rfind('/')));
}

}  // namespace
