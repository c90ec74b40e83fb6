// Provision on a fresh machine, with the stand-in JRE installer in a folder
// whose path holds a blank and a planted "C:\JRE.exe" that an unquoted
// command line would run instead.
#include <gtest/gtest.h>

#include "kit_test.h"

namespace {

const char kFolder[] = "C:\\JRE Setup";
const char kOptions[] = "/s ADDLOCAL=ALL IEXPLORER=1 NETSCAPE=1 MOZILLA=1 REBOOT=Suppress";
const unsigned kCreateNoWindow = 0x08000000u;

struct ProvisionCase {
    const char* name;
    const char* jreCheck;  // nullptr: the variable is missing
    const char* installerExit;
    std::string folder;  // the command line
    int exitCode;
    std::vector<std::string> texts;  // the tool's entries up to its verdict
};

class ProvisionTest : public ::testing::TestWithParam<ProvisionCase> {
protected:
    void SetUp() override {
        machine.RegisterProduct();
        machine.CreateMarkers();
        machine.CopyIn(kit::BinDir() + "/standins/jre-6u15-windows-i586.exe",
                       std::string(kFolder) + "\\jre-6u15-windows-i586.exe");
        machine.WriteScript("C:\\JRE.exe", "#!/bin/sh\necho planted > \"$(dirname \"$0\")/planted.txt\"\n");
    }
    kit::Machine machine;
};

TEST_P(ProvisionTest, JudgesTheInstallerByTheJreCheck) {
    const ProvisionCase& c = GetParam();
    std::map<std::string, std::string> env{{"JRE_STANDIN_EXIT", c.installerExit}};
    if (c.jreCheck) env["QOR_INSTALL_JRE_CHECK"] = c.jreCheck;
    kit::RunResult r = machine.Run("Provision.exe", {c.folder}, env);
    EXPECT_EQ(c.exitCode, r.exitCode) << r.err;
    EXPECT_FALSE(machine.Exists("C:\\planted.txt"));

    kit::Log log = machine.InstallLog();
    std::vector<std::string> texts;
    for (auto& e : log.entries)
        if (e.text.rfind("ファイル", 0) != 0) texts.push_back(e.text);  // without the marker clean-up
    EXPECT_EQ(c.texts, texts);
    auto boxes = machine.Boxes();
    EXPECT_EQ(c.exitCode ? 0u : 1u, boxes.size());
    EXPECT_EQ(c.exitCode ? 4u : 0u, machine.Markers().size());

    auto started = machine.Processes();
    bool ran = c.texts.size() == 5;  // up to its exit code and the verdict
    ASSERT_EQ(ran ? 1u : 0u, started.size());
    if (!ran) return;
    EXPECT_EQ("\"" + c.folder + "\\jre-6u15-windows-i586.exe\" " + kOptions, started[0].cmdline);
    EXPECT_EQ(c.folder + "\\jre-6u15-windows-i586.exe", started[0].image);
    EXPECT_EQ(c.folder, started[0].cwd);
    EXPECT_EQ(kCreateNoWindow, started[0].flags);
    EXPECT_EQ(0, started[0].show);
    EXPECT_NE(std::string::npos, r.out.find(std::string("jre installer: [") + kOptions + "]"));
}

std::vector<std::string> Ran(const std::string& folder, const std::string& code, const std::string& verdict) {
    return {"処理開始", "チェック対象パス(" + folder + ")", "プロセスを起動します。", "終了コード:" + code, verdict};
}

const char kInstalled[] = "JREのインストールに成功しました。";
const char kFailed[] = "JREのインストールに失敗しました。";

INSTANTIATE_TEST_SUITE_P(
    Table, ProvisionTest,
    ::testing::Values(
        ProvisionCase{"missing_jre_installed", "JRE_CHECK_ON", "0", kFolder, 1, Ran(kFolder, "0", kInstalled)},
        ProvisionCase{"missing_jre_install_fails", "JRE_CHECK_ON", "1603", kFolder, 0, Ran(kFolder, "1603", kFailed)},
        ProvisionCase{"present_jre_failure_ignored", "JRE_CHECK_OFF", "1603", kFolder, 1,
                      Ran(kFolder, "1603", kInstalled)},
        ProvisionCase{"other_letter_case_is_not_on", "jre_check_on", "1603", kFolder, 1,
                      Ran(kFolder, "1603", kInstalled)},
        ProvisionCase{"variable_missing", nullptr, "0", kFolder, 0,
                      {"「QOR_INSTALL_JRE_CHECK」の環境変数の取得に失敗しました。"}},
        ProvisionCase{"quoted_folder_keeps_its_quotes", "JRE_CHECK_ON", "0", "\"C:\\JRE Setup\"", 0,
                      {"処理開始", "チェック対象パス(\"C:\\JRE Setup\")", "プロセスを起動します。",
                       "プロセスの起動に失敗しました。"}}),
    [](const ::testing::TestParamInfo<ProvisionCase>& info) { return std::string(info.param.name); });

TEST(ProvisionInstall, RegistersTheRuntime) {
    kit::Machine machine;
    machine.RegisterProduct();
    machine.CopyIn(kit::BinDir() + "/standins/jre-6u15-windows-i586.exe", "C:\\Media\\jre-6u15-windows-i586.exe");
    kit::RunResult r = machine.Run("Provision.exe", {"C:\\Media"}, {{"QOR_INSTALL_JRE_CHECK", "JRE_CHECK_ON"}});
    EXPECT_EQ(1, r.exitCode) << r.err;
    EXPECT_TRUE(machine.Exists("C:\\Program Files\\Java\\jre6\\bin\\java.exe"));
    std::string hive = machine.W32({"reg", "export"}).out;
    EXPECT_NE(std::string::npos, hive.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\JavaSoft\\Java Runtime Environment\\1.6.0_15]"));
    EXPECT_NE(std::string::npos, hive.find("\"JavaHome\"=\"C:\\\\Program Files\\\\Java\\\\jre6\""));
}

}  // namespace
