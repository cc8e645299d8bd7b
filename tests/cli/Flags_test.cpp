// The options' table against the manual page, which is written by hand:
// every option of the table has its entry there, and there is no other.

#include "Flags.h"
#include "Printable.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <string>

TEST(Flags, TheManualPageDescribesEveryOptionAndNoOther)
{
    std::ifstream page(TOBREL_MANUAL_PAGE);
    ASSERT_TRUE(page) << TOBREL_MANUAL_PAGE;
    std::set<std::string> documented;
    const std::regex entry(R"(\\-\\-([a-z\\-]+))");
    for (std::string line; std::getline(page, line);) {
        if (line.rfind(".B", 0) != 0 || line.find("tobrel-diff") != std::string::npos)
            continue;
        for (auto it = std::sregex_iterator(line.begin(), line.end(), entry); it != std::sregex_iterator(); ++it)
            documented.insert("--" + std::regex_replace((*it)[1].str(), std::regex(R"(\\-)"), "-"));
    }
    std::set<std::string> table = {"--version", "--help"};
    for (const Flag& flag : Flags())
        table.insert(flag.name);
    EXPECT_EQ(documented, table);
}

// Names reach the terminal with every control character escaped, C1 ones
// too, whether as UTF-8 or as a single byte; other text stays as it is.
TEST(Printable, EscapesEveryControlCharacter)
{
    struct Row { std::string name, shown; };
    const Row rows[] = {
        {"plain.png", "plain.png"},
        {"tab\there", "tab\\x09here"},
        {"back\\slash", "back\\\\slash"},
        {"c1 \xc2\x9b" "2J", "c1 \\xc2\\x9b2J"},
        {"raw \x9b" "2J", "raw \\x9b2J"},
        {"nbsp \xc2\xa0 and \xe3\x83\x95\xe3\x82\xa9", "nbsp \xc2\xa0 and \xe3\x83\x95\xe3\x82\xa9"},
        {"cut \xe3\x83", "cut \xe3\\x83"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(Printable(row.name), row.shown) << row.name;
}
