// AclWiden on a fresh machine: the folder's DACL before and after, the soft
// failures once the volume is known to be NTFS, and the hard ones before.
#include <gtest/gtest.h>

#include <optional>

#include "kit_test.h"

namespace {

const char kFailureBox[] =
    "内部処理に失敗しました。インストールを中断します。\r\n詳細な内容はinstall.logに出力されます。";
const std::string kFolder = "C:\\Program Files\\Tessaly\\data";
const std::string kEnd = "フォルダアクセス権処理終了";

class AclWidenTest : public ::testing::Test {
protected:
    void SetUp() override {
        machine.RegisterProduct();
        machine.CreateMarkers();
        machine.MakeDirs(kFolder);
    }
    void SetDacl(const std::string& path, const std::string& sddl) {
        kit::RunResult r = machine.W32({"acl", path, sddl});
        ASSERT_EQ(0, r.exitCode) << r.err;
    }
    std::string Dacl(const std::string& path) {
        kit::RunResult r = machine.W32({"acl", path});
        EXPECT_EQ(0, r.exitCode) << r.err;
        return r.out.substr(0, r.out.find('\n'));
    }
    kit::Machine machine;
};

struct DaclCase {
    const char* name;
    std::optional<std::string> before;  // none: the descriptor a folder has by default
    std::string after;
};

class AclWidenDaclTest : public AclWidenTest, public ::testing::WithParamInterface<DaclCase> {};

TEST_P(AclWidenDaclTest, AllowEntriesGetFullAccessAndNothingElseChanges) {
    const DaclCase& c = GetParam();
    if (c.before) SetDacl(kFolder, *c.before);
    kit::RunResult r = machine.Run("AclWiden.exe", {kFolder});
    EXPECT_EQ(1, r.exitCode) << r.err;
    EXPECT_EQ((std::vector<std::string>{"処理開始", "チェック対象パス(" + kFolder + ")", "ファイルシステム(NTFS)", kEnd}),
              machine.InstallLog().Texts());
    EXPECT_EQ(c.after, Dacl(kFolder));
    EXPECT_TRUE(machine.Boxes().empty());
    EXPECT_EQ(4u, machine.Markers().size());
}

INSTANTIATE_TEST_SUITE_P(
    Table, AclWidenDaclTest,
    ::testing::Values(
        DaclCase{"allow_read_and_deny",
                 "D:(A;OICI;0x1200a9;;;S-1-5-32-545)(D;;0x10000;;;S-1-5-32-546)",
                 "D:(A;OICI;0x1f01ff;;;S-1-5-32-545)(D;;0x10000;;;S-1-5-32-546)"},
        DaclCase{"deny_first_flags_and_order_kept",
                 "D:(D;CI;0x116;;;S-1-1-0)(A;ID;0x1;;;S-1-5-11)(A;OICIIOID;0x20000000;;;S-1-3-0)",
                 "D:(D;CI;0x116;;;S-1-1-0)(A;ID;0x1f01ff;;;S-1-5-11)(A;OICIIOID;0x1f01ff;;;S-1-3-0)"},
        DaclCase{"other_entry_types_untouched",
                 "D:(AU;SA;0x1;;;S-1-1-0)(0x9;;0x2;;;S-1-1-0)(A;;0x4;;;S-1-5-21-1-2-3-1001)(AL;;0x8;;;S-1-1-0)",
                 "D:(AU;SA;0x1;;;S-1-1-0)(0x9;;0x2;;;S-1-1-0)(A;;0x1f01ff;;;S-1-5-21-1-2-3-1001)(AL;;0x8;;;S-1-1-0)"},
        DaclCase{"protected_and_inherited_marks_kept", "D:PAI(A;OICI;0x1200a9;;;BU)",
                 "D:PAI(A;OICI;0x1f01ff;;;S-1-5-32-545)"},
        DaclCase{"empty_list_written_back", "D:", "D:"},
        DaclCase{"default_descriptor", std::nullopt,
                 "D:AI(A;OICIID;0x1f01ff;;;S-1-5-18)(A;OICIID;0x1f01ff;;;S-1-5-32-544)"
                 "(A;OICIID;0x1f01ff;;;S-1-5-32-545)"}),
    [](const ::testing::TestParamInfo<DaclCase>& info) { return std::string(info.param.name); });

// A DACL of 30 entries for long SIDs: 8 + 30 * 36 bytes, more than the block.
std::string OversizeDacl() {
    std::string sddl = "D:";
    for (int i = 0; i < 30; ++i) sddl += "(A;;0x1;;;S-1-5-21-1111111111-2222222222-3333333333-" + std::to_string(1000 + i) + ")";
    return sddl;
}

struct SoftCase {
    const char* name;
    std::optional<std::string> before;  // none: the folder does not exist
    std::string warning;                // with the folder path
    long code;  // -1: whatever the last error happens to be
};

class AclWidenSoftFailureTest : public AclWidenTest, public ::testing::WithParamInterface<SoftCase> {};

TEST_P(AclWidenSoftFailureTest, IsOneWarningAndExitOneWithTheRightsUnchanged) {
    const SoftCase& c = GetParam();
    std::string folder = c.before ? kFolder : kFolder + "\\missing";
    if (c.before) SetDacl(folder, *c.before);
    kit::RunResult r = machine.Run("AclWiden.exe", {folder});
    EXPECT_EQ(1, r.exitCode);
    kit::Log log = machine.InstallLog();
    ASSERT_EQ(5u, log.entries.size());
    EXPECT_EQ("ファイルシステム(NTFS)", log.entries[2].text);
    EXPECT_EQ(c.warning + "(" + folder + ")", log.entries[3].text);
    EXPECT_EQ("警告", log.entries[3].level);
    if (c.code >= 0) {
        EXPECT_EQ(c.code, log.entries[3].code);
    }
    EXPECT_EQ(kEnd, log.entries[4].text);
    if (c.before) {
        EXPECT_EQ(c.before->empty() ? "" : *c.before, Dacl(folder));
    }
    EXPECT_TRUE(machine.Boxes().empty());
    EXPECT_EQ(4u, machine.Markers().size());
}

INSTANTIATE_TEST_SUITE_P(
    Table, AclWidenSoftFailureTest,
    ::testing::Values(SoftCase{"missing_folder", std::nullopt, "セキュリティ情報の取得に失敗しました", 2},
                      SoftCase{"descriptor_larger_than_the_block", OversizeDacl(),
                               "セキュリティ情報の取得に失敗しました", 122},
                      SoftCase{"no_dacl", "", "随意リストの中身がありませんでした。", -1},
                      SoftCase{"null_dacl", "D:NO_ACCESS_CONTROL", "随意ACLがNULLのため変更しません。", -1}),
    [](const ::testing::TestParamInfo<SoftCase>& info) { return std::string(info.param.name); });

TEST_F(AclWidenTest, FolderOnAnotherFileSystemIsLeftAlone) {
    const std::string folder = "D:\\data";
    machine.MakeDirs(folder);
    ASSERT_EQ(0, machine.W32({"volume", "D:", "--fs", "FAT32"}).exitCode);
    SetDacl(folder, "D:(A;OICI;0x1200a9;;;S-1-5-32-545)");
    kit::RunResult r = machine.Run("AclWiden.exe", {folder});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_EQ((std::vector<std::string>{"処理開始", "チェック対象パス(" + folder + ")", "ファイルシステム(FAT32)", kEnd}),
              machine.InstallLog().Texts());
    EXPECT_EQ("D:(A;OICI;0x1200a9;;;S-1-5-32-545)", Dacl(folder));
}

struct HardCase {
    const char* name;
    std::string path;
    std::string warning;
    long code;  // -1: whatever the last error happens to be
};

class AclWidenHardFailureTest : public AclWidenTest, public ::testing::WithParamInterface<HardCase> {};

TEST_P(AclWidenHardFailureTest, TakesTheFailureExit) {
    const HardCase& c = GetParam();
    kit::RunResult r = machine.Run("AclWiden.exe", {c.path});
    EXPECT_EQ(0, r.exitCode);
    kit::Log log = machine.InstallLog();
    ASSERT_GE(log.entries.size(), 3u);
    EXPECT_EQ(c.warning, log.entries[2].text);
    EXPECT_EQ("警告", log.entries[2].level);
    if (c.code >= 0) {
        EXPECT_EQ(c.code, log.entries[2].code);
    }
    EXPECT_EQ(0, log.Count(kEnd));
    EXPECT_TRUE(machine.Markers().empty());
    auto boxes = machine.Boxes();
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(kFailureBox, boxes[0].text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AclWidenHardFailureTest,
    ::testing::Values(HardCase{"unc_path", "\\\\server\\share\\data", "ネットワークパスには対応していません。", -1},
                      HardCase{"bare_root_of_a_missing_drive", "Q:\\", "ファイルシステム情報の取得に失敗しました。", 3},
                      HardCase{"folder_on_a_missing_drive", "Q:\\data", "ファイルシステム情報の取得に失敗しました。", 3},
                      HardCase{"quoted_path", "\"" + kFolder + "\"", "ファイルシステム情報の取得に失敗しました。", 123}),
    [](const ::testing::TestParamInfo<HardCase>& info) { return std::string(info.param.name); });

TEST_F(AclWidenTest, BareRootOfTheCurrentDriveNamesTheCurrentFolderWhichIsTheRoot) {
    // "C:\" gives the volume root "C:", the current folder of drive C:,
    // which is C:\ where the tools start.
    SetDacl("C:\\", "D:(A;OICI;0x1200a9;;;BU)");
    kit::RunResult r = machine.Run("AclWiden.exe", {"C:\\"});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_EQ("ファイルシステム(NTFS)", machine.InstallLog().Texts()[2]);
    EXPECT_EQ("D:(A;OICI;0x1f01ff;;;S-1-5-32-545)", Dacl("C:\\"));
}

}  // namespace
