// Customizes a bundle with arbitrary bytes as its client-information file. Either the
// customization fails, with the updater's client-information error last and no link file (nor any
// Database folder) left in the bundle; or it succeeds, and then a link file exists exactly when the
// file holds a string "BuildIPAdress", is the only item of the Database folder, and the value-bag
// XML reader reads it back to the five attributes the file's values call for, in order.
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/intl/VValueBagXML.h"
#include "toolbox/intl/VXMLParser.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/strings/VString.h"
#include "toolbox/kernel/values/VValueBag.h"
#include "updater/UpdaterErrors.h"
#include "updater/VUpdateEngine.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

using namespace zorn;

namespace
{

namespace fs = std::filesystem;

void Check(bool inCondition, int inLine = __builtin_LINE())
{
    if (!inCondition)
    {
        std::fprintf(stderr, "check failed at line %d\n", inLine);
        std::abort();
    }
}

class FuzzEngine : public VUpdateEngine
{
public:
    using VUpdateEngine::_FinishClientCustomization;
    using VUpdateEngine::fClientInfoFile;
    using VUpdateEngine::fUpToDateBundle;
};

struct Setup
{
    FuzzEngine* fEngine; // lives as long as the program: its process stays started
    std::string fFolder;
    std::string fBundle;
    std::string fInfoFile;
};

// The temporary folder, removed at exit.
char sFolderToRemove[4096];

void RemoveFolder()
{
    std::error_code ignored;
    fs::remove_all(sFolderToRemove, ignored);
}

const Setup& GetSetup()
{
    static const Setup sSetup = []
    {
        Setup setup{};
        setup.fEngine = new FuzzEngine();
        Check(setup.fEngine->VProcess::Init(0));
        Check(VXMLParser::Init());
        std::string pattern = (fs::temp_directory_path() / "zorn-fuzz-client-XXXXXX").string();
        Check(::mkdtemp(pattern.data()) != nullptr);
        setup.fFolder = pattern;
        Check(pattern.size() < sizeof(sFolderToRemove));
        std::strcpy(sFolderToRemove, pattern.c_str());
        std::atexit(&RemoveFolder);
        setup.fBundle = setup.fFolder + "/Client.app";
        setup.fInfoFile = setup.fFolder + "/client-info.json";
        fs::create_directories(setup.fBundle + "/Contents");
        setup.fEngine->fClientInfoFile = VFilePath(VString(setup.fInfoFile.c_str()), FPS_POSIX);
        setup.fEngine->fUpToDateBundle = VFilePath(VString((setup.fBundle + "/").c_str()), FPS_POSIX);
        return setup;
    }();
    return sSetup;
}

using Attributes = std::vector<std::pair<std::u16string, std::u16string>>;

std::u16string UnitsOf(const VString& inText)
{
    return std::u16string(reinterpret_cast<const char16_t*>(inText.GetCPointer()),
                          static_cast<size_t>(inText.GetLength()));
}

// The property's text when it is a string.
bool StringProperty(const VJSONObject& inObject, const char* inName, std::u16string& outText)
{
    const VJSONValue value = inObject.GetProperty(VString(inName));
    if (!value.IsString())
    {
        return false;
    }
    VString text;
    value.GetString(text);
    outText = UnitsOf(text);
    return true;
}

Attributes AttributesOf(const VValueBag& inBag)
{
    Attributes out;
    for (int32_t i = 1; i <= inBag.GetAttributesCount(); ++i)
    {
        VString name;
        VString text;
        const VValueSingle* value = inBag.GetNthAttribute(i, &name);
        if (value != nullptr)
        {
            value->GetString(text);
        }
        out.emplace_back(UnitsOf(name), UnitsOf(text));
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* inData, size_t inSize)
{
    const Setup& setup = GetSetup();
    const std::string database = setup.fBundle + "/Contents/Database";
    fs::remove_all(database);
    {
        std::ofstream out(setup.fInfoFile, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(inData), static_cast<std::streamsize>(inSize));
    }

    StErrorContextInstaller context(false);
    const bool done = setup.fEngine->_FinishClientCustomization();
    if (!done)
    {
        Check(context.GetLastError() == VE_UPDATER_BAD_CLIENT_INFO);
        Check(!fs::exists(database));
        return 0;
    }
    Check(context.GetContext()->IsEmpty());

    // What the file calls for, read the same way.
    VJSONValue info;
    VFile infoFile(setup.fEngine->fClientInfoFile);
    info.LoadFromFile(&infoFile);
    VRefPtr<VJSONObject> object(info.RetainObject(), true);
    Check(object.Get() != nullptr);
    std::u16string address;
    if (!StringProperty(*object, "BuildIPAdress", address))
    {
        Check(!fs::exists(database));
        return 0;
    }
    std::u16string port;
    if (StringProperty(*object, "BuildIPPort", port))
    {
        address += u':';
        address += port;
    }
    std::u16string name;
    StringProperty(*object, "PublishName", name);
    std::u16string cache;
    StringProperty(*object, "BuildCacheFolderNameClient", cache);
    const Attributes expected{{u"is_remote", u"true"},
                              {u"server_database_name", name},
                              {u"server_path", address},
                              {u"cache_folder_name", cache},
                              {u"remote_shared_resources", u"false"}};

    std::vector<std::string> items;
    for (const auto& entry : fs::directory_iterator(database))
    {
        items.push_back(entry.path().filename().string());
    }
    Check(items == std::vector<std::string>{"EnginedServer.Zqlink"});
    VFile link(VFilePath(VString((database + "/EnginedServer.Zqlink").c_str()), FPS_POSIX));
    VValueBag bag;
    Check(LoadBagFromXML(&link, VString("database_shortcut"), bag, 0) == VE_OK);
    Check(AttributesOf(bag) == expected);
    Check(bag.GetElementNamesCount() == 0);
    return 0;
}
