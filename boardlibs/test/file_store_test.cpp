#include "file_store.hpp"
#include "scratch_dir.hpp"

#include <sys/stat.h>

namespace fs = std::filesystem;
using FileStoreTest = ScratchDir;

int replace(const std::string& file, const std::string& s,
            board_io::ReplaceOptions options = {})
{
    return board_io::replaceFile(
        file, {reinterpret_cast<const uint8_t*>(s.data()), s.size()}, options);
}

unsigned mode(const std::string& file)
{
    return static_cast<unsigned>(fs::status(file).permissions());
}

TEST_F(FileStoreTest, ReplaceCreatesDirsKeepsModeAndLeavesNoTemporary)
{
    std::string file = path("a/b/c/store");
    ASSERT_EQ(replace(file, "one"), 0);
    EXPECT_EQ(slurp(file), Bytes({'o', 'n', 'e'}));
    EXPECT_EQ(mode(path("a/b")), 0755U);
    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    ASSERT_EQ(replace(file, "two!"), 0);
    EXPECT_EQ(mode(file), 0600U);
    EXPECT_EQ(entries("a/b/c"), 1);
    // A new file is 0644 whatever the umask.
    mode_t old = ::umask(077);
    ASSERT_EQ(replace(path("fresh"), "1"), 0);
    ::umask(old);
    EXPECT_EQ(mode(path("fresh")), 0644U);
    // Told not to create directories, a missing one is an error.
    EXPECT_EQ(replace(path("missing/store"), "x", {.createParents = false}),
              -ENOENT);

    // rename(2) cannot replace a non-empty directory.
    ASSERT_EQ(::mkdir(path("store").c_str(), 0755), 0);
    spit(path("store/inside"), "x");
    EXPECT_LT(replace(path("store"), "data"), 0);
    EXPECT_EQ(entries(), 3); // a, fresh, store
    spit(path("plain"), ""); // a file where a directory is needed
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
    EXPECT_EQ(mode(path("real/store")), 0640U);
    EXPECT_EQ(entries(), 2);
    EXPECT_EQ(entries("real"), 1);
}
