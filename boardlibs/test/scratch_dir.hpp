// A private directory under /tmp for one test, removed afterwards, and
// whole-file helpers.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using Bytes = std::vector<uint8_t>;

class ScratchDir : public ::testing::Test
{
  protected:
    ~ScratchDir() override
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

    /** How many names directory `sub` holds: a leftover temporary shows. */
    long entries(const std::string& sub = "") const
    {
        return std::distance(std::filesystem::directory_iterator(path(sub)),
                             {});
    }

    std::string dir = [] {
        char pattern[] = "/tmp/boardlibs-test-XXXXXX";
        if (::mkdtemp(pattern) == nullptr)
        {
            throw std::runtime_error("no scratch directory");
        }
        return std::string(pattern);
    }();
};
