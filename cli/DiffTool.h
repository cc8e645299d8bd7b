#pragma once

// The whole command-line comparer; `argv` holds UTF-8 arguments. Returns the
// exit status: 0 equal, 1 different, 2 trouble.
int RunDiffTool(int argc, char** argv);
