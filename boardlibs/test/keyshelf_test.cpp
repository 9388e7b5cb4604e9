#include "internal.hpp"
#include "scratch_dir.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <climits>

class KeyshelfTest : public ScratchDir
{
  protected:
    long get(const char* section, const char* key, long def = -77)
    {
        return keyshelf::getLong(store.c_str(), section, key, def);
    }
    int set(const char* section, const char* key, long value)
    {
        return keyshelf::setLong(store.c_str(), section, key, value);
    }
    std::string text()
    {
        Bytes bytes = slurp(store);
        return {bytes.begin(), bytes.end()};
    }

    std::string store = path("keyshelf/settings.ini");
};

TEST_F(KeyshelfTest, SectionsAndKeysAreIndependentAndValues32Bit)
{
    EXPECT_EQ(get("Net", "mode"), -77);
    ASSERT_EQ(set("Net", "mode", 3), 0);
    ASSERT_EQ(set("Fan", "mode", 9), 0);
    ASSERT_EQ(set("Net", "speed", 100), 0);
    ASSERT_EQ(set("Net", "mode", 4), 0);
    EXPECT_EQ(std::vector({get("Net", "mode"), get("Net", "speed"),
                           get("Fan", "mode"), get("Fan", "speed")}),
              std::vector({4L, 100L, 9L, -77L}));
    // Keys stay grouped under their section in the file.
    EXPECT_EQ(text(), "[Net]\nmode=4\nspeed=100\n\n[Fan]\nmode=9\n");
    EXPECT_TRUE(std::filesystem::exists(store + ".lock"));

    for (long v : {0L, -1L, long{INT32_MAX}, long{INT32_MIN}})
    {
        ASSERT_EQ(set("S", "k", v), 0);
        EXPECT_EQ(get("S", "k"), v);
    }
    if constexpr (sizeof(long) > 4)
    {
        EXPECT_EQ(set("S", "k", long{INT32_MAX} + 1), -ERANGE);
        EXPECT_EQ(get("S", "k"), INT32_MIN);
    }
}

TEST_F(KeyshelfTest, HandWrittenFileIsReadAndPreserved)
{
    std::filesystem::create_directories(path("keyshelf"));
    const std::string head = "; settings\n[ A ]\n  x = 12 \r\nbig=2147483648\n";
    spit(store, head + "word=abc\n# note\n[B]\nx=13\n");
    EXPECT_EQ(std::vector({get("A", "x"), get("A", "big"), get("A", "word"),
                           get("B", "x")}),
              std::vector({12L, -77L, -77L, 13L}));
    ASSERT_EQ(set("A", "y", 7), 0);
    ASSERT_EQ(set("A", "word", 8), 0);
    EXPECT_EQ(text(), head + "word=8\ny=7\n# note\n[B]\nx=13\n");
}

TEST_F(KeyshelfTest, UnstorableNamesAreRejected)
{
    // One name per rule: empty, breaking the line, leading or trailing
    // blanks, read as a section or a comment.
    const std::pair<const char*, const char*> refused[] = {
        {"S", ""}, {"S", "a=b"}, {"S", " k"}, {"S", "[k"},   {"S", ";k"},
        {"", "k"}, {"a]b", "k"}, {"S ", "k"}, {nullptr, "k"}};
    for (auto [section, key] : refused)
    {
        EXPECT_EQ(set(section, key, 1), -EINVAL)
            << (section ? section : "null") << "." << key;
    }
    EXPECT_EQ(get(nullptr, "k", 5), 5);
    EXPECT_FALSE(std::filesystem::exists(store));
    spit(path("file"), "");
    EXPECT_LT(keyshelf::setLong(path("file/settings.ini").c_str(), "S", "k", 1),
              0);
}

// Processes adding keys at once: none may lose another's update.  Key n is
// written once, by writer n % 3, so a lost update (or a writer that never
// ran) leaves a key missing.
TEST_F(KeyshelfTest, ConcurrentWritersLoseNothing)
{
    constexpr int keys = 600;
    for (int w = 0; w < 3; ++w)
    {
        if (::fork() == 0)
        {
            bool ok = true;
            for (int n = w; n < keys; n += 3)
            {
                ok = set("Shared", std::to_string(n).c_str(), n) == 0 && ok;
            }
            ::_exit(ok ? 0 : 1);
        }
    }
    int lost = 0;
    for (int status = 0; ::wait(&status) > 0;)
    {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int n = 0; n < keys; ++n)
    {
        lost += get("Shared", std::to_string(n).c_str()) != n;
    }
    EXPECT_EQ(lost, 0);
}
