// The options' table against the manual page, which is written by hand:
// every option of the table has its entry there, and there is no other.

#include "Flags.h"

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
