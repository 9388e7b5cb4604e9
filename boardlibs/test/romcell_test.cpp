#include "internal.hpp"
#include "scratch_dir.hpp"

#include <numeric>

constexpr uint32_t imageSize = 16 * 1024;

using RomcellTest = ScratchDir;

int writeAt(const std::string& image, const Bytes& data, uint32_t offset)
{
    return romcell::writeEeprom(image.c_str(), data.data(), offset,
                                data.size());
}
int readAt(const std::string& file, Bytes& buffer, uint32_t offset)
{
    return romcell::readEeprom(file.c_str(), buffer.data(), offset,
                               buffer.size());
}

TEST_F(RomcellTest, WriteReadsBackAndFailuresChangeNothing)
{
    const std::string image = path("eeprom");
    Bytes original(imageSize);
    std::iota(original.begin(), original.end(), uint8_t{0});
    spit(image, std::string(original.begin(), original.end()));

    const Bytes data{0xde, 0xad, 0xbe, 0xef, 0x55};
    ASSERT_EQ(writeAt(image, data, 0x1234), 0);
    Bytes back(data.size());
    ASSERT_EQ(readAt(image, back, 0x1234), 0);
    EXPECT_EQ(back, data);
    // The last byte of the image is writable too.
    ASSERT_EQ(writeAt(image, {0xa5}, imageSize - 1), 0);
    Bytes expected = original;
    std::copy(data.begin(), data.end(), expected.begin() + 0x1234);
    expected.back() = 0xa5;
    EXPECT_EQ(slurp(image), expected);

    // Failures change nothing.
    for (uint32_t offset : {imageSize - 15, imageSize, 0xfffffff8U})
    {
        EXPECT_LT(writeAt(image, Bytes(16, 0xff), offset), 0) << offset;
        Bytes buffer(16, 0x3c);
        EXPECT_LT(readAt(image, buffer, offset), 0) << offset;
        EXPECT_EQ(buffer, Bytes(16, 0x3c));
    }
    Bytes buffer(8, 0x3c);
    EXPECT_EQ(readAt(path("none"), buffer, 0), -ENOENT);
    EXPECT_LT(readAt(dir, buffer, 0), 0);
    EXPECT_EQ(buffer, Bytes(8, 0x3c));
    // Length 0 is a no-op wherever it points.
    EXPECT_EQ(romcell::writeEeprom(image.c_str(), nullptr, imageSize + 9, 0),
              0);
    EXPECT_EQ(slurp(image), expected);
}
