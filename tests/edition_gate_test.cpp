// EditionGate on a fresh machine: compare mode over a table of version file
// pairs, the mode word, and write mode with its file read back.
#include <gtest/gtest.h>

#include <optional>

#include "kit_test.h"

namespace {

const std::string kNow = "C:\\v\\now.txt";
const std::string kNew = "C:\\v\\new.txt";
const std::string kCompare = "***NORMAL(COMP) MODE***";
const std::string kOpenNow = "Open file name is " + kNow;
const std::string kOpenNew = "Open file name is " + kNew;
const std::string kOpenFailed = "***FileOpen Failed***";
const std::string kSizeError = "***FileSize Error***";
const std::string kFormatError = "***File Format Error***";
const std::string kNotNewer = "同バージョンもしくは旧バージョンなのでシステムは更新しない。";
const std::string kDeleted = "ファイルの削除に成功しました。(" + kNew + ")";
const std::string kNotDeleted = "ファイルの削除に失敗しました。(" + kNew + ")";

std::string Versions(const std::string& current, const std::string& package) {
    return "現状Ver：" + current + " インストールVer：" + package;
}

std::string Quoted(const std::string& a, const std::string& b, const std::string& c) {
    return "\"" + a + "\" \"" + b + "\" \"" + c + "\"";
}

bool IsWarning(const std::string& text) {
    return text == kSizeError || text == kFormatError || text == kNotDeleted || text == "***Write FileOpen Error***";
}

// Checks the texts in order and that exactly the failures are warnings.
void ExpectEntries(const kit::Log& log, const std::vector<std::string>& expected) {
    EXPECT_EQ(expected, log.Texts());
    for (auto& e : log.entries) EXPECT_EQ(IsWarning(e.text) ? "警告" : "情報", e.level) << e.text;
}

class EditionGateTest : public ::testing::Test {
protected:
    void SetUp() override {
        machine.RegisterProduct();
        machine.CreateMarkers();
        machine.MakeDirs("C:\\v");
    }
    kit::RunResult Gate(const std::string& commandLine) { return machine.Run("EditionGate.exe", {commandLine}); }
    kit::Machine machine;
};

struct PairCase {
    const char* name;
    std::optional<std::string> current;  // file content; none: no file
    std::optional<std::string> package;
    bool newer;
    std::vector<std::string> entries;
};

class EditionGatePairTest : public EditionGateTest, public ::testing::WithParamInterface<PairCase> {};

TEST_P(EditionGatePairTest, ComparesTheFirstFourFieldsAndDeletesAnOlderPackageFile) {
    const PairCase& c = GetParam();
    if (c.current) machine.WriteFile(kNow, *c.current);
    if (c.package) machine.WriteFile(kNew, *c.package);
    kit::RunResult r = Gate(Quoted("-r", kNow, kNew));
    EXPECT_EQ(1, r.exitCode) << r.err;
    kit::Log log = machine.InstallLog();
    ExpectEntries(log, c.entries);
    for (auto& e : log.entries)
        if (e.text == kNotDeleted) {
            EXPECT_EQ(2, e.code);
        }
    EXPECT_EQ(c.current.has_value(), machine.Exists(kNow));
    EXPECT_EQ(c.package.has_value() && c.newer, machine.Exists(kNew));
    EXPECT_TRUE(machine.Boxes().empty());
    EXPECT_EQ(4u, machine.Markers().size());
}

const std::string k63(63 - 18, ' ');  // pads "VERSION= 1 2 3 5 0" to 63 bytes

INSTANTIATE_TEST_SUITE_P(
    Table, EditionGatePairTest,
    ::testing::Values(
        PairCase{"fifth_field_is_not_compared", "VERSION= 1 2 3 4 5 \r\n", "VERSION= 1 2 3 4 9 \r\n", false,
                 {kCompare, kOpenNow, kOpenNew, Versions("1.2.3.4.5", "1.2.3.4.9"), kNotNewer, kDeleted}},
        PairCase{"fourth_field_newer", "VERSION= 1 2 3 4 0 \r\n", "VERSION= 1 2 3 5 0 \r\n", true,
                 {kCompare, kOpenNow, kOpenNew, Versions("1.2.3.4.0", "1.2.3.5.0")}},
        PairCase{"first_field_outweighs_the_rest", "VERSION= 2 0 0 0 0", "VERSION= 1 9 9 9 9", false,
                 {kCompare, kOpenNow, kOpenNew, Versions("2.0.0.0.0", "1.9.9.9.9"), kNotNewer, kDeleted}},
        PairCase{"first_field_newer_with_smaller_rest", "VERSION= 1 9 9 9 9", "VERSION= 2 0 0 0 0", true,
                 {kCompare, kOpenNow, kOpenNew, Versions("1.9.9.9.9", "2.0.0.0.0")}},
        PairCase{"equal_versions", "VERSION= 3 1 4 1 5", "VERSION= 3 1 4 1 5", false,
                 {kCompare, kOpenNow, kOpenNew, Versions("3.1.4.1.5", "3.1.4.1.5"), kNotNewer, kDeleted}},
        PairCase{"negative_field_is_smaller_than_zero", "VERSION= 1 -1 0 0 0", "VERSION= 1 0 0 0 0", true,
                 {kCompare, kOpenNow, kOpenNew, Versions("1.-1.0.0.0", "1.0.0.0.0")}},
        PairCase{"trailing_letters_are_ignored", "VERSION= 10a 0 0 0 0", "VERSION= 9 0x7 +5 b 0", false,
                 {kCompare, kOpenNow, kOpenNew, Versions("10.0.0.0.0", "9.0.5.0.0"), kNotNewer, kDeleted}},
        PairCase{"missing_fields_repeat_the_word_before", "VERSION= 3", "VERSION= 3 3 3 4", true,
                 {kCompare, kOpenNow, kOpenNew, Versions("3.3.3.3.3", "3.3.3.4.4")}},
        PairCase{"version_word_alone_reads_as_zeros", "VERSION=\r\n", "VERSION= 0 0 0 1", true,
                 {kCompare, kOpenNow, kOpenNew, Versions("0.0.0.0.0", "0.0.0.1.1")}},
        PairCase{"tabs_and_line_ends_separate_words", "VERSION=\t7\n7\r\n7 \t 7\n1", "\n\nVERSION= 7 7 7 7 2", false,
                 {kCompare, kOpenNow, kOpenNew, Versions("7.7.7.7.1", "7.7.7.7.2"), kNotNewer, kDeleted}},
        PairCase{"out_of_range_fields_stop_at_the_limits", "VERSION= 99999999999 -99999999999 0 0 0",
                 "VERSION= 2147483647 -2147483648 0 0 0", false,
                 {kCompare, kOpenNow, kOpenNew,
                  Versions("2147483647.-2147483648.0.0.0", "2147483647.-2147483648.0.0.0"), kNotNewer, kDeleted}},
        PairCase{"text_after_ctrl_z_is_not_read", "VERSION= 1 1 1 1 1", "VERSION= 1\x1A 2 2 2 2", false,
                 {kCompare, kOpenNow, kOpenNew, Versions("1.1.1.1.1", "1.1.1.1.1"), kNotNewer, kDeleted}},
        PairCase{"current_missing_counts_as_newer", std::nullopt, "VERSION= 1 0 0 0 0", true,
                 {kCompare, kOpenNow, kOpenFailed, "***Now File Open Failed***", kOpenNew}},
        PairCase{"package_missing_counts_as_not_newer", "VERSION= 1 0 0 0 0", std::nullopt, false,
                 {kCompare, kOpenNow, kOpenNew, kOpenFailed, "***New File Open Error***", kNotNewer, kNotDeleted}},
        PairCase{"empty_current_is_a_format_error", "", "VERSION= 1 0 0 0 0", true,
                 {kCompare, kOpenNow, kFormatError, "***Now File Format Error***", kOpenNew}},
        PairCase{"blank_package_is_a_format_error", "VERSION= 1 0 0 0 0", " \r\n", false,
                 {kCompare, kOpenNow, kOpenNew, kFormatError, "***New File Format Error***", kNotNewer, kDeleted}},
        PairCase{"version_word_run_into_the_field", "VERSION= 1 0 0 0 0", "VERSION=2 0 0 0 0", false,
                 {kCompare, kOpenNow, kOpenNew, kFormatError, "***New File Format Error***", kNotNewer, kDeleted}},
        PairCase{"version_word_in_lower_case", "version= 1 0 0 0 0", "VERSION= 1 0 0 0 0", true,
                 {kCompare, kOpenNow, kFormatError, "***Now File Format Error***", kOpenNew}},
        PairCase{"package_of_63_bytes_is_read", "VERSION= 1 2 3 4 0", ("VERSION= 1 2 3 5 0" + k63), true,
                 {kCompare, kOpenNow, kOpenNew, Versions("1.2.3.4.0", "1.2.3.5.0")}},
        PairCase{"package_of_64_bytes_is_refused", "VERSION= 1 2 3 4 0", ("VERSION= 1 2 3 5 0 " + k63),
                 false,
                 {kCompare, kOpenNow, kOpenNew, kSizeError, kOpenFailed, "***New File Open Error***", kNotNewer,
                  kDeleted}},
        PairCase{"current_of_64_bytes_is_refused", ("VERSION= 9 9 9 9 9 " + k63), "VERSION= 1 0 0 0 0",
                 true, {kCompare, kOpenNow, kSizeError, kOpenFailed, "***Now File Open Failed***", kOpenNew}}),
    [](const ::testing::TestParamInfo<PairCase>& info) { return std::string(info.param.name); });

struct ModeCase {
    const char* name;
    std::string commandLine;
    std::vector<std::string> entries;
};

class EditionGateModeTest : public EditionGateTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(EditionGateModeTest, OnlyTheExactModeWordActs) {
    const ModeCase& c = GetParam();
    machine.WriteFile(kNow, "VERSION= 2 0 0 0 0");
    machine.WriteFile(kNew, "VERSION= 1 0 0 0 0");
    kit::RunResult r = Gate(c.commandLine);
    EXPECT_EQ(1, r.exitCode);
    ExpectEntries(machine.InstallLog(), c.entries);
    EXPECT_TRUE(machine.Exists(kNow));
    EXPECT_TRUE(machine.Exists(kNew));
}

INSTANTIATE_TEST_SUITE_P(
    Table, EditionGateModeTest,
    ::testing::Values(
        ModeCase{"upper_case_mode_word", Quoted("-R", kNow, kNew),
                 {"***OTHER MODE***(MODE_ARG=-R,VER_FILE_NAME=" + kNow + ",INSTALL_VER_FILE_NAME=" + kNew + ")"}},
        ModeCase{"mode_word_with_a_blank", Quoted("-r ", kNow, kNew),
                 {"***OTHER MODE***(MODE_ARG=-r ,VER_FILE_NAME=" + kNow + ",INSTALL_VER_FILE_NAME=" + kNew + ")"}},
        ModeCase{"unquoted_arguments_are_dropped", "-r " + kNow + " " + kNew,
                 {"***OTHER MODE***(MODE_ARG=,VER_FILE_NAME=,INSTALL_VER_FILE_NAME=)"}},
        ModeCase{"text_outside_quotes_and_a_fourth_argument_ignored",
                 "x\"-R\"y \"" + kNow + "\" z \"" + kNew + "\" \"-r\"",
                 {"***OTHER MODE***(MODE_ARG=-R,VER_FILE_NAME=" + kNow + ",INSTALL_VER_FILE_NAME=" + kNew + ")"}}),
    [](const ::testing::TestParamInfo<ModeCase>& info) { return std::string(info.param.name); });

TEST_F(EditionGateTest, EmptyCommandLineTakesTheFailureExit) {
    kit::RunResult r = machine.Run("EditionGate.exe", {});
    EXPECT_EQ(0, r.exitCode);
    kit::Log log = machine.InstallLog();
    ASSERT_FALSE(log.entries.empty());
    EXPECT_EQ("引数がありません。", log.entries[0].text);
    EXPECT_TRUE(machine.Markers().empty());
    EXPECT_EQ(1u, machine.Boxes().size());
}

struct WriteCase {
    const char* name;
    std::string fields;    // the third argument
    std::string file;      // the bytes written
    std::string readBack;  // the version compare mode reads from it
};

class EditionGateWriteTest : public EditionGateTest, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(EditionGateWriteTest, WritesAVersionFileThatCompareModeReads) {
    const WriteCase& c = GetParam();
    const std::string path = "C:\\Program Files\\Tessaly\\Nimbrel\\version.txt";
    machine.WriteFile(path, "VERSION= 9 9 9 9 9 and an older, longer content\r\n");
    kit::RunResult r = Gate(Quoted("-w", path, c.fields));
    EXPECT_EQ(1, r.exitCode);
    ExpectEntries(machine.InstallLog(), {"***WRITE MODE***", "Open file name is " + path});
    EXPECT_EQ(c.file, kit::ReadHostFile(machine.Host(path)));

