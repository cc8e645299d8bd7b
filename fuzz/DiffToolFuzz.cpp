// Drives the whole command-line comparer on two files made from one input:
// the input, and the input with its second half's bytes turned over, so that
// both files share their headers and differ in their pixels. Every outcome
// must be an exit status of 0, 1 or 2, never a crash or a read outside a file.

#include "DiffTool.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

bool WriteFile(const std::string& path, const uint8_t* data, size_t size)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        return false;
    const bool ok = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && ok;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The comparer's counts and lists are of no interest here.
    return std::freopen("/dev/null", "w", stdout) ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string s_base = "/tmp/tobrel-fuzz-diff-" + std::to_string(getpid());
    static const std::string s_first = s_base + "-a.bmp", s_second = s_base + "-b.bmp", s_out = s_base + "-d.bmp";
    std::vector<uint8_t> other(data, data + size);
    for (size_t i = size / 2; i < size; ++i)
        other[i] = uint8_t(~other[i]);
    if (!WriteFile(s_first, data, size) || !WriteFile(s_second, other.data(), other.size()))
        return 0;

    // The count alone takes paths of its own (bands of rows, PNG rows in
    // step); the screenshot rule reads neighbours across rows, and regions
    // and masks follow it.
    const std::vector<std::vector<std::string>> runs = {
        {"--tolerance", "3", "--list"},
        {"--tolerance", "3", "--diff-image", s_out},
        {"--tolerance=3"},
        {"--threshold", "0.05", "--antialiasing", "--regions", "--ignore", "1:1-2:3", "--diff-mask", "--diff-image", s_out},
    };
    for (const auto& options : runs) {
        std::vector<std::string> args = {"tobrel-diff"};
        args.insert(args.end(), options.begin(), options.end());
        args.push_back(s_first);
        args.push_back(s_second);
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        const int status = RunDiffTool(int(args.size()), argv.data());
        if (status < 0 || status > 2)
            std::abort();
    }
    return 0;
}
