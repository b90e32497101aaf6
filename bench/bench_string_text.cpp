// The text forms of strings against their peers, in one program so that the ratios count:
// - GetJSONString (the escaping that the JSON writer rests on) against RapidJSON's UTF-16
//   Writer::String, on 64 KB of ASCII prose, escape-heavy text (quotes, backslashes, controls)
//   and non-ASCII text (Latin and CJK). Both write into an output they already hold.
// - Base64 encoding and decoding of 1 MB against OpenSSL's EVP_EncodeBlock and EVP_DecodeBlock
//   (no line breaks), in MB/s.
// After the runs the program prints each of our times divided by the peer's (below 1: faster),
// from the fastest of five repetitions run in random order.

#include "bench/BenchRunTimes.h"
#include "toolbox/kernel/memory/VMemoryBuffer.h"
#include "toolbox/kernel/strings/Base64Coder.h"
#include "toolbox/kernel/strings/VString.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <rapidjson/encodings.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

using namespace zorn;

namespace
{

constexpr size_t kTextUnits = 64 * 1024;
constexpr size_t kBase64Bytes = 1024 * 1024;

const char* const kClassNames[] = {"ASCII", "Escapes", "Non-ASCII"};

std::u16string MakeText(int inClass)
{
    std::mt19937 random(11);
    const std::u16string ascii =
        u"The quick brown fox jumps over the lazy dog; pack my box with five dozen jugs. ";
    const std::u16string escapes = u"\"key\": \"C:\\\\path\\\\file\"\n\t\x01 \"quoted\" \\ \r\n";
    std::u16string text;
    while (text.size() < kTextUnits)
    {
        switch (inClass)
        {
        case 0:
            text.append(ascii);
            break;
        case 1:
            text.append(escapes);
            break;
        default:
            text.append(u"Caf\xE9 na\xEFve \x4E2D\x6587\x6587\x672C \x65E5\x672C\x8A9E ");
            text.push_back(static_cast<char16_t>(0x4E00 + random() % 0x5200));
            break;
        }
    }
    return text;
}

const std::u16string& Text(int inClass)
{
    static const std::u16string sTexts[] = {MakeText(0), MakeText(1), MakeText(2)};
    return sTexts[inClass];
}

void BM_JSON_Zorn(benchmark::State& state)
{
    const std::u16string& units = Text(static_cast<int>(state.range(0)));
    VString text(reinterpret_cast<const UniChar*>(units.data()), static_cast<int32_t>(units.size()));
    VString json;
    for (auto _ : state)
    {
        text.GetJSONString(json, 1);
        benchmark::DoNotOptimize(json.GetCPointer());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * units.size() * 2));
}

void BM_JSON_RapidJSON(benchmark::State& state)
{
    using UTF16 = rapidjson::UTF16<char16_t>;
    const std::u16string& units = Text(static_cast<int>(state.range(0)));
    rapidjson::GenericStringBuffer<UTF16> buffer;
    for (auto _ : state)
    {
        buffer.Clear();
        rapidjson::Writer<rapidjson::GenericStringBuffer<UTF16>, UTF16, UTF16> writer(buffer);
        writer.String(units.data(), static_cast<rapidjson::SizeType>(units.size()));
        benchmark::DoNotOptimize(buffer.GetString());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * units.size() * 2));
}

const std::vector<unsigned char>& Bytes()
{
    static const std::vector<unsigned char> sBytes = []
    {
        std::vector<unsigned char> bytes(kBase64Bytes);
        std::mt19937 random(5);
        for (unsigned char& byte : bytes)
        {
            byte = static_cast<unsigned char>(random());
        }
        return bytes;
    }();
    return sBytes;
}

const std::string& Encoded()
{
    static const std::string sText = []
    {
        VMemoryBuffer<> buffer;
        Base64Coder::_Encode(Bytes().data(), Bytes().size(), buffer, 0, false);
        return std::string(static_cast<const char*>(buffer.GetDataPtr()), buffer.GetDataSize());
    }();
    return sText;
}

void BM_Base64Encode_Zorn(benchmark::State& state)
{
    VMemoryBuffer<> buffer;
    for (auto _ : state)
    {
        Base64Coder::_Encode(Bytes().data(), Bytes().size(), buffer, 0, false);
        benchmark::DoNotOptimize(buffer.GetDataPtr());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Bytes().size()));
}

void BM_Base64Encode_OpenSSL(benchmark::State& state)
{
    std::vector<unsigned char> text(Encoded().size() + 1);
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(
            EVP_EncodeBlock(text.data(), Bytes().data(), static_cast<int>(Bytes().size())));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Bytes().size()));
}

void BM_Base64Decode_Zorn(benchmark::State& state)
{
    VMemoryBuffer<> buffer;
    for (auto _ : state)
    {
        Base64Coder::Decode(Encoded().data(), Encoded().size(), buffer, false);
        benchmark::DoNotOptimize(buffer.GetDataPtr());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Bytes().size()));
}

void BM_Base64Decode_OpenSSL(benchmark::State& state)
{
    std::vector<unsigned char> bytes(Bytes().size() + 3);
    for (auto _ : state)
    {
        benchmark::DoNotOptimize(EVP_DecodeBlock(bytes.data(),
                                                 reinterpret_cast<const unsigned char*>(Encoded().data()),
                                                 static_cast<int>(Encoded().size())));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Bytes().size()));
}

BENCHMARK(BM_JSON_Zorn)->DenseRange(0, 2);
BENCHMARK(BM_JSON_RapidJSON)->DenseRange(0, 2);
BENCHMARK(BM_Base64Encode_Zorn);
BENCHMARK(BM_Base64Encode_OpenSSL);
BENCHMARK(BM_Base64Decode_Zorn);
BENCHMARK(BM_Base64Decode_OpenSSL);

void PrintRatio(const bench::BenchRunTimes& inTimes, const std::string& inLabel, const std::string& inOurs,
                const std::string& inPeer)
{
    double ratio = inTimes.Ratio(inOurs, inPeer);
    if (ratio >= 0)
    {
        std::printf("  %-36s %.2f\n", inLabel.c_str(), ratio);
    }
}

void PrintRatios(const bench::BenchRunTimes& inTimes)
{
    std::printf("\nTime relative to the peer (ours / peer; below 1 is faster):\n");
    for (int textClass = 0; textClass < 3; ++textClass)
    {
        std::string suffix = "/" + std::to_string(textClass);
        PrintRatio(inTimes, std::string("GetJSONString ") + kClassNames[textClass] + " vs RapidJSON",
                   "BM_JSON_Zorn" + suffix, "BM_JSON_RapidJSON" + suffix);
    }
    PrintRatio(inTimes, "Base64 encode vs OpenSSL", "BM_Base64Encode_Zorn", "BM_Base64Encode_OpenSSL");
    PrintRatio(inTimes, "Base64 decode vs OpenSSL", "BM_Base64Decode_Zorn", "BM_Base64Decode_OpenSSL");
}

} // namespace

int main(int argc, char** argv)
{
    return bench::RunWithRatios(argc, argv, PrintRatios);
}
