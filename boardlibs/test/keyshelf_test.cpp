#include "internal.hpp"
#include "scratch_dir.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <climits>

namespace
{

class KeyshelfTest : public ScratchDir
{
  protected:
    long get(const char* section, const char* key, long def = -77)
    {
        return keyshelf::getLong(store().c_str(), section, key, def);
    }
    int set(const char* section, const char* key, long value)
    {
        return keyshelf::setLong(store().c_str(), section, key, value);
    }
    std::string text()
    {
        Bytes bytes = slurp(store());
        return {bytes.begin(), bytes.end()};
    }
    std::string store()
    {
        return path("keyshelf/settings.ini");
    }
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
    EXPECT_TRUE(std::filesystem::exists(store() + ".lock"));

    for (long v : {0L, -1L, -123456L, long{INT32_MAX}, long{INT32_MIN}})
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
    spit(store(), "; settings\ntop=1\n[ A ]\n  x = 12 \r\nbig=2147483648\n"
                  "small=-2147483649\nword=abc\nempty=\nplus=+5\n# note\n"
                  "[B]\nx=13\n");
    EXPECT_EQ(std::vector({get("A", "x"), get("A", "big"), get("A", "small"),
                           get("A", "word"), get("A", "empty"),
                           get("A", "plus"), get("A", "top"), get("B", "x")}),
              std::vector({12L, -77L, -77L, -77L, -77L, 5L, -77L, 13L}));
    ASSERT_EQ(set("A", "y", 7), 0);
    ASSERT_EQ(set("A", "word", 8), 0);
    EXPECT_NE(text().find("; settings\n"), std::string::npos);
    EXPECT_NE(text().find("plus=+5\ny=7\n# note\n[B]\n"), std::string::npos);
    EXPECT_EQ(get("A", "word"), 8);
    EXPECT_EQ(get("B", "x"), 13);
}

TEST_F(KeyshelfTest, UnstorableNamesAreRejected)
{
    for (const char* key : {"", "a=b", "a\nb", " k", "[k", ";k"})
    {
        EXPECT_EQ(set("S", key, 1), -EINVAL) << key;
    }
    for (const char* section : {"", "a]b", "x\ny", "S "})
    {
        EXPECT_EQ(set(section, "k", 1), -EINVAL) << section;
    }
    EXPECT_EQ(set(nullptr, "k", 1), -EINVAL);
    EXPECT_EQ(get(nullptr, "k", 5), 5);
    EXPECT_FALSE(std::filesystem::exists(store()));
    spit(path("file"), "");
    EXPECT_LT(keyshelf::setLong(path("file/settings.ini").c_str(), "S", "k", 1),
              0);
}

// Processes adding keys at once: none may lose another's update.  Each
// iteration adds a key never written again, so any lost update shows.
TEST_F(KeyshelfTest, ConcurrentWritersLoseNothing)
{
    constexpr int writers = 3;
    constexpr int rounds = 200;
    auto key = [](int w, int i) {
        return "p" + std::to_string(w) + "k" + std::to_string(i);
    };
    for (int w = 0; w < writers; ++w)
    {
        if (::fork() == 0)
        {
            int failures = 0;
            for (int i = 0; i < rounds; ++i)
            {
                failures += set("Shared", key(w, i).c_str(), i * 10 + w) != 0;
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
    }
    for (int status = 0; ::wait(&status) > 0;)
    {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    // A writer that never ran leaves its keys missing too.
    int lost = 0;
    for (int n = 0; n < writers * rounds; ++n)
    {
        int w = n % writers, i = n / writers;
        lost += get("Shared", key(w, i).c_str()) != i * 10 + w;
    }
    EXPECT_EQ(lost, 0);
}

} // namespace
