// Cost of VXMLParser with a handler stack against the plain parsers, in one program so that the
// ratios are what counts. The document is shared-mime-info's freedesktop.org.xml (2.4 MB, many
// languages), parsed from memory:
// - ours: VXMLParser::Parse over the block, with a handler that is asked about every element and
//   returns itself for it, and receives every attribute and text chunk as a VString;
// - Xerces-C's SAX2XMLReader with empty handlers (the gap to it is our overhead: the handler
//   stack, the strings and the hardening);
// - expat with empty element handlers.
// All three check well-formedness; none validates (ours with flags 2 | 4: validation never,
// namespaces on, as SAX2 by default). Each runs 20 times; the fastest run counts.

#include "BenchRunTimes.h"
#include "toolbox/intl/IXMLHandler.h"
#include "toolbox/intl/VXMLParser.h"

#include <benchmark/benchmark.h>
#include <expat.h>
#include <xercesc/framework/MemBufInputSource.hpp>
#include <xercesc/sax2/DefaultHandler.hpp>
#include <xercesc/sax2/SAX2XMLReader.hpp>
#include <xercesc/sax2/XMLReaderFactory.hpp>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

using namespace zorn;

namespace
{

namespace xml = XERCES_CPP_NAMESPACE;

constexpr const char* kDocumentPath = "/usr/share/mime/packages/freedesktop.org.xml";
constexpr int kRepetitions = 20;

const std::string& Document()
{
    static const std::string sDocument = []()
    {
        std::ifstream in(kDocumentPath, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }();
    return sDocument;
}

// Visits every element: the same handler serves the whole tree.
class VisitingHandler : public VObject, public IXMLHandler
{
public:
    IXMLHandler* StartElement(const VString& /*inName*/) override
    {
        ++fElements;
        Retain();
        return this;
    }
    void SetAttribute(const VString& /*inName*/, const VString& inValue) override
    {
        fUnits += inValue.GetLength();
    }
    void SetText(const VString& inText) override { fUnits += inText.GetLength(); }

    int64_t fElements = 0;
    int64_t fUnits = 0;
};

void BM_Parse_Zorn(benchmark::State& state)
{
    const std::string& document = Document();
    if (document.empty())
    {
        state.SkipWithError("freedesktop.org.xml is missing (Debian shared-mime-info)");
        return;
    }
    StXMLParserInit library;
    VXMLParser parser;
    int64_t elements = 0;
    for (auto _ : state)
    {
        auto* handler = new VisitingHandler;
        if (!parser.Parse(document.data(), document.size(), handler, XML_ValidationNever | XML_DoNamespaces))
        {
            state.SkipWithError("parse failed");
        }
        elements = handler->fElements;
        handler->Release();
    }
    state.counters["elements"] = static_cast<double>(elements);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(document.size()));
}

void BM_Parse_XercesSAX2(benchmark::State& state)
{
    const std::string& document = Document();
    if (document.empty())
    {
        state.SkipWithError("freedesktop.org.xml is missing (Debian shared-mime-info)");
        return;
    }
    StXMLParserInit library;
    std::unique_ptr<xml::SAX2XMLReader> reader(xml::XMLReaderFactory::createXMLReader());
    xml::DefaultHandler handler;
    reader->setContentHandler(&handler);
    reader->setErrorHandler(&handler);
    for (auto _ : state)
    {
        xml::MemBufInputSource source(reinterpret_cast<const XMLByte*>(document.data()), document.size(),
                                      "bench", false);
        reader->parse(source);
        if (reader->getErrorCount() != 0)
        {
            state.SkipWithError("parse failed");
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(document.size()));
}

void BM_Parse_Expat(benchmark::State& state)
{
    const std::string& document = Document();
    if (document.empty())
    {
        state.SkipWithError("freedesktop.org.xml is missing (Debian shared-mime-info)");
        return;
    }
    for (auto _ : state)
    {
        XML_Parser parser = XML_ParserCreate(nullptr);
        XML_SetElementHandler(
            parser, [](void*, const XML_Char*, const XML_Char**) {}, [](void*, const XML_Char*) {});
        if (XML_Parse(parser, document.data(), static_cast<int>(document.size()), 1) != XML_STATUS_OK)
        {
            state.SkipWithError("parse failed");
        }
        XML_ParserFree(parser);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(document.size()));
}

BENCHMARK(BM_Parse_Zorn)->Repetitions(kRepetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Parse_XercesSAX2)->Repetitions(kRepetitions)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Parse_Expat)->Repetitions(kRepetitions)->Unit(benchmark::kMillisecond);

void PrintRatios(const bench::BenchRunTimes& inTimes)
{
    std::printf("\nSpeed relative to the peer (peer time / ours; above 1 is faster):\n");
    bench::PrintSpeed(inTimes, "VXMLParser + handler stack vs Xerces SAX2, empty handlers",
                      "BM_Parse_Zorn/repeats:20", "BM_Parse_XercesSAX2/repeats:20");
    bench::PrintSpeed(inTimes, "VXMLParser + handler stack vs expat, empty handlers",
                      "BM_Parse_Zorn/repeats:20", "BM_Parse_Expat/repeats:20");
    double ours = inTimes.Find("BM_Parse_Zorn/repeats:20");
    if (ours > 0)
    {
        // Times are in the benchmarks' unit (milliseconds).
        std::printf("  %-56s %.1f\n", "VXMLParser MB/s",
                    static_cast<double>(Document().size()) / 1e6 / (ours / 1e3));
    }
}

} // namespace

int main(int argc, char** argv)
{
    return bench::RunWithRatios(argc, argv, PrintRatios);
}
