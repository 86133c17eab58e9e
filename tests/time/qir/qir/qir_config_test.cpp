// Loading the FPGA configuration from memory, a file and a directory list:
// the message stream, the model check, the file name, and the failures.
#include "qir_fixture.h"

#include <dirent.h>
#include <grp.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "kv_eventually.h"
#include "kv_scratch_dir.h"

using namespace KVdepQir100;
using namespace qir_test;

namespace {

std::string image(size_t cb)
{
    std::string sg(cb, '\0');
    for (size_t i = 0; i < cb; ++i)
        sg[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return sg;
}

size_t cOpenFiles()
{
    size_t c = 0;
    if (DIR* pd = opendir("/proc/self/fd")) {
        while (readdir(pd))
            ++c;
        closedir(pd);
    }
    return c;
}

TEST_F(QirPlexTest, ImageGoesOutInMessagesOf512BytesTheLastFlagged)
{
    struct Row {
        size_t cb;
        size_t cMsgs;
        size_t cbLast;
    };
    for (Row r : {Row{1, 1, 1}, Row{512, 1, 512}, Row{513, 2, 1}, Row{131018, 256, 458}}) {
        SCOPED_TRACE(r.cb);
        size_t iFirst = board.configMsgs().size();
        std::string sg = image(r.cb);
        Dptr dp{sg.size(), sg.data()};
        EXPECT_TRUE(plex.callQirInitData(reinterpret_cast<const char*>(&dp)).isGood()) << text(plex);
        EXPECT_EQ(plex.sgConfig(), "local-data");
        EXPECT_TRUE(board.configImage() == sg);

        std::vector<ConfigMsg> mp(board.configMsgs().begin() + static_cast<ptrdiff_t>(iFirst), board.configMsgs().end());
        ASSERT_EQ(mp.size(), r.cMsgs);
        for (size_t i = 0; i < mp.size(); ++i) {
            bool fLast = i + 1 == mp.size();
            EXPECT_EQ(mp[i].fLast, fLast);
            EXPECT_EQ(mp[i].uTrans, 1u);
            EXPECT_EQ(mp[i].uTiSec + mp[i].uTiNsec, 0u);
            EXPECT_EQ(mp[i].cbData, fLast ? r.cbLast : 512u);
        }
        EXPECT_EQ(queues(*rig.puc()), szIdle);
    }
    EXPECT_EQ(board.requests().at(0).sgCtrl.size(), sizeof(QirCmd));
}

TEST_F(QirPlexTest, ImageIsCopiedAtInit)
{
    std::string sg = image(600);
    Dptr dp{sg.size(), sg.data()};
    QirConfigFunc* ptf = new QirConfigFunc(0);
    ASSERT_TRUE(ptf->initData(reinterpret_cast<const char*>(&dp)).isGood());
    std::string sgSent = sg;
    sg.assign(600, 'x');  // the caller's memory may change once init returned
    ASSERT_TRUE(plex.run(ptf));
    EXPECT_TRUE(board.configImage() == sgSent);
}

TEST(QirConfigModel, OtherModelIsLoadedAndRecordedOnTheMemoryAndFileRoads)
{
    struct Row {
        std::string sgIdent;
        const char* szStatus;
    };
    const Row mp[] = {
        {std::string("\x00\xb4\x04\x16\x53\x00\x00", 7), "stat=good () 0"},
        {std::string("\x00\xb4\x04\x02\x73\x00\x00", 7), "stat=good () 0"},
        {std::string("\x00\xb4\x04\x17\x28\x00\x00", 7), "stat=fail (incompatible device model) 0"},
        {std::string("\x00\xb4\x04\x16\x54\x00\x00", 7), "stat=fail (incompatible device model) 0"},
        {std::string("\x00\xb4\x04\x16", 4), "stat=fail (incompatible device model) 0"},
    };
    std::string sg = image(700);
    kvtest::ScratchDir dir("qir_config_model");
    std::string sgFile = dir / "image.rbf";
    ASSERT_TRUE(dir.write("image.rbf", sg));
    for (const Row& r : mp) {
        SCOPED_TRACE(r.szStatus);
        QirInprocBoard brd;
        brd.setIdentity(r.sgIdent);
        vaq_test::InprocRig rg(brd, &theQir_qir_Proto);
        QirTaskPlex px(rg.puc(), rg.pucIo());
        ASSERT_TRUE(px.callVaqOpen().isGood());
        Dptr dp{sg.size(), sg.data()};
        EXPECT_EQ(text(px.callQirInitData(reinterpret_cast<const char*>(&dp))), r.szStatus);
        EXPECT_EQ(brd.cConfigLoads(), 1);
        px.clear();
        EXPECT_EQ(text(px.callQirInitFile(sgFile.c_str())), r.szStatus);
        EXPECT_EQ(brd.cConfigLoads(), 2);
        EXPECT_TRUE(brd.configImage() == sg);
        EXPECT_EQ(px.sgConfig(), sgFile);
    }
}

TEST(QirConfigStem, FileNameFromSixIdentityBytesAndTheVersion)
{
    const std::string sgHix("\x00\xb4\x04\x16\x53\x00\x00", 7);
    EXPECT_EQ(QirTaskPlex::sgStem(sgHix, 1234), "04b453160000-1234");
    EXPECT_EQ(QirTaskPlex::sgStem(sgHix, 0), "04b453160000-0000");
    EXPECT_EQ(QirTaskPlex::sgStem(sgHix, 7), "04b453160000-0007");
    EXPECT_EQ(QirTaskPlex::sgStem(sgHix, 12345), "04b453160000-12345");
    EXPECT_EQ(QirTaskPlex::sgStem(std::string("\x00\xb4\x04\x16\x53\xff\x80", 7), 131), "04b4531680ff-0131");
    // A byte the identity lacks counts as 0.
    EXPECT_EQ(QirTaskPlex::sgStem(std::string("\x00\xb4\x04\x16\x53\x01", 6), 1), "04b453160001-0001");
    EXPECT_EQ(QirTaskPlex::sgStem(std::string("\x00\xb4", 2), 1), "00b400000000-0001");
}

TEST_F(QirPlexTest, FailedLoadsAndTheirCauses)
{
    struct Row {
        const char* szWhat;
        size_t cb;
        uint32_t eErr;
        bool fWrongAnswer;
        const char* szStatus;
        const char* szStderr;
    };
    const Row mp[] = {
        {"empty image", 0, 0, false, "stat=fail (config init failed) 0, stat=fail (empty image) 0", ""},
        {"board refuses", 1000, 7, false, "stat=fail (config process failed) 0, stat=fail (request failed) 7", ""},
        {"wrong answer", 1000, 0, true,
         "stat=fail (config process failed) 0, stat=fail (unexpected response) 12",
         "unexpected response size=20 type=0xc\n"},
    };
    for (const Row& r : mp) {
        SCOPED_TRACE(r.szWhat);
        plex.clear();
        board.clearRequests();
        board.setConfigError(r.eErr);
        board.setHook([&](const BoardRequest& rq) -> std::optional<std::vector<BoardReply>> {
            if (r.fWrongAnswer && rq.eType == eQirCmd && rq.as<QirCmd>().fLast())
                return std::vector<BoardReply>{BoardReply::of(QirResp())};
            return std::nullopt;
        });
        std::string sg = image(r.cb);
        Dptr dp{sg.size(), sg.data()};
        testing::internal::CaptureStderr();
        plex.callQirInitData(reinterpret_cast<const char*>(&dp));
        EXPECT_EQ(testing::internal::GetCapturedStderr(), r.szStderr);
        EXPECT_EQ(text(plex), r.szStatus);
        EXPECT_EQ(board.requests().size(), (r.cb + 511) / 512);  // an empty image sends nothing
        EXPECT_EQ(queues(*rig.puc()), szIdle);
    }
    // A null descriptor is an empty image too.
    plex.clear();
    plex.callQirInitData(nullptr);
    EXPECT_EQ(text(plex), "stat=fail (config init failed) 0, stat=fail (empty image) 0");
}

TEST_F(QirPlexTest, FileRoad)
{
    kvtest::ScratchDir dir("qir_config_file");
    std::string sgDir = dir.path();
    std::string sg = image(1500);
    ASSERT_TRUE(dir.write("a.rbf", sg));
    ASSERT_TRUE(dir.write("empty.rbf", ""));
    size_t cFiles = cOpenFiles();

    EXPECT_TRUE(plex.callQirInitFile((sgDir + "/a.rbf").c_str()).isGood()) << text(plex);
    EXPECT_TRUE(board.configImage() == sg);
    EXPECT_EQ(plex.sgConfig(), sgDir + "/a.rbf");
    EXPECT_EQ(cOpenFiles(), cFiles);  // closed once the image was read

    EXPECT_EQ(text(plex.callQirInitFile((sgDir + "/none.rbf").c_str())),
              "stat=fail (config init failed) 0, stat=fail (open failed) 0");
    plex.clear();
    EXPECT_EQ(text(plex.callQirInitFile((sgDir + "/empty.rbf").c_str())),
              "stat=fail (config init failed) 0, stat=fail (empty image) 0");
    EXPECT_EQ(cOpenFiles(), cFiles);
    EXPECT_EQ(board.cConfigLoads(), 1);
}

TEST_F(QirPlexTest, PathRoadSearchesTheDirectoriesInOrder)
{
    kvtest::ScratchDir dirA("qir_config_path_a"), dirB("qir_config_path_b");
    std::string sgA = dirA.path(), sgB = dirB.path();
    std::string sg = image(900);
    std::string sgName = "04b453160000-0000.rbf";
    ASSERT_TRUE(dirB.write(sgName, sg));

    EXPECT_TRUE(plex.callQirInitPath({sgA, sgB}, 0).isGood()) << text(plex);
    EXPECT_EQ(plex.sgConfig(), dirB / sgName);
    EXPECT_TRUE(board.configImage() == sg);

    ASSERT_TRUE(dirA.write(sgName, image(10)));
    EXPECT_TRUE(plex.callQirInitPath({sgA, sgB}, 0).isGood());
    EXPECT_EQ(plex.sgConfig(), dirA / sgName);
    EXPECT_EQ(board.configImage().size(), 10u);

    EXPECT_EQ(text(plex.callQirInitPath({sgA, sgB}, 131)),
              "stat=fail (config init failed) 0, stat=fail (open failed) 0");

    // An empty list loads nothing and changes nothing.
    plex.clear();
    board.clearRequests();
    plex.setFailed("incompatible device model", 0, nullptr);
    EXPECT_EQ(text(plex.callQirInitPath({}, 0)), "stat=fail (incompatible device model) 0");
    EXPECT_EQ(board.requests().size(), 0u);
}

// The path road as a second user runs it, in a test folder where an earlier
// run left the file of the same name (another user's when this runs as root);
// what failed, or "".
std::string pathRoadInTestFolder(QirTaskPlex& plex, const QirInprocBoard& board, const std::string& sgTestDir)
{
    setenv("TEST_TMPDIR", sgTestDir.c_str(), 1);
    const std::string sgName = "04b453160000-0000.rbf", sg = image(900);
    std::filesystem::path dirA, dirB;
    {
        kvtest::ScratchDir a("qir_config_path_a"), b("qir_config_path_b");
        dirA = a.path();
        dirB = b.path();
        if (dirA.empty() || dirB.empty() || !b.write(sgName, sg))
            return "the test's folders or its file could not be made";
        if (!plex.callQirInitPath({a.path(), b.path()}, 0).isGood())
            return "the load failed: " + text(plex);
        if (plex.sgConfig() != b / sgName || !(board.configImage() == sg))
            return "loaded " + plex.sgConfig() + " instead of the test's own image";
    }
    if (std::filesystem::exists(dirA) || std::filesystem::exists(dirB))
        return "the test's folders were not removed";
    return "";
}

TEST_F(QirPlexTest, PathRoadAfterAnotherUsersRunFindsTheTestsOwnImage)
{
    // A test folder as /tmp is, holding what an earlier run left under the
    // fixed folder name, which its user may write and the second may not.
    kvtest::ScratchDir dirTest("qir_config_second_user");
    ASSERT_FALSE(dirTest.path().empty());
    const std::string sgTmp = dirTest / "tmp", sgLeft = sgTmp + "/qir_config_path_a";
    ASSERT_EQ(mkdir(sgTmp.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(sgLeft.c_str(), 0700), 0);
    ASSERT_TRUE(kvtest::writeFile(sgLeft + "/04b453160000-0000.rbf", image(10)));
    const bool fRoot = geteuid() == 0;
    ASSERT_EQ(chmod(dirTest.path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(sgTmp.c_str(), 01777), 0);
    // As root the second user is another one; otherwise the folder left is
    // one this user may not write either.
    ASSERT_EQ(chmod(sgLeft.c_str(), fRoot ? 0755 : 0555), 0);

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    ASSERT_NE(pid, -1);
    if (pid == 0) {
        close(fds[0]);
        std::string sgFailed;
        if (fRoot && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            sgFailed = "cannot become another user";
        else
            sgFailed = pathRoadInTestFolder(plex, board, sgTmp + "/");
        ssize_t cb = write(fds[1], sgFailed.data(), sgFailed.size());
        _exit(cb == static_cast<ssize_t>(sgFailed.size()) ? 0 : 1);
    }
    close(fds[1]);
    int st = 0;
    bool fEnded = kvtest::eventually([&] { return waitpid(pid, &st, WNOHANG) == pid; });
    if (!fEnded) {
        kill(pid, SIGKILL);
        waitpid(pid, &st, 0);
    }
    std::string sgFailed;
    char buf[256];
    for (ssize_t cb; (cb = read(fds[0], buf, sizeof buf)) > 0;)
        sgFailed.append(buf, static_cast<size_t>(cb));
    close(fds[0]);
    EXPECT_TRUE(fEnded);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    EXPECT_EQ(sgFailed, "");
    ASSERT_EQ(chmod(sgLeft.c_str(), 0700), 0);  // so that the folder can go
}

TEST(QirConfigLoader, EmptyDirectoryListIsASourcePositionFailure)
{
    QirConfigFunc f(0);
    EXPECT_EQ(text(f.initPath({}, "04b453160000-0000")), "stat=fail (qir) 103");
    EXPECT_EQ(f.psb(), nullptr);
}

TEST(QirConfigPathRoad, HasNoModelCheck)
{
    QirInprocBoard brd;
    brd.setIdentity(std::string("\x00\xb4\x04\x17\x28\x00\x00", 7));
    vaq_test::InprocRig rg(brd, &theQir_qir_Proto);
    QirTaskPlex px(rg.puc(), rg.pucIo());
    ASSERT_TRUE(px.callVaqOpen().isGood());
    kvtest::ScratchDir dir("qir_config_nomodel");
    ASSERT_TRUE(dir.write("04b428170000-0002.rbf", image(20)));
    EXPECT_TRUE(px.callQirInitPath({dir.path()}, 2).isGood()) << text(px);
    EXPECT_EQ(brd.cConfigLoads(), 1);
}

TEST_F(QirPlexTest, DeviceFailureInTheMiddleOfALoad)
{
    kvtest::ScratchDir dir("qir_config_unplug");
    std::string sgDir = dir.path();
    ASSERT_TRUE(dir.write("big.rbf", image(131018)));
    size_t cFiles = cOpenFiles();
    board.breakAt(100);
    EXPECT_EQ(text(plex.callQirInitFile((sgDir + "/big.rbf").c_str())),
              "stat=bad (config process failed) 0, stat=bad (exchange failed) 0, "
              "stat=bad (DeviceIoControl(get) failed) 1167");
    EXPECT_EQ(board.cConfigLoads(), 0);
    EXPECT_EQ(plex.sgConfig(), sgDir + "/big.rbf");
    EXPECT_EQ(cOpenFiles(), cFiles);  // the loader is gone and its file closed
    EXPECT_EQ(queues(*rig.puc()), szIdle);
    EXPECT_EQ(plex.callQirRead(1), -1);  // usable, and bad for good
}

TEST(QirConfigEnv, DirectoriesOfAVariable)
{
    struct Row {
        const char* szValue;  // null: not set
        std::list<std::string> lisg;
    };
    const Row mp[] = {
        {nullptr, {}},
        {"", {}},
        {"a;b", {"a/x", "b/x"}},
        {"a;", {"a/x"}},
        {";a", {"/x", "a/x"}},
        {"a;;b", {"a/x", "/x", "b/x"}},
        {"/opt/fpga", {"/opt/fpga/x"}},
    };
    for (const Row& r : mp) {
        SCOPED_TRACE(r.szValue ? r.szValue : "(unset)");
        if (r.szValue)
            setenv("KV_QIR_TEST_PATH", r.szValue, 1);
        else
            unsetenv("KV_QIR_TEST_PATH");
        EXPECT_EQ(getEnv("KV_QIR_TEST_PATH", "x"), r.lisg);
    }
    unsetenv("KV_QIR_TEST_PATH");
}

}  // namespace
