// UTF-8 to VString and back, against ICU (u_strFromUTF8, u_strToUTF8) and glibc iconv, on five
// classes of text generated here: ASCII, Latin (accented European text), CJK (three-byte
// characters), emoji (four-byte characters), each of 64 KB, and 1 MB of CJK with one character in
// ten ASCII. Each side converts into a buffer it already holds, so the figures compare the
// conversions, not allocation. A sixth case decodes 18,000 short strings (5 to 35 bytes, mostly
// ASCII) each into a new string: a new VString against a new std::u16string filled by ICU, so
// there the figures include what making a string costs. ASCII of 64 KiB and 1 MiB is also widened
// against a memcpy of the 2N bytes written (the memory's limit). After the runs the program
// prints, per class and direction, the time of our code divided by ICU's (below 1: faster),
// from the fastest of five repetitions run in random order.

#include "bench/BenchRunTimes.h"
#include "toolbox/kernel/strings/VString.h"

#include <benchmark/benchmark.h>
#include <unicode/ustring.h>

#include <cstdio>
#include <cstring>
#include <iconv.h>
#include <random>
#include <string>
#include <vector>

using namespace zorn;

namespace
{

constexpr size_t kTextBytes = 64 * 1024;
constexpr size_t kMixedTextBytes = 1024 * 1024;
constexpr int kClassCount = 5;
constexpr int kMixedClass = 4;

void AppendUTF8(std::string& ioText, uint32_t inCode)
{
    if (inCode < 0x80)
    {
        ioText.push_back(static_cast<char>(inCode));
    }
    else if (inCode < 0x800)
    {
        ioText.push_back(static_cast<char>(0xC0 | (inCode >> 6)));
        ioText.push_back(static_cast<char>(0x80 | (inCode & 0x3F)));
    }
    else if (inCode < 0x10000)
    {
        ioText.push_back(static_cast<char>(0xE0 | (inCode >> 12)));
        ioText.push_back(static_cast<char>(0x80 | ((inCode >> 6) & 0x3F)));
        ioText.push_back(static_cast<char>(0x80 | (inCode & 0x3F)));
    }
    else
    {
        ioText.push_back(static_cast<char>(0xF0 | (inCode >> 18)));
        ioText.push_back(static_cast<char>(0x80 | ((inCode >> 12) & 0x3F)));
        ioText.push_back(static_cast<char>(0x80 | ((inCode >> 6) & 0x3F)));
        ioText.push_back(static_cast<char>(0x80 | (inCode & 0x3F)));
    }
}

// About kTextBytes of UTF-8 text of the class, cut at a character boundary.
std::string MakeText(int inClass)
{
    std::string text;
    std::mt19937 random(42);
    const std::string ascii =
        "The quick brown fox jumps over the lazy dog; pack my box with five dozen jugs. ";
    const std::string latin =
        "Le c\xC5\x93ur d\xC3\xA9\xC3\xA7u mais l'\xC3\xA2me plut\xC3\xB4t na\xC3\xAFve, "
        "Lou\xC3\xBFs r\xC3\xAAva de crapa\xC3\xBCter en cano\xC3\xAB au del\xC3\xA0 des "
        "\xC3\xAEles, pr\xC3\xA8s du m\xC3\xA4lstr\xC3\xB6m o\xC3\xB9 br\xC3\xBBlent les "
        "nov\xC3\xA6. ";
    const size_t size = inClass == kMixedClass ? kMixedTextBytes : kTextBytes;
    while (text.size() < size)
    {
        switch (inClass)
        {
        case 0:
            text.append(ascii);
            break;
        case 1:
            text.append(latin);
            break;
        case 2:
            AppendUTF8(text, 0x4E00 + random() % 0x5200);
            break;
        case kMixedClass:
            if (random() % 10 == 0)
            {
                text.push_back(static_cast<char>('a' + random() % 26));
            }
            else
            {
                AppendUTF8(text, 0x4E00 + random() % 0x5200);
            }
            break;
        default:
            AppendUTF8(text, 0x1F600 + random() % 0x50);
            break;
        }
    }
    return text;
}

const char* const kClassNames[] = {"ASCII", "Latin", "CJK", "Emoji", "CJK+10%ASCII 1 MB"};

const std::string& Text(int inClass)
{
    static const std::string sTexts[] = {MakeText(0), MakeText(1), MakeText(2), MakeText(3),
                                         MakeText(kMixedClass)};
    return sTexts[inClass];
}

// Short strings like the fields of a feed of messages: names, words, short phrases; about one in
// five holds an accented or CJK character.
const std::vector<std::string>& ShortTexts()
{
    static const std::vector<std::string> sTexts = []
    {
        std::vector<std::string> texts;
        std::mt19937 random(7);
        for (int i = 0; i < 18000; ++i)
        {
            std::string text;
            size_t length = 5 + random() % 31;
            bool other = random() % 5 == 0;
            while (text.size() < length)
            {
                if (other && random() % 4 == 0)
                {
                    AppendUTF8(text, random() % 2 == 0 ? 0xE0 + random() % 0x20 : 0x4E00 + random() % 0x5200);
                }
                else
                {
                    text.push_back(static_cast<char>(random() % 8 == 0 ? ' ' : 'a' + random() % 26));
                }
            }
            texts.push_back(std::move(text));
        }
        return texts;
    }();
    return sTexts;
}

size_t ShortBytes()
{
    size_t bytes = 0;
    for (const std::string& text : ShortTexts())
    {
        bytes += text.size();
    }
    return bytes;
}

void BM_DecodeShort_Zorn(benchmark::State& state)
{
    const std::vector<std::string>& texts = ShortTexts();
    for (auto _ : state)
    {
        for (const std::string& bytes : texts)
        {
            VString text(bytes.data(), bytes.size(), CharSet::VTC_UTF_8);
            benchmark::DoNotOptimize(text.GetCPointer());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * ShortBytes()));
}

void BM_DecodeShort_ICU(benchmark::State& state)
{
    const std::vector<std::string>& texts = ShortTexts();
    for (auto _ : state)
    {
        for (const std::string& bytes : texts)
        {
            std::u16string text(bytes.size(), u'\0');
            int32_t length = 0;
            UErrorCode error = U_ZERO_ERROR;
            u_strFromUTF8(reinterpret_cast<UChar*>(text.data()), static_cast<int32_t>(text.size()), &length,
                          bytes.data(), static_cast<int32_t>(bytes.size()), &error);
            text.resize(static_cast<size_t>(length));
            benchmark::DoNotOptimize(text.data());
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * ShortBytes()));
}

VString Decoded(int inClass)
{
    VString text;
    text.FromBlock(Text(inClass).data(), Text(inClass).size(), CharSet::VTC_UTF_8);
    return text;
}

void BM_Decode_Zorn(benchmark::State& state)
{
    const std::string& input = Text(static_cast<int>(state.range(0)));
    VString text;
    for (auto _ : state)
    {
        text.FromBlock(input.data(), input.size(), CharSet::VTC_UTF_8);
        benchmark::DoNotOptimize(text.GetCPointer());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void BM_Decode_ICU(benchmark::State& state)
{
    const std::string& input = Text(static_cast<int>(state.range(0)));
    std::vector<UChar> units(input.size() + 1);
    for (auto _ : state)
    {
        int32_t length = 0;
        UErrorCode error = U_ZERO_ERROR;
        u_strFromUTF8(units.data(), static_cast<int32_t>(units.size()), &length, input.data(),
                      static_cast<int32_t>(input.size()), &error);
        benchmark::DoNotOptimize(units.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void BM_Decode_Iconv(benchmark::State& state)
{
    const std::string& input = Text(static_cast<int>(state.range(0)));
    std::vector<char> units(input.size() * 2 + 2);
    iconv_t converter = iconv_open("UTF-16LE", "UTF-8");
    for (auto _ : state)
    {
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(input.data());
        size_t inLeft = input.size();
        char* out = units.data();
        size_t outLeft = units.size();
        iconv(converter, &in, &inLeft, &out, &outLeft);
        benchmark::DoNotOptimize(units.data());
    }
    iconv_close(converter);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void BM_Encode_Zorn(benchmark::State& state)
{
    int textClass = static_cast<int>(state.range(0));
    VString text = Decoded(textClass);
    std::vector<char> bytes(Text(textClass).size() + 1);
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(text.ToBlock(bytes.data(), bytes.size(), CharSet::VTC_UTF_8, false, false));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Text(textClass).size()));
}

void BM_Encode_ICU(benchmark::State& state)
{
    int textClass = static_cast<int>(state.range(0));
    VString text = Decoded(textClass);
    std::vector<char> bytes(Text(textClass).size() + 1);
    for (auto _ : state)
    {
        int32_t length = 0;
        UErrorCode error = U_ZERO_ERROR;
        u_strToUTF8(bytes.data(), static_cast<int32_t>(bytes.size()), &length,
                    reinterpret_cast<const UChar*>(text.GetCPointer()), text.GetLength(), &error);
        benchmark::DoNotOptimize(bytes.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Text(textClass).size()));
}

void BM_Encode_Iconv(benchmark::State& state)
{
    int textClass = static_cast<int>(state.range(0));
    VString text = Decoded(textClass);
    std::vector<char> bytes(Text(textClass).size() + 1);
    iconv_t converter = iconv_open("UTF-8", "UTF-16LE");
    for (auto _ : state)
    {
        iconv(converter, nullptr, nullptr, nullptr, nullptr);
        char* in = reinterpret_cast<char*>(const_cast<UniChar*>(text.GetCPointer()));
        size_t inLeft = static_cast<size_t>(text.GetLength()) * 2;
        char* out = bytes.data();
        size_t outLeft = bytes.size();
        iconv(converter, &in, &inLeft, &out, &outLeft);
        benchmark::DoNotOptimize(bytes.data());
    }
    iconv_close(converter);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Text(textClass).size()));
}

void ClassArgs(benchmark::internal::Benchmark* inBenchmark)
{
    for (int textClass = 0; textClass < kClassCount; ++textClass)
    {
        inBenchmark->Arg(textClass);
    }
}

BENCHMARK(BM_Decode_Zorn)->Apply(ClassArgs);
BENCHMARK(BM_Decode_ICU)->Apply(ClassArgs);
BENCHMARK(BM_Decode_Iconv)->Apply(ClassArgs);
BENCHMARK(BM_Encode_Zorn)->Apply(ClassArgs);
BENCHMARK(BM_Encode_ICU)->Apply(ClassArgs);
BENCHMARK(BM_Encode_Iconv)->Apply(ClassArgs);
BENCHMARK(BM_DecodeShort_Zorn);
BENCHMARK(BM_DecodeShort_ICU);

// ASCII widening against the memory's own limit: a memcpy of the 2N bytes that the widening
// writes, between buffers held before the timing.
void BM_WidenAscii_Zorn(benchmark::State& state)
{
    const std::string input(static_cast<size_t>(state.range(0)), 'a');
    VString text;
    for (auto _ : state)
    {
        text.FromBlock(input.data(), input.size(), CharSet::VTC_UTF_8);
        benchmark::DoNotOptimize(text.GetCPointer());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * input.size()));
}

void BM_WidenAscii_Memcpy2N(benchmark::State& state)
{
    const std::vector<char> source(2 * static_cast<size_t>(state.range(0)), 'a');
    std::vector<char> target(source.size());
    for (auto _ : state)
    {
        std::memcpy(target.data(), source.data(), source.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * source.size() / 2));
}

BENCHMARK(BM_WidenAscii_Zorn)->Arg(64 * 1024)->Arg(1024 * 1024);
BENCHMARK(BM_WidenAscii_Memcpy2N)->Arg(64 * 1024)->Arg(1024 * 1024);

std::string Name(const char* inDirection, const char* inSide, int inClass)
{
    char name[64];
    std::snprintf(name, sizeof(name), "BM_%s_%s/%d", inDirection, inSide, inClass);
    return name;
}

// Per class and direction, our time and iconv's divided by ICU's.
void PrintRatios(const bench::BenchRunTimes& inTimes)
{
    std::printf("\nTime relative to ICU (ours / ICU, iconv / ICU; below 1 is faster than ICU):\n");
    for (const char* direction : {"Decode", "Encode"})
    {
        for (int textClass = 0; textClass < kClassCount; ++textClass)
        {
            double ours =
                inTimes.Ratio(Name(direction, "Zorn", textClass), Name(direction, "ICU", textClass));
            double iconvRatio =
                inTimes.Ratio(Name(direction, "Iconv", textClass), Name(direction, "ICU", textClass));
            if (ours < 0)
            {
                continue;
            }
            std::printf("  %s %-17s ours %.2f", direction, kClassNames[textClass], ours);
            if (iconvRatio >= 0)
            {
                std::printf("  iconv %.2f", iconvRatio);
            }
            std::printf("\n");
        }
    }
    for (const char* size : {"65536", "1048576"})
    {
        double widen = inTimes.Ratio(std::string("BM_WidenAscii_Memcpy2N/") + size,
                                     std::string("BM_WidenAscii_Zorn/") + size);
        if (widen >= 0)
        {
            std::printf("  Widen %s ASCII bytes: memcpy of 2N / ours %.2f (above 1 is faster)\n", size,
                        widen);
        }
    }
    double shortRatio = inTimes.Ratio("BM_DecodeShort_Zorn", "BM_DecodeShort_ICU");
    if (shortRatio >= 0)
    {
        std::printf("  Decode short strings, each a new string: ours %.2f\n", shortRatio);
    }
}

} // namespace

int main(int argc, char** argv)
{
    return bench::RunWithRatios(argc, argv, PrintRatios);
}
