// Replays fuzz inputs without libFuzzer: each argument is a file or a folder of files, and every
// file is handed once to LLVMFuzzerTestOneInput. A crash or sanitizer report fails the run.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace
{
int ReplayFile(const std::filesystem::path& inPath)
{
    std::ifstream in(inPath, std::ios::binary);
    if (!in)
    {
        std::fprintf(stderr, "cannot read %s\n", inPath.c_str());
        return 1;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Copy into an exact-size heap block so that AddressSanitizer sees reads past the input.
    std::vector<uint8_t> exact(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    int failures = 0;
    int count = 0;
    for (int i = 1; i < argc; ++i)
    {
        std::filesystem::path arg(argv[i]);
        if (std::filesystem::is_directory(arg))
        {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(arg))
            {
                if (entry.is_regular_file())
                {
                    failures += ReplayFile(entry.path());
                    ++count;
                }
            }
        }
        else
        {
            failures += ReplayFile(arg);
            ++count;
        }
    }
    std::printf("replayed %d inputs\n", count);
    return failures == 0 ? 0 : 1;
}
