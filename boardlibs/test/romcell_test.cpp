#include "internal.hpp"
#include "scratch_dir.hpp"

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
        std::iota(original.begin(), original.end(), uint8_t{0});
        spit(image, std::string(original.begin(), original.end()));
    }

    static int write(const std::string& file, const Bytes& data,
                     uint32_t offset)
    {
        return romcell::writeEeprom(file.c_str(), data.data(), offset,
                                    data.size());
    }
    static int read(const std::string& file, Bytes& buffer, uint32_t offset)
    {
        return romcell::readEeprom(file.c_str(), buffer.data(), offset,
                                   buffer.size());
    }

    std::string image;
    Bytes original = Bytes(imageSize);
};

TEST_F(RomcellTest, WriteReadsBackAndKeepsOtherBytes)
{
    const Bytes data{0xde, 0xad, 0xbe, 0xef, 0x55};
    ASSERT_EQ(write(image, data, 0x1234), 0);
    Bytes back(data.size());
    ASSERT_EQ(read(image, back, 0x1234), 0);
    EXPECT_EQ(back, data);
    Bytes expected = original;
    std::copy(data.begin(), data.end(), expected.begin() + 0x1234);
    EXPECT_EQ(slurp(image), expected);
    // The last byte of the image is writable, through a symlink too.
    ASSERT_EQ(::symlink(image.c_str(), path("link").c_str()), 0);
    ASSERT_EQ(write(path("link"), {0xa5}, imageSize - 1), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(path("link")));
    EXPECT_EQ(slurp(image).back(), 0xa5);
    EXPECT_TRUE(strays({"eeprom", "link"}).empty());
}

TEST_F(RomcellTest, FailuresChangeNothing)
{
    for (uint32_t offset : {imageSize - 15, imageSize, 0xfffffff8U})
    {
        EXPECT_LT(write(image, Bytes(16, 0xff), offset), 0) << offset;
        Bytes buffer(16, 0x3c);
        EXPECT_LT(read(image, buffer, offset), 0) << offset;
        EXPECT_EQ(buffer, Bytes(16, 0x3c));
    }
    Bytes buffer(8, 0x3c);
    EXPECT_EQ(read(path("none"), buffer, 0), -ENOENT);
    EXPECT_LT(read(dir, buffer, 0), 0);
    EXPECT_EQ(buffer, Bytes(8, 0x3c));
    // Length 0 is a no-op wherever it points.
    EXPECT_EQ(romcell::writeEeprom(image.c_str(), nullptr, imageSize + 9, 0),
              0);
    EXPECT_EQ(slurp(image), original);
    // Nor is a missing directory created or a directory replaced.
    EXPECT_LT(write(path("gone/eeprom"), {1}, 0), 0);
    ASSERT_EQ(::mkdir(path("dir").c_str(), 0755), 0);
    EXPECT_LT(write(path("dir"), {1}, 0), 0);
    EXPECT_TRUE(strays({"eeprom", "dir"}).empty());
}

} // namespace
