// Parses arbitrary bytes as XML through VXMLParser with a handler stack that checks what it is
// told: every EndElement closes the element its handler was started for, none comes without a
// start, and a successful parse closes every element it opened. The last byte chooses the parse
// flags. No entities folder is set, so every external entity must be refused without a file or a
// connection being opened.

#include "toolbox/intl/IXMLHandler.h"
#include "toolbox/intl/VXMLParser.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

using namespace zorn;

namespace
{

void Check(bool inCondition, int inLine = __builtin_LINE())
{
    if (!inCondition)
    {
        std::fprintf(stderr, "check failed at line %d\n", inLine);
        std::abort();
    }
}

struct Counts
{
    int64_t fStarted = 0;
    int64_t fEnded = 0;
};

// One handler per element: it must be ended once, with its own element's name.
class CheckingHandler : public VObject, public IXMLHandler
{
public:
    CheckingHandler(std::shared_ptr<Counts> inCounts, const VString& inName)
        : fCounts(std::move(inCounts)), fName(inName)
    {
    }
    IXMLHandler* StartElement(const VString& inName) override
    {
        Check(!fEnded);
        ++fCounts->fStarted;
        return new CheckingHandler(fCounts, inName);
    }
    void EndElement(const VString& inName) override
    {
        Check(!fEnded && inName.EqualToStringRaw(fName));
        fEnded = true;
        ++fCounts->fEnded;
    }
    void SetAttribute(const VString& /*inName*/, const VString& /*inValue*/) override { Check(!fEnded); }
    void SetText(const VString& /*inText*/) override { Check(!fEnded); }

private:
    std::shared_ptr<Counts> fCounts;
    VString fName;
    bool fEnded = false;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* inData, size_t inSize)
{
    static const bool sInited = VXMLParser::Init();
    (void)sInited;
    uint32_t flags = inSize > 0 ? inData[inSize - 1] & 0x7F : 0;
    auto counts = std::make_shared<Counts>();
    auto* root = new CheckingHandler(counts, VString());
    VXMLParser parser;
    bool ok = parser.Parse(inData, inSize > 0 ? inSize - 1 : 0, root, flags);
    root->Release();
    Check(counts->fEnded <= counts->fStarted);
    if (ok)
    {
        Check(counts->fEnded == counts->fStarted);
    }
    return 0;
}
