// Capacity on a fresh machine whose drive C: reports the free space each
// case sets.
#include <gtest/gtest.h>

#include "kit_test.h"

namespace {

const char kFailureBox[] =
    "内部処理に失敗しました。インストールを中断します。\r\n詳細な内容はinstall.logに出力されます。";
const unsigned kBoxFlags = 0x00040000u | 0x00000010u;  // MB_TOPMOST | MB_ICONERROR
const std::string kTarget = "C:\\Program Files\\Tessaly";

class CapacityTest : public ::testing::Test {
protected:
    void SetUp() override {
        machine.RegisterProduct();
        machine.CreateMarkers();
    }
    void SetVolume(const std::vector<std::string>& options) {
        std::vector<std::string> args{"volume", "C:"};
        args.insert(args.end(), options.begin(), options.end());
        kit::RunResult r = machine.W32(args);
        ASSERT_EQ(0, r.exitCode) << r.err;
    }
    kit::Machine machine;
};

struct SpaceCase {
    const char* name;
    std::string free;
    std::string quota;    // "" for none
    std::string current;  // the figure reported when refused, "" when accepted
};

class CapacitySpaceTest : public CapacityTest, public ::testing::WithParamInterface<SpaceCase> {};

TEST_P(CapacitySpaceTest, AcceptsFiveHundredMegabytesAvailableToTheUser) {
    const SpaceCase& c = GetParam();
    SetVolume({"--free", c.free});
    if (!c.quota.empty()) SetVolume({"--quota", c.quota});
    kit::RunResult r = machine.Run("Capacity.exe", {kTarget});
    kit::Log log = machine.InstallLog();
    std::vector<std::string> texts = log.Texts();
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ("処理開始", texts[0]);
    EXPECT_EQ("チェック対象パス(" + kTarget + ")", texts[1]);
    auto boxes = machine.Boxes();
    if (c.current.empty()) {
        EXPECT_EQ(1, r.exitCode);
        EXPECT_EQ(3u, texts.size());
        EXPECT_EQ("ディスク容量充足しています。", texts[2]);
        EXPECT_EQ("情報", log.entries[2].level);
        EXPECT_TRUE(boxes.empty());
        EXPECT_EQ(4u, machine.Markers().size());
        return;
    }
    EXPECT_EQ(0, r.exitCode);
    EXPECT_EQ("指定したインストール先に十分なディスク容量がありません(現在:" + c.current + "BYTE、必要量:524288000BYTE)",
              texts[2]);
    EXPECT_EQ("エラー", log.entries[2].level);
    EXPECT_FALSE(log.entries[2].hasCode);
    EXPECT_EQ(7u, texts.size());  // and the four marker entries
    EXPECT_TRUE(machine.Markers().empty());
    ASSERT_EQ(1u, boxes.size());  // the space box instead of the failure box
    EXPECT_EQ("[" + kTarget + "]\r\n指定したインストール先に十分なディスク容量がありません\r\n(現在:" + c.current +
                  "BYTE、必要量:524288000BYTE)\r\nインストール先を検討した上で再度実行してください。",
              boxes[0].text);
    EXPECT_EQ("Setup", boxes[0].caption);
    EXPECT_EQ(kBoxFlags, boxes[0].flags);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CapacitySpaceTest,
    ::testing::Values(SpaceCase{"exactly_the_required_amount", "524288000", "", ""},
                      SpaceCase{"one_byte_less", "524287999", "", "524287999"},
                      SpaceCase{"nothing_free", "0", "", "0"},
                      // Above 4 GiB, with the low 32 bits alone far below the requirement.
                      SpaceCase{"above_4_gib", "4294968296", "", ""},
                      SpaceCase{"far_above_4_gib", "9223372036854775807", "", ""},
                      SpaceCase{"quota_below_the_requirement", "10737418240", "524287999", "524287999"},
                      SpaceCase{"quota_exactly_the_requirement", "10737418240", "524288000", ""},
                      SpaceCase{"quota_above_the_free_space", "1000", "10737418240", "1000"}),
    [](const ::testing::TestParamInfo<SpaceCase>& info) { return std::string(info.param.name); });

struct QueryFailureCase {
    const char* name;
    std::string path;
    long code;
};

class CapacityQueryFailureTest : public CapacityTest, public ::testing::WithParamInterface<QueryFailureCase> {};

TEST_P(CapacityQueryFailureTest, TakesTheFailureExitNotTheSpaceBox) {
    const QueryFailureCase& c = GetParam();
    SetVolume({"--free", "0"});
    machine.WriteFile("C:\\Windows\\file.txt", "x");
    kit::RunResult r = machine.Run("Capacity.exe", {c.path});
    EXPECT_EQ(0, r.exitCode);
    kit::Log log = machine.InstallLog();
    ASSERT_GE(log.entries.size(), 3u);
    EXPECT_EQ("ディスク容量の取得に失敗しました。", log.entries[2].text);
    EXPECT_EQ("警告", log.entries[2].level);
    EXPECT_EQ(c.code, log.entries[2].code);
    EXPECT_TRUE(machine.Markers().empty());
    auto boxes = machine.Boxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(kFailureBox, boxes[0].text);
}

INSTANTIATE_TEST_SUITE_P(Table, CapacityQueryFailureTest,
                         ::testing::Values(QueryFailureCase{"missing_folder", "C:\\no such folder", 3},
                                           QueryFailureCase{"missing_drive", "Q:\\", 3},
                                           QueryFailureCase{"a_file_not_a_folder", "C:\\Windows\\file.txt", 267},
                                           QueryFailureCase{"network_path", "\\\\server\\share\\", 53}),
                         [](const ::testing::TestParamInfo<QueryFailureCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(CapacityTest, EachDriveReportsItsOwnFigure) {
    machine.MakeDirs("D:\\");
    SetVolume({"--free", "524287999"});
    kit::RunResult d = machine.W32({"volume", "D:", "--free", "524288000"});
    ASSERT_EQ(0, d.exitCode) << d.err;
    EXPECT_EQ(1, machine.Run("Capacity.exe", {"D:\\"}).exitCode);
    EXPECT_EQ(0, machine.Run("Capacity.exe", {kTarget}).exitCode);
}

}  // namespace
