// Reads a file through a file stream with a buffer of a size the input chooses, in pieces of sizes
// the input chooses, with moves back and forth and bytes given back, and checks every byte
// against one whole read of the file through its descriptor. The first 4 input bytes choose the
// buffer size and seed the piece sizes; the rest is the file.

#include "fuzz/FuzzTasks.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFileDesc.h"
#include "toolbox/files/VFileStream.h"
#include "toolbox/kernel/errors/VErrorContext.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

using namespace zorn;

namespace
{

// The whole file through one descriptor read.
std::vector<uint8_t> ReadWhole(const VFile& inFile)
{
    VFileDesc* desc = nullptr;
    fuzz::Check(inFile.Open(FA_READ, &desc) == VE_OK);
    std::vector<uint8_t> bytes(static_cast<size_t>(desc->GetSize()));
    size_t read = 0;
    fuzz::Check(bytes.empty() || desc->GetData(bytes.data(), bytes.size(), 0, &read) == VE_OK);
    fuzz::Check(read == bytes.size());
    delete desc;
    return bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* inData, size_t inSize)
{
    if (inSize < 4)
    {
        return 0;
    }
    fuzz::StartTasks();
    static const std::string sPath = "/tmp/zorn-fuzz-file-stream-" + std::to_string(::getpid()) + ".bin";
    {
        std::ofstream out(sPath, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(inData + 4), static_cast<std::streamsize>(inSize - 4));
    }
    VRefPtr<VFile> file(new VFile(VString(sPath.c_str()), FPS_POSIX), true);
    StErrorContextInstaller quiet(false, true);
    const std::vector<uint8_t> whole = ReadWhole(*file.Get());
    fuzz::Check(whole.size() == inSize - 4);

    const size_t bufferSize = inData[0] == 0 ? VFileStream::kDefaultBufferSize : 1 + inData[0] % 64;
    uint32_t seed = inData[1] | (uint32_t{inData[2]} << 8) | (uint32_t{inData[3]} << 16);
    auto next = [&seed]
    {
        seed = seed * 1103515245 + 12345;
        return (seed >> 16) & 0x7FFF;
    };

    VFileStream stream(file.Get());
    stream.SetBufferSize(bufferSize);
    fuzz::Check(stream.OpenReading() == VE_OK);
    fuzz::Check(stream.GetSize() == static_cast<int64_t>(whole.size()));
    std::vector<uint8_t> piece;
    for (int step = 0; step < 64 && stream.GetLastError() == VE_OK; ++step)
    {
        const uint32_t choice = next();
        const auto position = static_cast<size_t>(stream.GetPos());
        if (choice % 8 == 0)
        {
            // Somewhere else in the file (or just at its end).
            fuzz::Check(stream.SetPos(static_cast<int64_t>(next() % (whole.size() + 1))) == VE_OK);
            continue;
        }
        if (choice % 8 == 1 && position > 0)
        {
            const size_t back = 1 + next() % position;
            fuzz::Check(stream.UngetData(whole.data() + position - back, back) == VE_OK);
            fuzz::Check(static_cast<size_t>(stream.GetPos()) == position - back);
            continue;
        }
        const size_t wanted = next() % (3 * bufferSize + 2);
        piece.assign(wanted, 0);
        size_t count = 0;
        VError error = stream.GetData(piece.data(), wanted, &count);
        const size_t expected = std::min(wanted, whole.size() - position);
        fuzz::Check(count == expected);
        fuzz::Check(error == (expected < wanted ? VE_STREAM_EOF : VE_OK));
        fuzz::Check(std::equal(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(count),
                               whole.begin() + static_cast<std::ptrdiff_t>(position)));
        fuzz::Check(static_cast<size_t>(stream.GetPos()) == position + count);
    }
    stream.CloseReading();
    ::unlink(sPath.c_str());
    return 0;
}
