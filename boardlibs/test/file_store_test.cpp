#include "file_store.hpp"
#include "scratch_dir.hpp"

#include <sys/stat.h>

#include <cerrno>

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

} // namespace
