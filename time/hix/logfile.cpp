#include "logfile.h"

#include <cstdio>
#include <fstream>
#include <vector>

#include "kvwindows.h"

namespace {

const char szLogName[] = "kvdiag.log";
const char szProfileVar[] = "USERPROFILE";

// The directory separator of the file system that the runtime's file streams
// open files on.
#ifdef _WIN32
const char chDirSep = '\\';
#else
const char chDirSep = '/';
#endif

bool exists(const std::string& sgPath)
{
    std::ifstream is(sgPath);
    return is.good();
}

// The value of "USERPROFILE", however long; false when it is not set.
bool profileDir(std::string* psgDir)
{
    std::vector<char> mpch(256, '\0');
    DWORD c = GetEnvironmentVariableA(szProfileVar, mpch.data(), DWORD(mpch.size()));
    // A value that does not fit leaves the buffer as it was and gives the size
    // it needs: ask again with that size, rather than use what is not there.
    for (int k = 0; k < 3 && c >= mpch.size(); ++k) {
        mpch.assign(c + 1, '\0');
        c = GetEnvironmentVariableA(szProfileVar, mpch.data(), DWORD(mpch.size()));
    }
    if (c == 0 || c >= mpch.size())
        return false;
    psgDir->assign(mpch.data(), c);
    return true;
}

}  // namespace

std::string findLogFile()
{
    if (exists(szLogName))
        return szLogName;
    std::string sgDir;
    if (!profileDir(&sgDir)) {
        std::fputs("Warning: can't get USERPROFILE environment variable\n", stderr);
        return std::string();
    }
    std::string sgPath = sgDir + chDirSep + szLogName;
    return exists(sgPath) ? sgPath : std::string();
}
