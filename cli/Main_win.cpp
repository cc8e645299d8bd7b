#include "DiffTool.h"
#include "Platform.h"

#include <fcntl.h>
#include <io.h>

#include <string>
#include <vector>

// Windows hands over UTF-16 arguments; the comparer takes UTF-8.
int wmain(int argc, wchar_t** wargv)
{
    // The same bytes on every platform: no CR added to the list.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i)
        args.push_back(Narrow(wargv[i]));
    std::vector<char*> argv;
    for (auto& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    return RunDiffTool(argc, argv.data());
}
