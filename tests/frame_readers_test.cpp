// The command-line readers of the tool frame.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/frame.h"

namespace {

struct QuotedCase {
    const char* name;
    std::string line;
    size_t scanLimit;
    int slots;
    std::vector<std::string> expected;
};

class ParseQuotedArgumentsTest : public ::testing::TestWithParam<QuotedCase> {};

TEST_P(ParseQuotedArgumentsTest, FillsSlotsInOrder) {
    const QuotedCase& c = GetParam();
    char slots[3][MAX_PATH];
    memset(slots, 'x', sizeof slots);  // the reader must clear them itself
    EXPECT_EQ(1, ParseQuotedArguments(c.line.c_str(), c.scanLimit, slots, c.slots));
    for (int i = 0; i < c.slots; ++i) EXPECT_EQ(c.expected[i], std::string(slots[i])) << "slot " << i;
}

const std::string k258(258, 'p');

INSTANTIATE_TEST_SUITE_P(
    Table, ParseQuotedArgumentsTest,
    ::testing::Values(
        QuotedCase{"three", "\"-r\" \"a.txt\" \"b.txt\"", 260, 3, {"-r", "a.txt", "b.txt"}},
        QuotedCase{"outside_text_dropped", "x\"-r\"yy \"a.txt\"zz\"b.txt\"", 260, 3, {"-r", "a.txt", "b.txt"}},
        QuotedCase{"fourth_ignored", "\"-r\" \"a\" \"b\" \"c\"", 260, 3, {"-r", "a", "b"}},
        QuotedCase{"two_of_three", "\"-r\" \"a.txt\"", 260, 3, {"-r", "a.txt", ""}},
        QuotedCase{"blanks_kept", "\"C:\\Program Files\\a b\" \"D:\\x y\"", 260, 2,
                   {"C:\\Program Files\\a b", "D:\\x y"}},
        QuotedCase{"empty_argument", "\"\" \"b\"", 260, 2, {"", "b"}},
        QuotedCase{"no_blank_between", "\"a\"\"b\"", 260, 2, {"a", "b"}},
        QuotedCase{"unclosed_runs_to_end", "\"a\" \"b c", 260, 2, {"a", "b c"}},
        QuotedCase{"no_quotes", "a b c", 260, 2, {"", ""}},
        QuotedCase{"scan_limit_cuts", "\"ab\" \"cdef\"", 8, 2, {"ab", "cd"}},
        QuotedCase{"third_quoted_ignored_for_two", "\"a\" \"b\" \"c\"", 1000, 2, {"a", "b"}},
        QuotedCase{"longest_fitting_argument", "\"" + k258 + "\"", 260, 1, {k258}}),
    [](const ::testing::TestParamInfo<QuotedCase>& info) { return std::string(info.param.name); });

TEST(ParseQuotedArguments, ReportsAnArgumentThatDoesNotFitInsteadOfOverflowing) {
    std::string line = "\"" + std::string(400, 'q') + "\"";
    char slots[1][MAX_PATH];
    EXPECT_EQ(0, ParseQuotedArguments(line.c_str(), line.size(), slots, 1));
    EXPECT_EQ(MAX_PATH - 1, (int)strlen(slots[0]));
}

struct PairCase {
    const char* name;
    std::string line;
    std::string first, second;
};

class SplitQuotedPairTest : public ::testing::TestWithParam<PairCase> {};

TEST_P(SplitQuotedPairTest, Splits) {
    const PairCase& c = GetParam();
    char first[MAX_PATH], second[MAX_PATH];
    memset(first, 'x', sizeof first);
    memset(second, 'x', sizeof second);
    SplitQuotedPair(c.line.c_str(), first, second);
    EXPECT_EQ(c.first, std::string(first));
    EXPECT_EQ(c.second, std::string(second));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SplitQuotedPairTest,
    ::testing::Values(PairCase{"plain", "\"C:\\a.txt\" \"D:\\b.txt\"", "C:\\a.txt", "D:\\b.txt"},
                      PairCase{"blank_inside_source", "\"C:\\my file.txt\" \"D:\\b.txt\"", "C:\\my file.txt",
                               "D:\\b.txt"},
                      PairCase{"blank_after_destination_drops_it_not_the_quote", "\"a\" \"b\" ", "a", "b\""},
                      PairCase{"no_quotes_no_split", "a.txt b.txt", "", "txt b.tx"},
                      PairCase{"empty_paths", "\"\" \"\"", "", ""},
                      PairCase{"too_short", "\"", "", ""}),
    [](const ::testing::TestParamInfo<PairCase>& info) { return std::string(info.param.name); });

}  // namespace
