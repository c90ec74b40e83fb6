// Erase: deleting one file with retries, on a fresh machine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>

#include "kit_test.h"

namespace {

const char kDeleted[] = "ファイルを削除しました。";
const std::string kFile = "C:\\Program Files\\Tessaly\\old file.txt";

std::string Retry(const std::string& path) { return "ファイルの削除に失敗したためリトライします。(" + path + ")"; }
std::string NotPresent(const std::string& path) { return "ファイルは存在しませんでした。(" + path + ")"; }

class EraseTest : public ::testing::Test {
protected:
    void SetUp() override {
        machine.RegisterProduct();
        machine.CreateMarkers();
        machine.WriteFile(kFile, "x");
    }
    kit::Machine machine;
};

struct EraseCase {
    const char* name;
    std::string commandLine;
    std::function<void(const kit::Machine&)> setup;
    std::vector<std::string> then;  // entries after the frame's two
    long code;                      // of the failure warning; -1 when the tool succeeds
};

class EraseCaseTest : public EraseTest, public ::testing::WithParamInterface<EraseCase> {};

TEST_P(EraseCaseTest, DeletesOrReportsOnce) {
    const EraseCase& c = GetParam();
    if (c.setup) c.setup(machine);
    kit::RunResult r = machine.Run("Erase.exe", {c.commandLine});
    EXPECT_LT(r.seconds, 60.0);
    kit::Log log = machine.InstallLog();
    std::vector<std::string> texts = log.Texts();
    ASSERT_GE(texts.size(), 2u + c.then.size()) << r.err;
    EXPECT_EQ("処理開始", texts[0]);
    EXPECT_EQ("チェック対象パス(" + c.commandLine + ")", texts[1]);
    if (c.code < 0) {
        EXPECT_EQ(1, r.exitCode);
        EXPECT_EQ(c.then, std::vector<std::string>(texts.begin() + 2, texts.end()));
        EXPECT_TRUE(machine.Boxes().empty());
        EXPECT_EQ(4u, machine.Markers().size());
        return;
    }
    EXPECT_EQ(0, r.exitCode);
    ASSERT_EQ(2u + 100u + 1u + 4u, texts.size());
    for (size_t i = 2; i < 102; ++i) EXPECT_EQ(Retry(c.commandLine), texts[i]);
    EXPECT_EQ("ファイルの削除に失敗しました。", texts[102]);
    EXPECT_EQ("警告", log.entries[102].level);
    EXPECT_EQ(c.code, log.entries[102].code);
    EXPECT_TRUE(machine.Exists(c.commandLine));
    std::string why;
    EXPECT_TRUE(kit::FailureReported(machine, &why)) << why;
}

void Attrib(const kit::Machine& m, const std::string& flag, const std::string& path) {
    ASSERT_EQ(0, m.W32({"attrib", flag, path}).exitCode);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EraseCaseTest,
    ::testing::Values(
        EraseCase{"existing_file", kFile, nullptr, {kDeleted}, -1},
        EraseCase{"hidden_system_file", kFile, [](const kit::Machine& m) { Attrib(m, "+h", kFile); Attrib(m, "+s", kFile); },
                  {kDeleted}, -1},
        EraseCase{"missing_file", "C:\\none.txt", nullptr, {NotPresent("C:\\none.txt"), kDeleted}, -1},
        EraseCase{"quoted_path_is_taken_with_its_quotes", "\"" + kFile + "\"", nullptr,
                  {NotPresent("\"" + kFile + "\""), kDeleted}, -1},
        EraseCase{"read_only_file_stays", kFile, [](const kit::Machine& m) { Attrib(m, "+r", kFile); }, {}, 5},
        EraseCase{"folder", "C:\\Program Files\\Tessaly", nullptr, {}, 5}),
    [](const ::testing::TestParamInfo<EraseCase>& info) { return std::string(info.param.name); });

TEST_F(EraseTest, AFileReleasedAfterAFewSecondsIsDeletedByTheNextAttempt) {
    kit::Running holder = machine.Start("w32", {"hold", kFile, "3500"});
    ASSERT_TRUE(holder.WaitForOutput("holding"));
    kit::RunResult r = machine.Run("Erase.exe", {kFile});
    EXPECT_EQ(0, holder.Wait());
    EXPECT_EQ(1, r.exitCode);
    kit::Log log = machine.InstallLog();
    int retries = log.Count(Retry(kFile));
    EXPECT_GE(retries, 1);  // at least one refusal while held; how many depends on the start-up time
    EXPECT_LE(retries, 5);
    EXPECT_EQ(3u + retries, log.entries.size());
    EXPECT_EQ(kDeleted, log.entries.back().text);
    EXPECT_FALSE(machine.Exists(kFile));
}

TEST_F(EraseTest, AFileRemovedByAnotherProgramMeanwhileCountsAsNotPresent) {
    kit::Running holder = machine.Start("w32", {"hold", kFile, "600000"});
    ASSERT_TRUE(holder.WaitForOutput("holding"));
    kit::Running erase = machine.Start("Erase.exe", {kFile});
    ASSERT_TRUE(kit::WaitForLogText(machine, Retry(kFile)));
    ASSERT_EQ(0, unlink(machine.Host(kFile).c_str()));
    EXPECT_EQ(1, erase.Wait());
    std::vector<std::string> texts = machine.InstallLog().Texts();
    ASSERT_GE(texts.size(), 2u);
    EXPECT_EQ((std::vector<std::string>{NotPresent(kFile), kDeleted}),
              std::vector<std::string>(texts.end() - 2, texts.end()));
    EXPECT_LT(machine.InstallLog().Count(Retry(kFile)), 100);
    EXPECT_TRUE(machine.Boxes().empty());
}

}  // namespace
