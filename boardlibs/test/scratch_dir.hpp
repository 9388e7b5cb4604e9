// A private directory under /tmp for one test, removed afterwards.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

class ScratchDir : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/boardlibs-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
    }

    void TearDown() override
    {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }

    std::string path(const std::string& name) const
    {
        return dir + "/" + name;
    }

    static std::vector<uint8_t> slurp(const std::string& file)
    {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    static void spit(const std::string& file, const std::string& text)
    {
        std::ofstream(file, std::ios::binary) << text;
    }

    // Names in the directory other than `keep`, e.g. leftover temporaries.
    std::vector<std::string> strays(const std::vector<std::string>& keep) const
    {
        std::vector<std::string> found;
        for (const auto& e : std::filesystem::directory_iterator(dir))
        {
            std::string name = e.path().filename();
            if (std::find(keep.begin(), keep.end(), name) == keep.end())
            {
                found.push_back(name);
            }
        }
        return found;
    }

    std::string dir;
};
