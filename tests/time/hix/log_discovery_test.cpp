// Where the burst log goes: the file looked for when the library is loaded,
// in the current directory, else in the profile directory; what is said on
// the standard error stream; nothing logged and nothing created without it.
#include <gtest/gtest.h>

#include <string>

#include "log_rig.h"

namespace hixlogtest {
namespace {

// The log of a library whose only call is hix_burst_fini(0) at 1000 ms and
// which is unloaded at 2000 ms.
const char szFiniLog[] = "0001000 [0] hix_fini -> stat=good () 0\n0002000 ";

class LogDiscovery : public LogRig {
protected:
    // Loads, makes the one call, unloads; what went to the standard error
    // stream.
    std::string run()
    {
        testing::internal::CaptureStderr();
        if (lib.load()) {
            callAt(1000, [&] { return lib.fini(0); });
            kvclock::setManualMs(2000);
            lib.unload();
        }
        return testing::internal::GetCapturedStderr();
    }
};

TEST_F(LogDiscovery, WhereTheLogGoes)
{
    enum Where { None, Cwd, Profile };
    const struct Case {
        const char* name;
        bool fCwdFile;
        bool fProfileFile;
        bool fProfileSet;
        bool fLongProfile;
        Where eLog;
        const char* szErr;  // %s: the path of the profile's log file
    } cases[] = {
        {"no file", false, false, true, false, None, ""},
        {"current directory", true, false, true, false, Cwd, "logging enabled: kvdiag.log\n"},
        {"profile directory", false, true, true, false, Profile, "logging enabled: %s\n"},
        {"the current directory wins", true, true, true, false, Cwd, "logging enabled: kvdiag.log\n"},
        {"no profile, current directory", true, false, false, false, Cwd, "logging enabled: kvdiag.log\n"},
        {"no profile, no file", false, false, false, false, None,
         "Warning: can't get USERPROFILE environment variable\n"},
        // A value that does not fit the first buffer is still the whole path.
        {"long profile path", false, true, true, true, Profile, "logging enabled: %s\n"},
        {"long profile path, no file", false, false, true, true, None, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        freshDirs(c.fProfileSet);
        if (c.fLongProfile)
            longProfile();
        if (c.fCwdFile)
            write(cwdLog());
        if (c.fProfileFile)
            write(profileLog());
        std::string sgErr = run();

        std::string sgWant = c.szErr;
        size_t iPath = sgWant.find("%s");
        if (iPath != std::string::npos)
            sgWant.replace(iPath, 2, profileLog().string());
        EXPECT_EQ(sgErr, sgWant);
        EXPECT_EQ(fs::exists(cwdLog()), c.fCwdFile) << "a log file is never created";
        EXPECT_EQ(fs::exists(profileLog()), c.fProfileFile) << "a log file is never created";
        if (c.fCwdFile) {
            EXPECT_EQ(read(cwdLog()), c.eLog == Cwd ? szFiniLog : "");
        }
        if (c.fProfileFile) {
            EXPECT_EQ(read(profileLog()), c.eLog == Profile ? szFiniLog : "");
        }
    }
}

TEST_F(LogDiscovery, LinesAreAppendedToWhatTheFileHeld)
{
    write(cwdLog(), "0000500 an earlier run\n0000600 ");
    run();
    EXPECT_EQ(read(cwdLog()), std::string("0000500 an earlier run\n0000600 ") + szFiniLog);
}

TEST_F(LogDiscovery, TheLogIsDecidedAtLoad)
{
    // The file found at load is the log, and the load says so.
    write(cwdLog());
    testing::internal::CaptureStderr();
    ASSERT_TRUE(lib.load());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "logging enabled: kvdiag.log\n");
    // A file made later in the profile directory, or a change of directory,
    // changes nothing.
    write(profileLog());
    fs::path dirBefore = fs::current_path();
    fs::current_path(_dirProfile);
    testing::internal::CaptureStderr();
    callAt(1000, [&] { return lib.fini(0); });
    callAt(1500, [&] { return lib.fini(1); });
    kvclock::setManualMs(2000);
    lib.unload();
    fs::current_path(dirBefore);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(read(cwdLog()),
              "0001000 [0] hix_fini -> stat=good () 0\n"
              "0001500 [1] hix_fini -> stat=good () 0\n"
              "0002000 ");
    EXPECT_EQ(read(profileLog()), "");

    // A file made after the load is not the log: nothing is said at the
    // first call and nothing reaches it.
    ASSERT_TRUE(fs::remove(cwdLog()));
    ASSERT_TRUE(fs::remove(profileLog()));
    testing::internal::CaptureStderr();
    ASSERT_TRUE(lib.load());
    write(cwdLog());
    callAt(1000, [&] { return lib.fini(0); });
    lib.unload();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(read(cwdLog()), "");

    // Without a profile the warning comes at load too.
    freshDirs(false);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(lib.load());
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Warning: can't get USERPROFILE environment variable\n");
    testing::internal::CaptureStderr();
    callAt(1000, [&] { return lib.fini(0); });
    lib.unload();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(LogDiscovery, AFileThatCannotBeWrittenLeavesTheLogOff)
{
    // A directory of that name opens for reading but takes no lines.
    fs::create_directory(cwdLog());
    EXPECT_EQ(run(), "Warning: can't open kvdiag.log for appending, logging disabled\n");
    EXPECT_TRUE(fs::is_directory(cwdLog()));
    EXPECT_FALSE(fs::exists(profileLog()));
}

}  // namespace
}  // namespace hixlogtest
