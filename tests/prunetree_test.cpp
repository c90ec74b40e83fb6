// PruneTree: removing a folder tree with retries, on a fresh machine.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>

#include "kit_test.h"

namespace {

const char kRemoved[] = "フォルダ削除に成功しました。";
const char kTreeFailed[] = "再帰フォルダコピーに失敗しました。";
const std::string kTarget = "C:\\Program Files\\Tessaly\\old jre";

class PruneTreeTest : public ::testing::Test {
protected:
    void SetUp() override {
        machine.RegisterProduct();
        machine.CreateMarkers();
    }
    std::string FileRetry(const std::string& path) const {
        return "ファイルの削除に失敗したためリトライします。(" + path + "))";
    }
    std::string FolderRetry(const std::string& path) const { return "フォルダの削除に失敗しました(" + path + ")"; }
    kit::Running Hold(const std::string& path, const std::string& ms, bool asCurrentFolder = false) const {
        std::vector<std::string> args{"hold"};
        if (asCurrentFolder) args.push_back("--cwd");
        args.push_back(path);
        args.push_back(ms);
        kit::Running holder = machine.Start("w32", args);
        EXPECT_TRUE(holder.WaitForOutput("holding"));
        return holder;
    }
    // The failure reported where it happened: its warning, the marker
    // clean-up, one box.
    void ExpectReportedFailure(const kit::Log& log, size_t at, const std::string& warning, long code) const {
        ASSERT_GT(log.entries.size(), at + 4);
        EXPECT_EQ(warning, log.entries[at].text);
        EXPECT_EQ("警告", log.entries[at].level);
        EXPECT_EQ(code, log.entries[at].code);
        for (size_t i = at + 1; i <= at + 4; ++i)
            EXPECT_EQ(0u, log.entries[i].text.find("ファイルの削除に成功しました。(")) << log.entries[i].text;
        std::string why;
        EXPECT_TRUE(kit::FailureReported(machine, &why)) << why;
    }
    kit::Machine machine;
};

struct TreeCase {
    const char* name;
    std::function<void(const kit::Machine&)> build;  // below kTarget
    std::vector<std::string> keep;                   // outside kTarget, must survive
};

class PruneTreeRemovesTest : public PruneTreeTest, public ::testing::WithParamInterface<TreeCase> {};

TEST_P(PruneTreeRemovesTest, RemovesTheWholeTree) {
    machine.MakeDirs(kTarget);
    GetParam().build(machine);
    kit::RunResult r = machine.Run("PruneTree.exe", {kTarget});
    EXPECT_EQ(1, r.exitCode) << r.err;
    EXPECT_EQ((std::vector<std::string>{"処理開始", "チェック対象パス(" + kTarget + ")", kRemoved}),
              machine.InstallLog().Texts());
    EXPECT_FALSE(machine.Exists(kTarget));
    for (auto& path : GetParam().keep) EXPECT_TRUE(machine.Exists(path)) << path;
    EXPECT_TRUE(machine.Boxes().empty());
    EXPECT_EQ(4u, machine.Markers().size());
}

void Attrib(const kit::Machine& m, const std::string& flag, const std::string& path) {
    ASSERT_EQ(0, m.W32({"attrib", flag, path}).exitCode);
}

void Link(const kit::Machine& m, const std::string& link, const std::string& target) {
    ASSERT_EQ(0, symlink(m.Host(target).c_str(), m.Host(link).c_str()));
}

INSTANTIATE_TEST_SUITE_P(
    Table, PruneTreeRemovesTest,
    ::testing::Values(
        TreeCase{"empty_folder", [](const kit::Machine&) {}, {}},
        TreeCase{"read_only_file_deep_in_the_tree",
                 [](const kit::Machine& m) {
                     m.WriteFile(kTarget + "\\bin\\client\\jvm.dll", "x");
                     m.WriteFile(kTarget + "\\lib\\rt.jar", "x");
                     m.MakeDirs(kTarget + "\\lib\\empty");
                     Attrib(m, "+r", kTarget + "\\bin\\client\\jvm.dll");
                 },
                 {}},
        TreeCase{"hidden_and_system_files",
                 [](const kit::Machine& m) {
                     m.WriteFile(kTarget + "\\h.txt", "x");
                     m.WriteFile(kTarget + "\\s.sys", "x");
                     Attrib(m, "+h", kTarget + "\\h.txt");
                     Attrib(m, "+s", kTarget + "\\s.sys");
                 },
                 {}},
        TreeCase{"links_are_removed_as_links",
                 [](const kit::Machine& m) {
                     m.WriteFile("C:\\Outside\\data\\keep.txt", "x");
                     m.WriteFile("C:\\Outside\\file.txt", "x");
                     m.MakeDirs(kTarget + "\\sub");
                     Link(m, kTarget + "\\sub\\to-folder", "C:\\Outside\\data");
                     Link(m, kTarget + "\\to-file", "C:\\Outside\\file.txt");
                     Link(m, kTarget + "\\to-parent", "C:\\Outside");
                 },
                 {"C:\\Outside\\data\\keep.txt", "C:\\Outside\\file.txt"}}),
    [](const ::testing::TestParamInfo<TreeCase>& info) { return std::string(info.param.name); });

TEST_F(PruneTreeTest, ANamedLinkIsRemovedAsTheLink) {
    machine.WriteFile("C:\\Outside\\keep.txt", "x");
    machine.MakeDirs("C:\\Program Files\\Tessaly");
    Link(machine, kTarget, "C:\\Outside");
    EXPECT_EQ(1, machine.Run("PruneTree.exe", {kTarget}).exitCode);
    EXPECT_FALSE(machine.Exists(kTarget));
    EXPECT_TRUE(machine.Exists("C:\\Outside\\keep.txt"));
}

struct MissingCase {
    const char* name;
    std::string commandLine;
};

class PruneTreeNotFoundTest : public PruneTreeTest, public ::testing::WithParamInterface<MissingCase> {};

TEST_P(PruneTreeNotFoundTest, CountsAsRemovedAndTouchesNothing) {
    machine.WriteFile(kTarget + "\\f.txt", "x");
    const std::string& line = GetParam().commandLine;
    kit::RunResult r = machine.Run("PruneTree.exe", {line});
    EXPECT_EQ(1, r.exitCode);
    EXPECT_EQ((std::vector<std::string>{"処理開始", "チェック対象パス(" + line + ")",
                                        "フォルダは見つかりませんでした。(" + line + ")", kRemoved}),
              machine.InstallLog().Texts());
    EXPECT_TRUE(machine.Exists(kTarget + "\\f.txt"));
    EXPECT_TRUE(machine.Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(Table, PruneTreeNotFoundTest,
                         ::testing::Values(MissingCase{"missing_folder", "C:\\Program Files\\Tessaly\\none"},
                                           MissingCase{"missing_parent", "C:\\nowhere\\none"},
                                           MissingCase{"quoted_path_is_taken_with_its_quotes", "\"" + kTarget + "\""}),
                         [](const ::testing::TestParamInfo<MissingCase>& info) { return std::string(info.param.name); });

TEST_F(PruneTreeTest, APathNamingAFileFailsTheSearchOnce) {
    std::string file = "C:\\Program Files\\Tessaly\\file.txt";
    machine.WriteFile(file, "x");
    kit::RunResult r = machine.Run("PruneTree.exe", {file});
    EXPECT_EQ(0, r.exitCode);
    kit::Log log = machine.InstallLog();
    ExpectReportedFailure(log, 2, "フォルダ内の検索に失敗しました(" + file + ")", 267);
    ASSERT_EQ(8u, log.entries.size());
    EXPECT_EQ(kTreeFailed, log.entries[7].text);
    EXPECT_EQ("警告", log.entries[7].level);
    EXPECT_TRUE(machine.Exists(file));
}

TEST_F(PruneTreeTest, AFileHeldForAWhileIsDeletedByTheFirstAttemptAfterItsRelease) {
    std::string held = kTarget + "\\lib\\rt.jar";
    machine.WriteFile(held, "x");
    machine.WriteFile(kTarget + "\\zz.txt", "x");
    kit::Running holder = Hold(held, "3500");
    kit::RunResult r = machine.Run("PruneTree.exe", {kTarget});
    EXPECT_EQ(0, holder.Wait());
    EXPECT_EQ(1, r.exitCode);
    kit::Log log = machine.InstallLog();
    int retries = log.Count(FileRetry(held));
    EXPECT_GE(retries, 1);  // at least one refusal while held; how many depends on the start-up time
    EXPECT_LE(retries, 5);
    EXPECT_EQ(3u + retries, log.entries.size());
    EXPECT_EQ(kRemoved, log.entries.back().text);
    EXPECT_FALSE(machine.Exists(kTarget));
}

struct StubbornCase {
    const char* name;
    std::string held;      // below kTarget; "" for kTarget itself
    bool asCurrentFolder;  // held as another program's current folder, else open
    bool file;             // a file of the tree, else a folder
};

class PruneTreeStubbornTest : public PruneTreeTest, public ::testing::WithParamInterface<StubbornCase> {};

TEST_P(PruneTreeStubbornTest, FailsAfterAHundredAttemptsWithOneReport) {
    const StubbornCase& c = GetParam();
    std::string held = c.held.empty() ? kTarget : kTarget + "\\" + c.held;
    machine.WriteFile(kTarget + "\\lib\\a.txt", "x");
    if (c.file)
        machine.WriteFile(held, "x");
    else
        machine.MakeDirs(held);
    kit::Running holder = Hold(held, "600000", c.asCurrentFolder);
    kit::RunResult r = machine.Run("PruneTree.exe", {kTarget});
    EXPECT_EQ(0, r.exitCode);
    EXPECT_LT(r.seconds, 60.0);
    kit::Log log = machine.InstallLog();
    std::string retry = c.file ? FileRetry(held) : FolderRetry(held);
    // A folder's retry entry and its final warning share their text.
    int retries = 0;
    size_t last = 0;
    for (size_t i = 0; i < log.entries.size(); ++i)
        if (log.entries[i].text == retry && log.entries[i].level == "情報") {
            ++retries;
            last = i;
        }
    EXPECT_EQ(100, retries);
    std::string warning = c.file ? "ファイルの削除に失敗しました(" + held + "))" : FolderRetry(held);
    ExpectReportedFailure(log, last + 1, warning, 32);
    if (c.held.empty()) {
        EXPECT_EQ(last + 6, log.entries.size());  // the named folder: no tree failure entry
    } else {
        ASSERT_EQ(last + 7, log.entries.size());
        EXPECT_EQ(kTreeFailed, log.entries.back().text);
    }
    EXPECT_TRUE(machine.Exists(held));
}

INSTANTIATE_TEST_SUITE_P(Table, PruneTreeStubbornTest,
                         ::testing::Values(StubbornCase{"file_held_open", "lib\\b.txt", false, true},
                                           StubbornCase{"subfolder_is_a_current_folder", "sub", true, false},
                                           StubbornCase{"named_folder_is_a_current_folder", "", true, false}),
                         [](const ::testing::TestParamInfo<StubbornCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(PruneTreeTest, AFileRemovedByAnotherProgramMeanwhileIsNotAFailure) {
    std::string held = kTarget + "\\lib\\rt.jar";
    machine.WriteFile(held, "x");
    kit::Running holder = Hold(held, "600000");
    kit::Running prune = machine.Start("PruneTree.exe", {kTarget});
    // Once the deletion has failed, the other program removes the file.
    ASSERT_TRUE(kit::WaitForLogText(machine, FileRetry(held)));
    ASSERT_EQ(0, unlink(machine.Host(held).c_str()));
    EXPECT_EQ(1, prune.Wait());
    kit::Log log = machine.InstallLog();
    EXPECT_LT(log.Count(FileRetry(held)), 100);
    EXPECT_EQ(1, log.Count("ファイルは存在しませんでした。(" + held + ")"));
    EXPECT_EQ(kRemoved, log.entries.back().text);
    EXPECT_FALSE(machine.Exists(kTarget));
    EXPECT_TRUE(machine.Boxes().empty());
    EXPECT_EQ(4u, machine.Markers().size());
}

struct LongCase {
    const char* name;
    std::string folder;  // a folder below C:\T that the tree holds
    std::string file;    // a file in it ("" for none)
    std::string refused; // the path in the warning
};

class PruneTreeLongPathTest : public PruneTreeTest, public ::testing::WithParamInterface<LongCase> {};

TEST_P(PruneTreeLongPathTest, RefusesAPathThatDoesNotFitAndCutsNothing) {
    const LongCase& c = GetParam();
    // Made on the host: Windows programs meet such trees too.
    machine.MakeDirs("C:\\T\\" + c.folder);
    if (!c.file.empty()) machine.WriteFile("C:\\T\\" + c.folder + "\\" + c.file, "x");
    kit::RunResult r = machine.Run("PruneTree.exe", {"C:\\T"});
    EXPECT_EQ(0, r.exitCode);
    kit::Log log = machine.InstallLog();
    ExpectReportedFailure(log, 2, "パスが長すぎます。(" + c.refused + ")", 206);
    EXPECT_EQ(kTreeFailed, log.entries.back().text);
    EXPECT_TRUE(machine.Exists("C:\\T\\" + c.folder));
}

INSTANTIATE_TEST_SUITE_P(
    Table, PruneTreeLongPathTest,
    ::testing::Values(LongCase{"entry_path", std::string(200, 'd'), std::string(60, 'f'),
                               "C:\\T\\" + std::string(200, 'd') + "\\" + std::string(60, 'f')},
                      LongCase{"search_pattern", std::string(253, 'd'), "",
                               "C:\\T\\" + std::string(253, 'd') + "\\*.*"}),
    [](const ::testing::TestParamInfo<LongCase>& info) { return std::string(info.param.name); });

}  // namespace
