// Writes the stand-in firmware tables, one file a image, into a folder:
//   fwgen <folder>          writes <folder>/<image>.inc
//   fwgen --check <folder>  compares the files there with what it would write
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "fwgen.h"

namespace {

std::string pathOf(const std::string& sgDir, const char* szName)
{
    return sgDir + "/" + szName + ".inc";
}

int writeAll(const std::string& sgDir)
{
    for (const KVdepFw100::FwImageInfo& info : KVdepFw100::fwImages()) {
        std::string sgPath = pathOf(sgDir, info._szName);
        std::ofstream os(sgPath, std::ios::binary);
        os << KVdepFw100::fwImageText(info._szName);
        if (!os.flush()) {
            std::fprintf(stderr, "fwgen: cannot write %s\n", sgPath.c_str());
            return 1;
        }
    }
    return 0;
}

int checkAll(const std::string& sgDir)
{
    int cDiffer = 0;
    for (const KVdepFw100::FwImageInfo& info : KVdepFw100::fwImages()) {
        std::string sgPath = pathOf(sgDir, info._szName);
        std::ifstream is(sgPath, std::ios::binary);
        std::ostringstream ss;
        ss << is.rdbuf();
        if (!is || ss.str() != KVdepFw100::fwImageText(info._szName)) {
            std::fprintf(stderr, "fwgen: %s is missing or differs from the generated image\n", sgPath.c_str());
            ++cDiffer;
        }
    }
    if (cDiffer == 0)
        std::printf("fwgen: all %zu images match\n", KVdepFw100::fwImages().size());
    return cDiffer == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--check") != 0)
        return writeAll(argv[1]);
    if (argc == 3 && std::strcmp(argv[1], "--check") == 0)
        return checkAll(argv[2]);
    std::fprintf(stderr, "usage: fwgen <folder> | fwgen --check <folder>\n");
    return 2;
}