    machine.WriteFile(kNew, "VERSION= 0 0 0 0 0");
    Gate(Quoted("-r", path, kNew));
    EXPECT_EQ(Versions(c.readBack, "0.0.0.0.0"), machine.InstallLog().Texts()[5]);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EditionGateWriteTest,
    ::testing::Values(WriteCase{"five_fields", "1 2 3 4 5", "VERSION= 1 2 3 4 5 \r\n", "1.2.3.4.5"},
                      WriteCase{"extra_words_ignored", " 1\t2  3 4 5 6 7", "VERSION= 1 2 3 4 5 \r\n", "1.2.3.4.5"},
                      WriteCase{"fields_taken_as_text", "01 -2 3x 4 5", "VERSION= 01 -2 3x 4 5 \r\n", "1.-2.3.4.5"},
                      WriteCase{"missing_fields_written_empty", "7 8", "VERSION= 7 8    \r\n", "7.8.8.8.8"}),
    [](const ::testing::TestParamInfo<WriteCase>& info) { return std::string(info.param.name); });

struct WriteFailureCase {
    const char* name;
    std::string path;
    bool readOnly;
};

class EditionGateWriteFailureTest : public EditionGateTest, public ::testing::WithParamInterface<WriteFailureCase> {};

TEST_P(EditionGateWriteFailureTest, AFileThatCannotBeOpenedIsAWarningAndExitOne) {
    const WriteFailureCase& c = GetParam();
    if (c.readOnly) {
        machine.WriteFile(c.path, "VERSION= 1 1 1 1 1 \r\n");
        ASSERT_EQ(0, machine.W32({"attrib", "+r", c.path}).exitCode);
    }
    kit::RunResult r = Gate(Quoted("-w", c.path, "1 2 3 4 5"));
    EXPECT_EQ(1, r.exitCode);
    kit::Log log = machine.InstallLog();
    ExpectEntries(log, {"***WRITE MODE***", "Open file name is " + c.path, kOpenFailed, "***Write FileOpen Error***"});
    EXPECT_EQ(c.readOnly ? 5 : 3, log.entries.back().code);
    EXPECT_EQ(c.readOnly ? "VERSION= 1 1 1 1 1 \r\n" : "", kit::ReadHostFile(machine.Host(c.path)));
    EXPECT_TRUE(machine.Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(Table, EditionGateWriteFailureTest,
                         ::testing::Values(WriteFailureCase{"missing_folder", "C:\\no such\\version.txt", false},
                                           WriteFailureCase{"read_only_file", "C:\\v\\version.txt", true}),
                         [](const ::testing::TestParamInfo<WriteFailureCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
