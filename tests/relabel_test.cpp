// Relabel: renaming a folder with retries, on a fresh machine.
#include <gtest/gtest.h>

#include "kit_test.h"

namespace {

const char kSource[] = "C:\\Work\\src dir";

class RelabelTest : public ::testing::Test {
protected:
    void SetUp() override {
        machine.RegisterProduct();
        machine.CreateMarkers();
        machine.WriteFile(std::string(kSource) + "\\bin\\java.exe", "jvm");
        machine.MakeDirs("C:\\Work\\taken");
    }
    std::string Succeeded(const std::string& from, const std::string& to) const {
        return "フォルダ名の変更に成功しました(" + from + ")⇒(" + to + ")";
    }
    std::string Failed(const std::string& from, const std::string& to) const {
        return "フォルダ名の変更に失敗しました(" + from + ")⇒(" + to + ")";
    }
    kit::Machine machine;
};

struct RenameCase {
    const char* name;
    std::string commandLine;
    std::string from, to;  // what the two slots receive
    bool renamed;
};

class RelabelCommandLineTest : public RelabelTest, public ::testing::WithParamInterface<RenameCase> {};

TEST_P(RelabelCommandLineTest, RenamesWhatTheQuotedSlotsName) {
    const RenameCase& c = GetParam();
    kit::RunResult r = machine.Run("Relabel.exe", {c.commandLine});
    kit::Log log = machine.InstallLog();
    ASSERT_GE(log.entries.size(), 3u) << r.err;
    EXPECT_EQ("処理開始", log.entries[0].text);
    EXPECT_EQ("チェック対象パス(" + c.commandLine + ")", log.entries[1].text);
    if (c.renamed) {
        EXPECT_EQ(1, r.exitCode);
        EXPECT_EQ((std::vector<std::string>{"処理開始", log.entries[1].text, Succeeded(c.from, c.to)}), log.Texts());
        EXPECT_EQ("情報", log.entries[2].level);
        EXPECT_FALSE(machine.Exists(kSource));
        EXPECT_TRUE(machine.Exists(c.to + "\\bin\\java.exe"));
        EXPECT_TRUE(machine.Boxes().empty());
        EXPECT_EQ(4u, machine.Markers().size());
        return;
    }
    EXPECT_EQ(0, r.exitCode);
    EXPECT_LT(r.seconds, 30.0);
    // 100 failed attempts, each one information entry, then the marker
    // clean-up; no warning anywhere.
    ASSERT_EQ(2u + 100u + 4u, log.entries.size());
    for (size_t i = 2; i < 102; ++i) {
        EXPECT_EQ(Failed(c.from, c.to), log.entries[i].text);
        EXPECT_EQ("情報", log.entries[i].level);
    }
    for (auto& e : log.entries) EXPECT_NE("警告", e.level) << e.text;
    EXPECT_EQ(0u, log.entries[102].text.find("ファイルの削除に成功しました。("));
    std::string why;
    EXPECT_TRUE(kit::FailureReported(machine, &why)) << why;
    EXPECT_TRUE(machine.Exists(std::string(kSource) + "\\bin\\java.exe"));
}

INSTANTIATE_TEST_SUITE_P(
    Table, RelabelCommandLineTest,
    ::testing::Values(
        RenameCase{"renamed", "\"C:\\Work\\src dir\" \"C:\\Work\\JRE\"", kSource, "C:\\Work\\JRE", true},
        RenameCase{"moved_with_blanks_in_both_paths", "\"C:\\Work\\src dir\" \"C:\\Program Files\\new dir\"", kSource,
                   "C:\\Program Files\\new dir", true},
        RenameCase{"text_outside_quotes_and_a_third_path_are_ignored",
                   "x\"C:\\Work\\src dir\"\"C:\\Work\\JRE\"  y \"C:\\Work\\third\"", kSource, "C:\\Work\\JRE", true},
        RenameCase{"missing_closing_quote_runs_to_the_end", "\"C:\\Work\\src dir\" \"C:\\Work\\JRE", kSource,
                   "C:\\Work\\JRE", true},
        RenameCase{"onto_an_existing_folder", "\"C:\\Work\\src dir\" \"C:\\Work\\taken\"", kSource, "C:\\Work\\taken",
                   false},
        RenameCase{"only_one_quoted_path", "\"C:\\Work\\src dir\"", kSource, "", false},
        RenameCase{"no_quoted_path", "C:\\Work\\src dir C:\\Work\\JRE", "", "", false}),
    [](const ::testing::TestParamInfo<RenameCase>& info) { return std::string(info.param.name); });

struct HoldCase {
    const char* name;
    std::vector<std::string> hold;  // arguments of `w32 hold` before the time
};

class RelabelHeldTest : public RelabelTest, public ::testing::WithParamInterface<HoldCase> {};

TEST_P(RelabelHeldTest, RenamesWithTheFirstAttemptAfterTheRelease) {
    std::vector<std::string> args{"hold"};
    args.insert(args.end(), GetParam().hold.begin(), GetParam().hold.end());
    args.push_back("3500");
    kit::Running holder = machine.Start("w32", args);
    ASSERT_TRUE(holder.WaitForOutput("holding"));
    kit::RunResult r = machine.Run("Relabel.exe", {"\"C:\\Work\\src dir\" \"C:\\Work\\JRE\""});
    EXPECT_EQ(0, holder.Wait());
    EXPECT_EQ(1, r.exitCode);
    kit::Log log = machine.InstallLog();
    std::vector<std::string> texts = log.Texts();
    ASSERT_GE(texts.size(), 4u);
    // Held for 3.5 s of machine time: a few failed attempts a second apart,
    // then the rename, and nothing after it.
    int failures = log.Count(Failed(kSource, "C:\\Work\\JRE"));
    EXPECT_GE(failures, 1);  // how many depends on the start-up time
    EXPECT_LE(failures, 5);
    EXPECT_EQ(2u + failures + 1u, texts.size());
    EXPECT_EQ(Succeeded(kSource, "C:\\Work\\JRE"), texts.back());
    EXPECT_TRUE(machine.Exists("C:\\Work\\JRE\\bin\\java.exe"));
    EXPECT_TRUE(machine.Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Table, RelabelHeldTest,
    ::testing::Values(HoldCase{"current_folder_of_another_program", {"--cwd", kSource}},
                      HoldCase{"current_folder_below_it", {"--cwd", std::string(kSource) + "\\bin"}},
                      HoldCase{"file_open_inside", {std::string(kSource) + "\\bin\\java.exe"}}),
    [](const ::testing::TestParamInfo<HoldCase>& info) { return std::string(info.param.name); });

}  // namespace
