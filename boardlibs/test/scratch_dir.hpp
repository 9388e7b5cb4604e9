// A private directory under /tmp for one test, removed afterwards, and
// whole-file helpers.
#pragma once

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using Bytes = std::vector<uint8_t>;

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
        std::filesystem::remove_all(dir);
    }

    std::string path(const std::string& name) const
    {
        return dir + "/" + name;
    }

    static Bytes slurp(const std::string& file)
    {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }

    static void spit(const std::string& file, const std::string& text)
    {
        std::ofstream(file, std::ios::binary) << text;
    }

    /** Names in the directory but `keep`, e.g. leftover temporaries. */
    std::vector<std::string> strays(const std::vector<std::string>& keep) const
    {
        std::vector<std::string> found;
        for (const auto& e : std::filesystem::directory_iterator(dir))
        {
            if (std::ranges::find(keep, e.path().filename().string()) ==
                keep.end())
            {
                found.push_back(e.path().filename());
            }
        }
        return found;
    }

    std::string dir;
};
