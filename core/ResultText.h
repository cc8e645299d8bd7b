#pragma once

// The Japanese message of a result code, in UTF-8: the same texts the program's
// string table shows, for the command-line comparer. Null for an unknown code.
const char* ResultText(int code);
