#pragma once

#include <string>

// A name fit for one line of a terminal: control characters are shown as
// \xHH and a backslash as \\, so a name can neither forge a line, nor drive
// the terminal, nor pass for another name's escape.
std::string Printable(const std::string& text);
