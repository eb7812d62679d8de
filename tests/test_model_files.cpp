// The OBJ reader's file access on its own: which status each kind of name gets (the reader turns
// "not opened" and the rest into different report lines), identity through links, and where a
// name lies against a model's folder. The reader's own tests cover the lines it reports.
#include "platform/model_files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(ModelFiles, StatusesIdentityAndPlaces)
{
    char pattern[] = "/tmp/krv_model_files_XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern, m = dir + "/m";
    std::filesystem::create_directory(m);
    std::ofstream(m + "/a.obj") << "v 0 0 0\r\n";
    std::ofstream(dir + "/outside.obj") << "x";
    ASSERT_EQ(mkfifo((m + "/fifo").c_str(), 0600), 0);
    ASSERT_EQ(symlink("a.obj", (m + "/link").c_str()), 0);
    ASSERT_EQ(symlink("../outside.obj", (m + "/out").c_str()), 0);

    const struct {
        std::string name;
        bool follow;
        size_t limit;
        krvplat::ReadFileStatus status;
    } kCases[] = {
        {"a.obj", true, 100, krvplat::kReadFileOk},
        {"a.obj", true, 8, krvplat::kReadFileTooLarge},
        {"a.obj", true, 9, krvplat::kReadFileOk},
        {"link", true, 100, krvplat::kReadFileOk},
        {"link", false, 100, krvplat::kReadFileNotOpened},
        {"fifo", true, 100, krvplat::kReadFileNotOpened},
        {"", true, 100, krvplat::kReadFileNotOpened},
        {"none", true, 100, krvplat::kReadFileNotOpened},
    };
    krvplat::FileIdentity direct;
    ASSERT_TRUE(krvplat::RegularFileIdentity(m + "/a.obj", direct));
    for (const auto& c : kCases) {
        char* buffer = nullptr;
        size_t length = 7;
        krvplat::FileIdentity identity;
        EXPECT_EQ(
            krvplat::ReadWholeFile(m + "/" + c.name, c.follow, c.limit, buffer, length, identity),
            c.status)
            << c.name << " " << c.follow << " " << c.limit;
        if (c.status != krvplat::kReadFileOk) {
            EXPECT_TRUE(buffer == nullptr && length == 7) << c.name;
            continue;
        }
        EXPECT_EQ(std::string(buffer, length + 1), std::string("v 0 0 0\r\n", 10));
        EXPECT_TRUE(identity.device == direct.device && identity.inode == direct.inode) << c.name;
        delete[] buffer;
    }
    krvplat::FileIdentity none;
    EXPECT_FALSE(krvplat::RegularFileIdentity(m + "/fifo", none));
    EXPECT_FALSE(krvplat::RegularFileIdentity(m, none));

    using Folder = krvplat::ContainedFolder;
    const Folder folder(m + "/");
    std::string real;
    EXPECT_EQ(folder.Locate(m + "/link", real), Folder::kInside);
    EXPECT_EQ(real.substr(real.size() - 8), "/m/a.obj");
    EXPECT_EQ(folder.Locate(m + "/out", real), Folder::kOutside);
    EXPECT_EQ(folder.Locate(m + "/../m/a.obj", real), Folder::kInside);
    EXPECT_EQ(folder.Locate(m + "/none", real), Folder::kMissing);
    EXPECT_EQ(folder.Locate(m + "/a.obj/x", real), Folder::kMissing);
    EXPECT_EQ(folder.Locate(m, real), Folder::kOutside);  // the folder itself is not in it
    EXPECT_EQ(Folder(dir + "/gone").Locate(m + "/a.obj", real), Folder::kOutside);
    std::filesystem::remove_all(dir);
}

TEST(ModelFiles, ContainedNames)
{
    for (const char* name : {"a.png", "sub/a.png", "sub\\a.png", "..a", "a..", "x/...", ".", ""})
        EXPECT_TRUE(krvplat::IsContainedName(name)) << name;
    for (const char* name : {"/etc/x", "\\x", "c:x", "Z:\\x", "..", "../a", "a/..", "a\\..\\b"})
        EXPECT_FALSE(krvplat::IsContainedName(name)) << name;
}

}  // namespace
