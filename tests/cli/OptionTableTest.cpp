// The option table is the one list of the tool's options: --help, the bash completion and the
// README's table of options are made from it or held to it here.
#include "cli/app/OptionTable.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

using framemeld::cli::bashCompletion;
using framemeld::cli::OptionRow;
using framemeld::cli::optionTable;
using testing::HasSubstr;

namespace {

// "`-o`, `--output FILE`" -> "-o --output FILE"
std::string spellings(const OptionRow &row)
{
    std::string text = row.shortName ? std::string(row.shortName) + " " : std::string();
    text += row.longName;
    if (row.valueName) {
        text += std::string(" ") + row.valueName;
    }
    return text;
}

// The first column of every row of the README's table of options, without its backticks and
// commas, "|" unescaped.
std::vector<std::string> readmeOptionRows()
{
    std::ifstream file(FRAMEMELD_SOURCE_DIR "/README.md");
    std::vector<std::string> rows;
    bool inTable = false;
    for (std::string line; std::getline(file, line);) {
        if (line.rfind("| option | meaning | default |", 0) == 0) {
            inTable = true;
            continue;
        }
        if (!inTable || line.rfind("|---", 0) == 0) {
            continue;
        }
        if (line.empty() || line[0] != '|') {
            break;
        }
        const std::string cell = line.substr(1, line.find(" | ", 1) - 1);
        std::string text;
        for (std::size_t i = 0; i < cell.size(); ++i) {
            if (cell[i] == '\\' && i + 1 < cell.size() && cell[i + 1] == '|') {
                continue;
            }
            if (cell[i] != '`' && cell[i] != ',') {
                text += cell[i];
            }
        }
        rows.push_back(std::regex_replace(text, std::regex("^ +| +$"), ""));
    }
    return rows;
}

TEST(OptionTable, TheReadmeListsEveryOptionInTheTablesOrder)
{
    const std::vector<std::string> readme = readmeOptionRows();
    ASSERT_FALSE(readme.empty()) << "no table of options in README.md";
    std::vector<std::string> expected;
    for (const OptionRow &row : optionTable()) {
        expected.push_back(spellings(row));
    }
    expected.push_back("--");
    ASSERT_EQ(readme.size(), expected.size()) << testing::PrintToString(readme);
    for (std::size_t i = 0; i < readme.size(); ++i) {
        // The README may say more of a value than --help does ("D|auto" for "D").
        EXPECT_EQ(readme[i].substr(0, expected[i].size()), expected[i]) << "row " << i;
        const std::string more = readme[i].substr(std::min(expected[i].size(), readme[i].size()));
        EXPECT_TRUE(more.empty() || more[0] == '|') << readme[i];
    }
}

TEST(OptionTable, EveryNameIsUniqueAndMergeTakesOnlyWhatItUses)
{
    std::set<std::string> names;
    std::set<std::string> merge;
    for (const OptionRow &row : optionTable()) {
        EXPECT_TRUE(names.insert(row.longName).second) << row.longName;
        if (row.shortName) {
            EXPECT_TRUE(names.insert(row.shortName).second) << row.shortName;
        }
        if (row.merge) {
            merge.insert(row.longName);
        }
        EXPECT_NE(row.store, nullptr) << row.longName;
    }
    EXPECT_EQ(merge,
              (std::set<std::string>{"--output", "--memory", "--quiet", "--json", "--help"}));
}

TEST(OptionTable, TheCompletionOffersEveryOptionAndItsFixedValues)
{
    const std::string script = bashCompletion("framemeld");
    for (const OptionRow &row : optionTable()) {
        EXPECT_THAT(script, HasSubstr(std::string(" ") + row.longName + " ")) << row.longName;
    }
    EXPECT_THAT(script, HasSubstr("compgen -W \"8 16 32\""));
    EXPECT_THAT(script, HasSubstr("complete -F _framemeld framemeld"));
}

} // namespace
