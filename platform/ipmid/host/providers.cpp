#include "host.hpp"

#include <dlfcn.h>

#include <algorithm>
#include <filesystem>
#include <phosphor-logging/log.hpp>
#include <sstream>

namespace ipmi::host
{
namespace
{

// "libx.so", "libx.so.0" and "libx.so.0.1" qualify; "libx.sox" does not.
bool hasSoExtension(const std::string& name)
{
    std::istringstream parts(name);
    std::string part;
    bool first = true;
    while (std::getline(parts, part, '.'))
    {
        if (!first && part == "so")
        {
            return true;
        }
        first = false;
    }
    return false;
}

} // namespace

std::vector<std::string> providerFiles(const std::string& dir)
{
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(dir, ec))
    {
        if (entry.is_symlink(ec) || !entry.is_regular_file(ec))
        {
            continue;
        }
        if (hasSoExtension(entry.path().filename().string()))
        {
            files.push_back(entry.path().string());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<void*> loadProviders(const std::string& dir)
{
    using namespace phosphor::logging;
    std::vector<void*> handles;
    for (const auto& path : providerFiles(dir))
    {
        void* handle = dlopen(path.c_str(), RTLD_NOW);
        if (handle == nullptr)
        {
            const char* error = dlerror();
            log<level::ERR>("ERROR opening IPMI provider",
                            entry("PROVIDER=%s", path.c_str()),
                            entry("ERROR=%s", error ? error : "unknown"));
            continue;
        }
        handles.push_back(handle);
    }
    return handles;
}

} // namespace ipmi::host
