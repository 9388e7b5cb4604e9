#include "internal.hpp"
#include "scratch_dir.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>

namespace
{

class KeyshelfTest : public ScratchDir
{
  protected:
    void SetUp() override
    {
        ScratchDir::SetUp();
        store = path("keyshelf/settings.ini");
    }

    long get(const char* section, const char* key, long def = -77)
    {
        return keyshelf::getLong(store.c_str(), section, key, def);
    }
    int set(const char* section, const char* key, long value)
    {
        return keyshelf::setLong(store.c_str(), section, key, value);
    }

    std::string store;
};

TEST_F(KeyshelfTest, SectionsAndKeysAreIndependent)
{
    EXPECT_EQ(get("Net", "mode"), -77);

    ASSERT_EQ(set("Net", "mode", 3), 0);
    ASSERT_EQ(set("Fan", "mode", 9), 0);
    ASSERT_EQ(set("Net", "speed", 100), 0);
    ASSERT_EQ(set("Net", "mode", 4), 0);

    EXPECT_EQ(get("Net", "mode"), 4);
    EXPECT_EQ(get("Net", "speed"), 100);
    EXPECT_EQ(get("Fan", "mode"), 9);
    EXPECT_EQ(get("Fan", "speed"), -77);
    EXPECT_EQ(get("Power", "mode"), -77);

    // Keys stay grouped under their section in the file.
    std::vector<uint8_t> bytes = slurp(store);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
              "[Net]\nmode=4\nspeed=100\n\n[Fan]\nmode=9\n");
    EXPECT_TRUE(std::filesystem::exists(store + ".lock"));
}

TEST_F(KeyshelfTest, Limits32Bit)
{
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
    spit(store, "; settings\n"
                "top=1\n"
                "[ A ]\n"
                "  x = 12 \r\n"
                "big=2147483648\n"
                "small=-2147483649\n"
                "word=abc\n"
                "empty=\n"
                "plus=+5\n"
                "# note\n"
                "[B]\n"
                "x=13\n");
    EXPECT_EQ(get("A", "x"), 12);
    EXPECT_EQ(get("A", "big"), -77);
    EXPECT_EQ(get("A", "small"), -77);
    EXPECT_EQ(get("A", "word"), -77);
    EXPECT_EQ(get("A", "empty"), -77);
    EXPECT_EQ(get("A", "plus"), 5);
    EXPECT_EQ(get("A", "top"), -77);
    EXPECT_EQ(get("B", "x"), 13);

    ASSERT_EQ(set("A", "y", 7), 0);
    ASSERT_EQ(set("A", "word", 8), 0);
    std::vector<uint8_t> bytes = slurp(store);
    std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find("; settings\n"), std::string::npos);
    EXPECT_NE(text.find("plus=+5\ny=7\n# note\n[B]\n"), std::string::npos);
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
    EXPECT_FALSE(std::filesystem::exists(store));

    std::string blocked = path("file");
    spit(blocked, "");
    EXPECT_LT(
        keyshelf::setLong((blocked + "/settings.ini").c_str(), "S", "k", 1), 0);
}

// Several processes updating their own keys at once: none may lose another's
// update.  Each iteration adds a key never written again, so any lost update
// shows.
TEST_F(KeyshelfTest, ConcurrentWritersLoseNothing)
{
    constexpr int writers = 3;
    constexpr int rounds = 200;
    std::vector<pid_t> children;
    for (int w = 0; w < writers; ++w)
    {
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0)
        {
            std::string own = "Proc" + std::to_string(w);
            int failures = 0;
            for (int i = 0; i < rounds; ++i)
            {
                std::string key =
                    "p" + std::to_string(w) + "k" + std::to_string(i);
                failures += set("Shared", key.c_str(), i * 10 + w) != 0;
                failures += set(own.c_str(), "count", i) != 0;
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children)
    {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    int lost = 0;
    for (int w = 0; w < writers; ++w)
    {
        std::string own = "Proc" + std::to_string(w);
        EXPECT_EQ(get(own.c_str(), "count"), rounds - 1) << own;
        for (int i = 0; i < rounds; ++i)
        {
            std::string key = "p" + std::to_string(w) + "k" + std::to_string(i);
            lost += get("Shared", key.c_str()) != i * 10 + w;
        }
    }
    EXPECT_EQ(lost, 0);
}

} // namespace
