#include "file_store.hpp"
#include "scratch_dir.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

namespace
{

using FileStoreTest = ScratchDir;

std::span<const uint8_t> bytesOf(const std::string& s)
{
    return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

TEST_F(FileStoreTest, ReplaceCreatesDirsAndKeepsMode)
{
    std::string file = path("a/b/c/store");
    ASSERT_EQ(board_io::replaceFile(file, bytesOf("one")), 0);
    EXPECT_EQ(slurp(file), std::vector<uint8_t>({'o', 'n', 'e'}));
    struct stat st;
    ASSERT_EQ(::stat(path("a/b").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755U);

    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    ASSERT_EQ(board_io::replaceFile(file, bytesOf("two!")), 0);
    EXPECT_EQ(slurp(file).size(), 4U);
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600U);
    EXPECT_TRUE(strays({"a"}).empty());
}

TEST_F(FileStoreTest, FailedReplaceLeavesNoTemporary)
{
    // rename(2) cannot replace a non-empty directory.
    std::string target = path("store");
    ASSERT_EQ(::mkdir(target.c_str(), 0755), 0);
    spit(target + "/inside", "x");
    EXPECT_LT(board_io::replaceFile(target, bytesOf("data")), 0);
    EXPECT_TRUE(strays({"store"}).empty());

    // A regular file where a directory is needed.
    spit(path("plain"), "");
    EXPECT_EQ(board_io::replaceFile(path("plain/store"), bytesOf("x")),
              -ENOTDIR);
}

TEST_F(FileStoreTest, ReplaceThroughASymlinkKeepsTheLink)
{
    // The temporary goes beside the file the link names, not beside the
    // link: the rename must stay within one directory.
    ASSERT_EQ(::mkdir(path("real").c_str(), 0755), 0);
    spit(path("real/store"), "old");
    ASSERT_EQ(::chmod(path("real/store").c_str(), 0640), 0);
    ASSERT_EQ(::symlink("real/store", path("link").c_str()), 0);

    ASSERT_EQ(board_io::replaceFile(path("link"), bytesOf("new")), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(path("link")));
    EXPECT_EQ(slurp(path("real/store")), std::vector<uint8_t>({'n', 'e', 'w'}));
    struct stat st;
    ASSERT_EQ(::stat(path("real/store").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640U);
    EXPECT_TRUE(strays({"real", "link"}).empty());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(path("real")),
                            std::filesystem::directory_iterator()),
              1);

    // A dangling link is replaced by the file itself.
    ASSERT_EQ(::symlink("nowhere/store", path("dangling").c_str()), 0);
    ASSERT_EQ(board_io::replaceFile(path("dangling"), bytesOf("x")), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(path("dangling")));
    EXPECT_EQ(slurp(path("dangling")), std::vector<uint8_t>({'x'}));
}

TEST_F(FileStoreTest, ReplaceKeepsTheOwnerWhereAllowed)
{
    if (::geteuid() != 0)
    {
        GTEST_SKIP() << "changing a file's owner needs root";
    }
    std::string file = path("store");
    spit(file, "old");
    ASSERT_EQ(::chown(file.c_str(), 4321, 4322), 0);
    ASSERT_EQ(board_io::replaceFile(file, bytesOf("new")), 0);
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 4321U);
    EXPECT_EQ(st.st_gid, 4322U);

    // A new file belongs to the caller, mode 0644 whatever the umask.
    mode_t old = ::umask(077);
    ASSERT_EQ(board_io::replaceFile(path("fresh"), bytesOf("1")), 0);
    ::umask(old);
    ASSERT_EQ(::stat(path("fresh").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, ::geteuid());
    EXPECT_EQ(st.st_mode & 07777, 0644U);
}

TEST_F(FileStoreTest, ReplaceCanBeToldNotToCreateDirectories)
{
    std::string file = path("missing/store");
    EXPECT_EQ(
        board_io::replaceFile(file, bytesOf("x"), {.createParents = false}),
        -ENOENT);
    EXPECT_TRUE(strays({}).empty());

    spit(path("store"), "old");
    EXPECT_EQ(board_io::replaceFile(path("store"), bytesOf(""),
                                    {.createParents = false}),
              0);
    EXPECT_TRUE(slurp(path("store")).empty());
    EXPECT_TRUE(strays({"store"}).empty());
}

} // namespace
