// Replicate: copying a file onto another path with retries, on a fresh
// machine.
#include <gtest/gtest.h>

#include <functional>

#include "kit_test.h"

namespace {

const char kCopied[] = "コピーに成功しました。";
const char kSource[] = "C:\\Src dir\\a b.txt";
const char kDestination[] = "C:\\Dst\\b.txt";

std::string Pair(const std::string& from, const std::string& to) { return "\"" + from + "\" \"" + to + "\""; }

std::string Retry(const std::string& from, const std::string& to) {
    return "ファイルのコピーに失敗したためリトライします。(" + from + ")⇒(" + to + ")";
}

class ReplicateTest : public ::testing::Test {
protected:
    void SetUp() override {
        machine.RegisterProduct();
        machine.CreateMarkers();
        machine.WriteFile(kSource, "new content");
        machine.MakeDirs("C:\\Dst");
    }
    kit::Machine machine;
};

struct CopyCase {
    const char* name;
    std::string commandLine;
    std::function<void(const kit::Machine&)> setup;
    std::vector<std::string> then;  // entries after the frame's two, retries left out
    std::string retry;              // the retry entry; "" when none
    long code;                      // of the last entry, a warning; -1 after a copy
};

class ReplicateCopyTest : public ReplicateTest, public ::testing::WithParamInterface<CopyCase> {};

TEST_P(ReplicateCopyTest, CopiesOrReportsOnce) {
    const CopyCase& c = GetParam();
    if (c.setup) c.setup(machine);
    kit::RunResult r = machine.Run("Replicate.exe", {c.commandLine});
    EXPECT_LT(r.seconds, 60.0);
    kit::Log log = machine.InstallLog();
    std::vector<std::string> expected{"処理開始", "チェック対象パス(" + c.commandLine + ")"};
    if (!c.retry.empty()) expected.insert(expected.end(), 100, c.retry);
    expected.insert(expected.end(), c.then.begin(), c.then.end());
    std::vector<std::string> texts = log.Texts();
    if (c.code < 0) {
        EXPECT_EQ(1, r.exitCode) << r.err;
        EXPECT_EQ(expected, texts);
        EXPECT_EQ("new content", kit::ReadHostFile(machine.Host(kDestination)));
        EXPECT_TRUE(machine.Boxes().empty());
        EXPECT_EQ(4u, machine.Markers().size());
        return;
    }
    EXPECT_EQ(0, r.exitCode);
    ASSERT_EQ(expected.size() + 4, texts.size());
    EXPECT_EQ(expected, std::vector<std::string>(texts.begin(), texts.begin() + expected.size()));
    const kit::LogEntry& warning = log.entries[expected.size() - 1];
    EXPECT_EQ("警告", warning.level);
    EXPECT_EQ(c.code, warning.code);
    std::string why;
    EXPECT_TRUE(kit::FailureReported(machine, &why)) << why;
}

void Attrib(const kit::Machine& m, const std::string& flag, const std::string& path) {
    ASSERT_EQ(0, m.W32({"attrib", flag, path}).exitCode);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ReplicateCopyTest,
    ::testing::Values(
        CopyCase{"new_destination_from_a_path_with_blanks", Pair(kSource, kDestination), nullptr, {kCopied}, "", -1},
        CopyCase{"read_only_destination_is_overwritten", Pair(kSource, kDestination),
                 [](const kit::Machine& m) {
                     m.WriteFile(kDestination, "old");
                     Attrib(m, "+r", kDestination);
                 },
                 {kCopied}, "", -1},
        CopyCase{"destination_in_a_missing_folder", Pair(kSource, "C:\\None\\b.txt"), nullptr,
                 {"ファイルの属性の取得に失敗しました(C:\\None\\b.txt)"}, "", 3},
        CopyCase{"missing_source", Pair("C:\\Src dir\\none.txt", kDestination), nullptr, {"コピーに失敗しました。"},
                 Retry("C:\\Src dir\\none.txt", kDestination), 2},
        CopyCase{"blank_after_the_closing_quote_leaves_a_quote_in_the_destination",
                 Pair(kSource, kDestination) + " ", nullptr,
                 {"ファイルの属性の取得に失敗しました(" + std::string(kDestination) + "\")"}, "", 123},
        CopyCase{"no_quotes_no_split_point", "C:\\Dst\\b.txt", nullptr, {"コピーに失敗しました。"},
                 Retry("", "\\Dst\\b.tx"), 3}),
    [](const ::testing::TestParamInfo<CopyCase>& info) { return std::string(info.param.name); });

struct HoldCase {
    const char* name;
    std::string ms;  // how long another program holds the destination open
    int exitCode;
};

class ReplicateHeldTest : public ReplicateTest, public ::testing::WithParamInterface<HoldCase> {};

TEST_P(ReplicateHeldTest, RetriesWhileTheDestinationIsHeld) {
    machine.WriteFile(kDestination, "old");
    kit::Running holder = machine.Start("w32", {"hold", kDestination, GetParam().ms});
    ASSERT_TRUE(holder.WaitForOutput("holding"));
    kit::RunResult r = machine.Run("Replicate.exe", {Pair(kSource, kDestination)});
    EXPECT_EQ(GetParam().exitCode, r.exitCode);
    kit::Log log = machine.InstallLog();
    int retries = log.Count(Retry(kSource, kDestination));
    if (GetParam().exitCode == 1) {
        EXPECT_GE(retries, 1);  // at least one refusal while held; how many depends on the start-up time
        EXPECT_LE(retries, 5);
        EXPECT_EQ(kCopied, log.entries.back().text);
        EXPECT_EQ("new content", kit::ReadHostFile(machine.Host(kDestination)));
    } else {
        EXPECT_EQ(100, retries);
        EXPECT_EQ(1, log.Count("コピーに失敗しました。"));
        EXPECT_EQ("old", kit::ReadHostFile(machine.Host(kDestination)));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ReplicateHeldTest,
                         ::testing::Values(HoldCase{"released_after_a_few_seconds", "3500", 1},
                                           HoldCase{"never_released", "600000", 0}),
                         [](const ::testing::TestParamInfo<HoldCase>& info) { return std::string(info.param.name); });

}  // namespace
