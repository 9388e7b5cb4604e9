#include "file_store.hpp"
#include "scratch_dir.hpp"

#include <unistd.h>

namespace
{

namespace fs = std::filesystem;
using FileStoreTest = ScratchDir;

int replace(const std::string& file, const std::string& s,
            board_io::ReplaceOptions options = {})
{
    return board_io::replaceFile(
        file, {reinterpret_cast<const uint8_t*>(s.data()), s.size()}, options);
}

/** The file's stat(2), all zero when it cannot be read. */
struct stat statOf(const std::string& file)
{
    struct stat st = {};
    return ::stat(file.c_str(), &st) == 0 ? st : decltype(st){};
}

TEST_F(FileStoreTest, ReplaceCreatesDirsKeepsModeAndLeavesNoTemporary)
{
    std::string file = path("a/b/c/store");
    ASSERT_EQ(replace(file, "one"), 0);
    EXPECT_EQ(slurp(file), Bytes({'o', 'n', 'e'}));
    EXPECT_EQ(statOf(path("a/b")).st_mode & 0777, 0755U);
    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    ASSERT_EQ(replace(file, "two!"), 0);
    EXPECT_EQ(statOf(file).st_mode & 0777, 0600U);
    // Told not to create directories, a missing one is an error.
    EXPECT_EQ(replace(path("missing/store"), "x", {.createParents = false}),
              -ENOENT);
    EXPECT_TRUE(strays({"a"}).empty());

    // rename(2) cannot replace a non-empty directory.
    ASSERT_EQ(::mkdir(path("store").c_str(), 0755), 0);
    spit(path("store/inside"), "x");
    EXPECT_LT(replace(path("store"), "data"), 0);
    EXPECT_TRUE(strays({"a", "store"}).empty());
    // A regular file where a directory is needed.
    spit(path("plain"), "");
    EXPECT_EQ(replace(path("plain/store"), "x"), -ENOTDIR);
}

TEST_F(FileStoreTest, ReplaceThroughASymlinkKeepsTheLink)
{
    // The temporary goes beside the file the link names, not beside the
    // link: the rename must stay within one directory.
    ASSERT_EQ(::mkdir(path("real").c_str(), 0755), 0);
    spit(path("real/store"), "old");
    ASSERT_EQ(::chmod(path("real/store").c_str(), 0640), 0);
    ASSERT_EQ(::symlink("real/store", path("link").c_str()), 0);
    ASSERT_EQ(replace(path("link"), "new"), 0);
    EXPECT_TRUE(fs::is_symlink(path("link")));
    EXPECT_EQ(slurp(path("real/store")), Bytes({'n', 'e', 'w'}));
    EXPECT_EQ(statOf(path("real/store")).st_mode & 07777, 0640U);
    EXPECT_TRUE(strays({"real", "link"}).empty());
    EXPECT_EQ(std::distance(fs::directory_iterator(path("real")), {}), 1);
}

TEST_F(FileStoreTest, ReplaceKeepsTheOwnerWhereAllowed)
{
    if (::geteuid() != 0)
    {
        GTEST_SKIP() << "changing a file's owner needs root";
    }
    spit(path("store"), "old");
    ASSERT_EQ(::chown(path("store").c_str(), 4321, 4322), 0);
    ASSERT_EQ(replace(path("store"), "new"), 0);
    EXPECT_EQ(statOf(path("store")).st_uid, 4321U);
    EXPECT_EQ(statOf(path("store")).st_gid, 4322U);
    // A new file belongs to the caller, mode 0644 whatever the umask.
    mode_t old = ::umask(077);
    ASSERT_EQ(replace(path("fresh"), "1"), 0);
    ::umask(old);
    EXPECT_EQ(statOf(path("fresh")).st_uid, ::geteuid());
    EXPECT_EQ(statOf(path("fresh")).st_mode & 07777, 0644U);
}

} // namespace
