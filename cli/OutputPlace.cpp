#include "Platform.h"

#include "Utf8Path.h"

#include <atomic>
#include <filesystem>

std::string TemporaryName(const std::string& path, const std::string& tempFolder, const std::string& process,
                          bool& makeFolders)
{
    static std::atomic<unsigned> s_nNext{0};
    std::error_code error;
    makeFolders = !tempFolder.empty() && !std::filesystem::is_directory(PathOf(path).parent_path(), error);
    if (!makeFolders)
        return path + ".tmp-" + process;
    return Utf8(PathOf(tempFolder) / (".tobrel-" + process + "-" + std::to_string(s_nNext++) + ".tmp"));
}

bool MakeFolders(const std::string& path, bool makeFolders)
{
    std::error_code error;
    return !makeFolders || std::filesystem::create_directories(PathOf(path).parent_path(), error) || !error;
}
