// Writes the stand-in FPGA configuration image of the time-interval-counter
// board: 131,018 bytes, the same on every run. The real image is product data
// that this build does not have; the simulated board only stores what it
// receives, so any fixed content will do. It begins with a readable tag.
#include <cstdint>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: rbfgen <output file>\n");
        return 2;
    }
    const std::size_t cb = 131018;
    static const char szTag[] = "stand-in configuration image 04b453160000-0131, not product data\n";
    std::FILE* pf = std::fopen(argv[1], "wb");
    if (!pf) {
        std::perror(argv[1]);
        return 1;
    }
    uint32_t x = 0x5316;  // fixed seed: the image is reproducible
    for (std::size_t i = 0; i < cb; ++i) {
        x = x * 1103515245u + 12345u;
        unsigned char b = i < std::strlen(szTag) ? static_cast<unsigned char>(szTag[i])
                                                 : static_cast<unsigned char>(x >> 16);
        std::fputc(b, pf);
    }
    return std::fclose(pf) == 0 ? 0 : 1;
}
