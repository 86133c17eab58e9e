// A folder of a test's own for the files it writes: made fresh in the test
// folder (testing::TempDir()) under a name no one had before, so that neither
// a run beside it nor what another user's run left there can be in it, and
// removed with all it holds when the test is done. Making it, writing into it
// and removing it are checked: a step that fails fails the test.
#pragma once

#include <gtest/gtest.h>

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace kvtest {

// Writes sg as the whole file p; false, and a failure of the test, when the
// file cannot be written whole.
inline bool writeFile(const std::filesystem::path& p, const std::string& sg)
{
    std::ofstream os(p, std::ios::binary | std::ios::trunc);
    os.write(sg.data(), static_cast<std::streamsize>(sg.size()));
    os.close();
    if (!os) {
        ADD_FAILURE() << "cannot write " << p.string();
        return false;
    }
    return true;
}

class ScratchDir {
public:
    // A fresh, empty folder "<prefix>.XXXXXX" in the test folder.
    explicit ScratchDir(const std::string& sgPrefix = "kvtest")
    {
        std::string sg = testing::TempDir() + sgPrefix + ".XXXXXX";
        if (mkdtemp(sg.data()))
            _dir = sg;
        else
            ADD_FAILURE() << "cannot make a folder " << sg << ": " << strerror(errno);
    }
    ~ScratchDir()
    {
        if (_dir.empty())
            return;
        std::error_code ec;
        std::filesystem::remove_all(_dir, ec);
        if (ec || std::filesystem::symlink_status(_dir).type() != std::filesystem::file_type::not_found)
            ADD_FAILURE() << "cannot remove " << _dir.string() << ": " << ec.message();
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // Empty when the folder could not be made.
    const std::filesystem::path& path() const { return _dir; }
    // The path of a name in the folder, as text.
    std::string operator/(const std::string& sgName) const { return (_dir / sgName).string(); }
    // Writes the file sgName of the folder (see writeFile); a name that
    // would lead out of it is refused.
    bool write(const std::string& sgName, const std::string& sg) const
    {
        if (std::filesystem::path(sgName).is_absolute()) {
            ADD_FAILURE() << "not a name in the folder: " << sgName;
            return false;
        }
        return writeFile(_dir / sgName, sg);
    }

private:
    std::filesystem::path _dir;
};

}  // namespace kvtest
