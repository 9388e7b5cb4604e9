#include "internal.hpp"
#include "scratch_dir.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <numeric>

namespace
{

constexpr uint32_t imageSize = 16 * 1024;

class RomcellTest : public ScratchDir
{
  protected:
    void SetUp() override
    {
        ScratchDir::SetUp();
        image = path("eeprom");
        original.resize(imageSize);
        std::iota(original.begin(), original.end(), uint8_t{0});
        spit(image, std::string(original.begin(), original.end()));
    }

    std::string image;
    std::vector<uint8_t> original;
};

TEST_F(RomcellTest, WriteReadsBackAndKeepsOtherBytes)
{
    const std::vector<uint8_t> data{0xde, 0xad, 0xbe, 0xef, 0x55};
    ASSERT_EQ(
        romcell::writeEeprom(image.c_str(), data.data(), 0x1234, data.size()),
        0);

    std::vector<uint8_t> back(data.size());
    ASSERT_EQ(
        romcell::readEeprom(image.c_str(), back.data(), 0x1234, back.size()),
        0);
    EXPECT_EQ(back, data);

    std::vector<uint8_t> expected = original;
    std::copy(data.begin(), data.end(), expected.begin() + 0x1234);
    EXPECT_EQ(slurp(image), expected);
    EXPECT_TRUE(strays({"eeprom"}).empty());

    // The last byte of the image is writable.
    uint8_t last = 0xa5;
    ASSERT_EQ(romcell::writeEeprom(image.c_str(), &last, imageSize - 1, 1), 0);
    EXPECT_EQ(slurp(image).back(), 0xa5);
}

TEST_F(RomcellTest, ImageThroughSymlinkStaysLinked)
{
    std::string link = path("link");
    ASSERT_EQ(::symlink(image.c_str(), link.c_str()), 0);
    uint8_t byte = 0x77;
    ASSERT_EQ(romcell::writeEeprom(link.c_str(), &byte, 5, 1), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(slurp(image)[5], 0x77);
}

TEST_F(RomcellTest, FailuresChangeNothing)
{
    std::vector<uint8_t> data(16, 0xff);
    for (uint32_t offset : {imageSize - 15, imageSize, 0xfffffff8U})
    {
        EXPECT_LT(romcell::writeEeprom(image.c_str(), data.data(), offset,
                                       data.size()),
                  0)
            << offset;

        std::vector<uint8_t> buffer(16, 0x3c);
        EXPECT_LT(romcell::readEeprom(image.c_str(), buffer.data(), offset,
                                      buffer.size()),
                  0)
            << offset;
        EXPECT_EQ(buffer, std::vector<uint8_t>(16, 0x3c));
    }
    std::vector<uint8_t> buffer(8, 0x3c);
    std::string missing = path("none");
    EXPECT_EQ(romcell::readEeprom(missing.c_str(), buffer.data(), 0, 8),
              -ENOENT);
    EXPECT_LT(romcell::readEeprom(dir.c_str(), buffer.data(), 0, 8), 0);
    EXPECT_EQ(buffer, std::vector<uint8_t>(8, 0x3c));

    // Length 0 is a no-op wherever it points.
    EXPECT_EQ(romcell::writeEeprom(image.c_str(), nullptr, imageSize + 9, 0),
              0);
    EXPECT_EQ(slurp(image), original);
    EXPECT_TRUE(strays({"eeprom"}).empty());
}

TEST_F(RomcellTest, UnwritableTargetFails)
{
    uint8_t byte = 1;
    std::string underMissingDir = path("gone/eeprom");
    EXPECT_LT(romcell::writeEeprom(underMissingDir.c_str(), &byte, 0, 1), 0);
    EXPECT_FALSE(std::filesystem::exists(path("gone")));

    std::string asDir = path("dir");
    ASSERT_EQ(::mkdir(asDir.c_str(), 0755), 0);
    EXPECT_LT(romcell::writeEeprom(asDir.c_str(), &byte, 0, 1), 0);
    EXPECT_TRUE(strays({"eeprom", "dir"}).empty());
}

} // namespace
