// SpanGuard and the run frame it shares with every tool, on a fresh machine.
#include <gtest/gtest.h>

#include "kit_test.h"

namespace {

const char kFailureBox[] =
    "内部処理に失敗しました。インストールを中断します。\r\n詳細な内容はinstall.logに出力されます。";
const unsigned kBoxFlags = 0x00040000u | 0x00000010u;  // MB_TOPMOST | MB_ICONERROR

class SpanGuardTest : public ::testing::Test {
protected:
    void SetUp() override {
        machine.RegisterProduct();
        machine.CreateMarkers();
    }
    kit::Machine machine;
};

struct LengthCase {
    const char* name;
    std::string path;  // UTF-8; measured in CP932 bytes
    int bytes;
};

class SpanGuardLengthTest : public SpanGuardTest, public ::testing::WithParamInterface<LengthCase> {};

std::string Repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
}

TEST_P(SpanGuardLengthTest, MeasuresCp932Bytes) {
    const LengthCase& c = GetParam();
    ASSERT_EQ((size_t)c.bytes, kit::ToCp932(c.path).size());
    kit::RunResult r = machine.Run("SpanGuard.exe", {c.path});
    EXPECT_EQ(1, r.exitCode) << r.err;
    kit::Log log = machine.InstallLog();
    std::vector<std::string> texts = log.Texts();
    ASSERT_GE(texts.size(), 4u);
    EXPECT_EQ("処理開始", texts[0]);
    EXPECT_EQ("チェック対象パス(" + c.path + ")", texts[1]);
    EXPECT_EQ("上限パス長(60)：入力パス長(" + std::to_string(c.bytes) + ")", texts[2]);
    auto boxes = machine.Boxes();
    if (c.bytes <= 60) {
        EXPECT_EQ((std::vector<std::string>{"処理開始", texts[1], texts[2], "パス長はオーバーしていません。"}), texts);
        EXPECT_TRUE(boxes.empty());
        EXPECT_EQ(4u, machine.Markers().size());
        return;
    }
    EXPECT_EQ("パス長がオーバーしています。", texts[3]);
    EXPECT_EQ("エラー", log.entries[3].level);
    EXPECT_FALSE(log.entries[3].hasCode);
    EXPECT_TRUE(machine.Markers().empty());
    ASSERT_EQ(2u, boxes.size());
    EXPECT_EQ("[" + c.path + "]\r\n指定したインストール先のパスが長すぎます。(上限:60、現在:" + std::to_string(c.bytes) +
                  ")\r\nインストール先を検討した上で再度実行してください。",
              boxes[0].text);
    EXPECT_EQ(kFailureBox, boxes[1].text);
    for (auto& b : boxes) {
        EXPECT_EQ("Setup", b.caption);
        EXPECT_EQ(kBoxFlags, b.flags);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, SpanGuardLengthTest,
    ::testing::Values(LengthCase{"exactly_60", "C:\\" + std::string(57, 'a'), 60},
                      LengthCase{"sixty_one", "C:\\" + std::string(58, 'a'), 61},
                      LengthCase{"thirty_double_byte", Repeat("漢", 30), 60},
                      LengthCase{"thirty_double_byte_and_one_more", Repeat("漢", 30) + "a", 61},
                      LengthCase{"thirty_one_double_byte", Repeat("漢", 31), 62},
                      LengthCase{"quotes_count", "\"C:\\" + std::string(55, 'q') + "\"", 60},
                      LengthCase{"quotes_count_over", "\"C:\\" + std::string(56, 'q') + "\"", 61},
                      LengthCase{"trailing_blanks_count", "C:\\" + std::string(56, 'b') + "  ", 61},
                      LengthCase{"inner_blanks_and_table_char", "C:\\Program Files\\表示", 21}),
    [](const ::testing::TestParamInfo<LengthCase>& info) { return std::string(info.param.name); });

TEST_F(SpanGuardTest, EmptyCommandLineTakesTheFailureExit) {
    kit::RunResult r = machine.Run("SpanGuard.exe", {});
    EXPECT_EQ(0, r.exitCode);
    kit::Log log = machine.InstallLog();
    ASSERT_EQ(5u, log.entries.size());
    EXPECT_EQ("引数がありません。", log.entries[0].text);
    EXPECT_EQ("警告", log.entries[0].level);
    EXPECT_TRUE(log.entries[0].hasCode);
    EXPECT_EQ("", log.entries[0].module);  // read after the command line check
    for (int i = 1; i < 5; ++i) EXPECT_EQ(0u, log.entries[i].text.find("ファイルの削除に成功しました。("));
    EXPECT_TRUE(machine.Markers().empty());
    auto boxes = machine.Boxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(kFailureBox, boxes[0].text);
}

TEST_F(SpanGuardTest, ModulePathIsInEveryEntryAfterItWasRead) {
    machine.Run("SpanGuard.exe", {"C:\\x"});
    for (auto& e : machine.InstallLog().entries) {
        EXPECT_EQ(":\\", e.module.substr(1, 2));
        EXPECT_NE(std::string::npos, e.module.find("SpanGuard.exe"));
    }
}

TEST_F(SpanGuardTest, CommandLineTooLongForTheMessageBufferIsRefusedNotCut) {
    std::string path = "C:\\" + std::string(1000, 'z');
    kit::RunResult r = machine.Run("SpanGuard.exe", {path});
    EXPECT_EQ(0, r.exitCode);
    kit::Log log = machine.InstallLog();
    ASSERT_GE(log.entries.size(), 2u);
    EXPECT_EQ("処理開始", log.entries[0].text);
    EXPECT_EQ("警告", log.entries[1].level);
    EXPECT_EQ(0u, log.entries[1].text.find("コマンドラインが長すぎます。(1003バイト"));
    EXPECT_TRUE(machine.Markers().empty());
    auto boxes = machine.Boxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(kFailureBox, boxes[0].text);
}

TEST(RunFrame, WithoutRegistrationTheWarningGoesToTheDriveRootLog) {
    kit::Machine machine;
    machine.MakeDirs("C:\\Program Files\\Tessaly\\Nimbrel");
    machine.WriteFile("C:\\Program Files\\Tessaly\\Nimbrel\\InstComplete.txt", "x");
    kit::RunResult r = machine.Run("SpanGuard.exe", {"C:\\x"});
    EXPECT_EQ(0, r.exitCode);
    kit::Log log = machine.ReadLog("C:\\Install.log");
    ASSERT_EQ(2u, log.entries.size());
    EXPECT_EQ("インストールパスの取得に失敗しました。(2)", log.entries[0].text);
    EXPECT_EQ("警告", log.entries[0].level);
    EXPECT_TRUE(log.entries[0].hasCode);
    EXPECT_EQ("インストールパスが取得できません。", log.entries[1].text);
    EXPECT_EQ("", log.entries[1].module);
    // The product folder is unknown: nothing is deleted anywhere.
    EXPECT_TRUE(machine.Exists("C:\\Program Files\\Tessaly\\Nimbrel\\InstComplete.txt"));
    EXPECT_EQ(1u, machine.Boxes().size());
}

TEST(RunFrame, InstallLocationTooLongForTheProductFilesIsRefused) {
    kit::Machine machine;
    std::string location = "C:\\" + std::string(235, 'L');  // + "\Nimbrel\InstComplete.txt" > 259
    machine.RegisterProduct(location);
    kit::RunResult r = machine.Run("SpanGuard.exe", {"C:\\x"});
    EXPECT_EQ(0, r.exitCode);
    kit::Log log = machine.ReadLog("C:\\Install.log");
    ASSERT_EQ(2u, log.entries.size());
    EXPECT_EQ("インストールパスが長すぎます。(" + location + ")", log.entries[0].text);
    EXPECT_EQ("インストールパスが取得できません。", log.entries[1].text);
}

TEST(RunFrame, MarkerCleanUpHandlesEachFileOnceAndRetriesALockedOne) {
    kit::Machine machine;
    std::string product = machine.RegisterProduct();
    machine.WriteFile(product + "\\InstText.txt", "x");
    machine.WriteFile(product + "\\InstProgram.txt", "x");
    // InstText.txt stays open in another program for 3.5 s of machine time.
    kit::Running holder = machine.Start("w32", {"hold", product + "\\InstText.txt", "3500"});
    ASSERT_TRUE(holder.WaitForOutput("holding"));
    kit::RunResult r = machine.Run("SpanGuard.exe", {std::string(61, 'x')});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_EQ(0, holder.Wait());
    std::vector<std::string> texts = machine.InstallLog().Texts();
    std::vector<std::string> cleanup(texts.begin() + 4, texts.end());
    ASSERT_GE(cleanup.size(), 5u);
    EXPECT_EQ("ファイルは存在しませんでした。(" + product + "\\InstSystem.txt)", cleanup.front());
    int retries = 0;
    for (auto& t : cleanup) retries += t == "ファイルの削除失敗したためリトライします。(" + product + "\\InstText.txt)";
    EXPECT_GE(retries, 1);  // at least one refusal while held; how many depends on the start-up time
    EXPECT_LE(retries, 5);
    std::vector<std::string> tail(cleanup.end() - 3, cleanup.end());
    EXPECT_EQ((std::vector<std::string>{"ファイルの削除に成功しました。(" + product + "\\InstText.txt)",
                                        "ファイルの削除に成功しました。(" + product + "\\InstProgram.txt)",
                                        "ファイルは存在しませんでした。(" + product + "\\InstComplete.txt)"}),
              tail);
    EXPECT_TRUE(machine.Markers().empty());
}

TEST(RunFrame, MarkerCleanUpWithoutMarkersReportsEachAsAbsent) {
    kit::Machine machine;
    std::string product = machine.RegisterProduct();
    EXPECT_EQ(1, machine.Run("SpanGuard.exe", {std::string(61, 'x')}).exitCode);
    std::vector<std::string> texts = machine.InstallLog().Texts();
    ASSERT_EQ(8u, texts.size());
    std::vector<std::string> cleanup(texts.begin() + 4, texts.end());
    EXPECT_EQ((std::vector<std::string>{"ファイルは存在しませんでした。(" + product + "\\InstSystem.txt)",
                                        "ファイルは存在しませんでした。(" + product + "\\InstText.txt)",
                                        "ファイルは存在しませんでした。(" + product + "\\InstProgram.txt)",
                                        "ファイルは存在しませんでした。(" + product + "\\InstComplete.txt)"}),
              cleanup);
}

TEST(RunFrame, AMarkerThatNeverGoesIsTriedAHundredTimesThenWarned) {
    kit::Machine machine;
    std::string product = machine.RegisterProduct();
    machine.CreateMarkers();
    // A read-only marker refuses deletion with ERROR_ACCESS_DENIED.
    ASSERT_EQ(0, machine.W32({"attrib", "+r", product + "\\InstText.txt"}).exitCode);
    kit::RunResult r = machine.Run("SpanGuard.exe", {});
    EXPECT_EQ(0, r.exitCode);
    EXPECT_LT(r.seconds, 30.0);  // 110 s of machine time, accelerated
    kit::Log log = machine.InstallLog();
    std::string locked = product + "\\InstText.txt";
    EXPECT_EQ(100, log.Count("ファイルの削除失敗したためリトライします。(" + locked + ")"));
    const kit::LogEntry& last_for_locked = log.entries[log.entries.size() - 3];
    EXPECT_EQ("ファイルの削除に失敗しました。(" + locked + ")", last_for_locked.text);
    EXPECT_EQ("警告", last_for_locked.level);
    EXPECT_EQ(5, last_for_locked.code);
    EXPECT_EQ("ファイルの削除に成功しました。(" + product + "\\InstComplete.txt)", log.entries.back().text);
    EXPECT_EQ((std::vector<std::string>{"InstText.txt"}), machine.Markers());
}

TEST(RunFrame, DatesOpenSectionsAndAKnownDateAppendsToItsOwn) {
    kit::Machine machine(true, "2026-12-31 23:59:59.500");
    machine.RegisterProduct();
    machine.Run("SpanGuard.exe", {std::string(61, 'x')});  // 8 entries, across midnight
    kit::Log first = machine.InstallLog();
    ASSERT_EQ((std::vector<std::string>{"2026/12/31", "2027/01/01"}), first.sections);
    ASSERT_EQ(0, machine.W32({"clock", "set", "2026-12-31 23:00:00"}).exitCode);
    machine.Run("SpanGuard.exe", {"C:\\x"});  // 4 entries on the first date
    kit::Log second = machine.InstallLog();
    EXPECT_EQ(first.sections, second.sections);
    ASSERT_EQ(first.entries.size() + 4, second.entries.size());
    size_t onFirstDay = 0;
    for (auto& e : first.entries) onFirstDay += e.section == "2026/12/31";
    // The new entries stand at the end of their own day's section.
    EXPECT_EQ("パス長はオーバーしていません。", second.entries[onFirstDay + 3].text);
    EXPECT_EQ("2026/12/31", second.entries[onFirstDay + 3].section);
    EXPECT_EQ("2027/01/01", second.entries[onFirstDay + 4].section);
}

TEST(Machine, ProgramsRefuseToRunWithoutAMachine) {
    kit::Machine machine;
    kit::RunResult r = machine.Run("SpanGuard.exe", {"C:\\x"}, {{"W32_MACHINE", ""}});
    EXPECT_NE(0, r.exitCode);
    EXPECT_NE(std::string::npos, r.err.find("W32_MACHINE"));
}

}  // namespace
