// The client customization of the up-to-date bundle, done before anything is waited for or
// changed: the server link file "EnginedServer.Zqlink" from the client-information file, and the
// execute bits of the bundle's executable. Also the progress line for the caller.
//
// Choices and limits:
// - The client-information file is a JSON object; only string values count. "ServerPlatform"
//   must be a string, though nothing uses it; without a string "BuildIPAdress" no link file is
//   written and the update goes on.
// - The link file is the value-bag XML of five attributes under the root "database_shortcut",
//   one UTF-8 line without a byte-order mark or final line end. A text that XML 1.0 cannot carry
//   (control characters other than tab, LF and CR, U+FFFE, U+FFFF, lone surrogates) is refused
//   with VE_UPDATER_BAD_CLIENT_INFO before anything is written; tab, LF and CR become character
//   references. The file is written whole through a temporary sibling or not at all, and an
//   existing symbolic link in its place is removed first, so that the write never lands outside
//   the bundle. A failed write stays on the context and stops the update:
//   _SetIPAdressOnClientPref then answers false, and the executable is not touched.
// - The executable is the bundle's "CFBundleExecutable", taken only as a plain name of a regular
//   file (not a link) in Contents/MacOS: the update supplies it, and it must not lead the mode
//   change out of the bundle. Any other bundle is left alone, without error. The mode changes
//   only when an execute bit is missing, so a correct file keeps its times.
#include "updater/VUpdateEngine.h"

#include "platform/Bundle.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/intl/VValueBagXML.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/values/StPackedDictionaryKey.h"
#include "toolbox/kernel/values/VValueBag.h"
#include "updater/UpdaterErrors.h"
#include "updater/UpdaterLog.h"

#include <cstdio>
#include <string>

namespace zorn
{

namespace
{

// The attribute names of the link file, in the order they are written.
struct StartupParametersBagKeys
{
    // Each key is named as the attribute it stands for.
    // NOLINTBEGIN(readability-identifier-naming)
    static const StPackedDictionaryKey& database_shortcut()
    {
        static const StPackedDictionaryKey sKey("database_shortcut");
        return sKey;
    }
    static const StPackedDictionaryKey& is_remote()
    {
        static const StPackedDictionaryKey sKey("is_remote");
        return sKey;
    }
    static const StPackedDictionaryKey& server_database_name()
    {
        static const StPackedDictionaryKey sKey("server_database_name");
        return sKey;
    }
    static const StPackedDictionaryKey& server_path()
    {
        static const StPackedDictionaryKey sKey("server_path");
        return sKey;
    }
    static const StPackedDictionaryKey& cache_folder_name()
    {
        static const StPackedDictionaryKey sKey("cache_folder_name");
        return sKey;
    }
    static const StPackedDictionaryKey& remote_shared_resources()
    {
        static const StPackedDictionaryKey sKey("remote_shared_resources");
        return sKey;
    }
    // NOLINTEND(readability-identifier-naming)
};

const char* const kLinkFileName = "EnginedServer.Zqlink";

// The property's text when it is a JSON string.
bool GetStringProperty(const VJSONObject& inObject, const char* inName, VString& outText)
{
    const VJSONValue value = inObject.GetProperty(VString(inName));
    if (!value.IsString())
    {
        return false;
    }
    value.GetString(outText);
    return true;
}

} // namespace

bool VUpdateEngine::_FinishClientCustomization()
{
    StErrorContextInstaller context(true);
    VJSONValue info;
    VError loadError = VE_OK;
    {
        VFile file(fClientInfoFile);
        loadError = info.LoadFromFile(&file);
    }
    // The lenient reader may hand out what it read before an error: a file that is not whole
    // JSON is refused all the same.
    VRefPtr<VJSONObject> object(info.RetainObject(), true);
    if (loadError != VE_OK || !object)
    {
        _ThrowError(VE_UPDATER_BAD_CLIENT_INFO);
        return false;
    }
    VString platform;
    if (!GetStringProperty(*object, "ServerPlatform", platform))
    {
        _ThrowError(VE_UPDATER_BAD_CLIENT_INFO);
        return false;
    }
    if (!_SetIPAdressOnClientPref(*object, fUpToDateBundle))
    {
        // The bundle is not customized: its executable is left as it came.
        return false;
    }
    platform.ToLowerCase();
    _FinishMacClientCustomization(*object);
    return context.GetLastError() == VE_OK;
}

bool VUpdateEngine::_SetIPAdressOnClientPref(const VJSONObject& inInfo, const VFilePath& inBundle)
{
    StErrorContextInstaller context(true);
    VString address;
    if (!GetStringProperty(inInfo, "BuildIPAdress", address))
    {
        return true;
    }
    VString port;
    if (GetStringProperty(inInfo, "BuildIPPort", port))
    {
        address.AppendUniChar(':');
        address.AppendString(port);
    }
    VString name;
    GetStringProperty(inInfo, "PublishName", name);
    VString cacheName;
    GetStringProperty(inInfo, "BuildCacheFolderNameClient", cacheName);

    VRefPtr<VValueBag> bag(new VValueBag(), true);
    bag->SetBool(StartupParametersBagKeys::is_remote(), true);
    bag->SetString(StartupParametersBagKeys::server_database_name(), name);
    bag->SetString(StartupParametersBagKeys::server_path(), address);
    bag->SetString(StartupParametersBagKeys::cache_folder_name(), cacheName);
    bag->SetBool(StartupParametersBagKeys::remote_shared_resources(), false);

    // The texts are checked by the XML writer before the bundle is touched: a text it refuses
    // would give a link file that no reader accepts.
    const VString rootName(StartupParametersBagKeys::database_shortcut().GetKey());
    VString probe;
    if (bag->DumpXML(probe, rootName, false) != VE_OK)
    {
        _ThrowError(VE_UPDATER_BAD_CLIENT_INFO);
        return false;
    }

    VFilePath folderPath(inBundle);
    folderPath.ToSubFolder(VString("Contents"));
    folderPath.ToSubFolder(VString("Database"));
    VFolder folder(folderPath);
    if (!folder.Exists())
    {
        folder.CreateRecursive(false);
    }
    VFilePath filePath(folderPath);
    filePath.ToSubFile(VString(kLinkFileName));
    VFile file(filePath);
    // The write replaces a link's target; a link shipped in the bundle must not send it elsewhere.
    if (file.MAC_IsSymbolicLink())
    {
        file.Delete();
    }
    if (context.GetLastError() == VE_OK)
    {
        WriteBagToFileInXML(*bag, rootName, &file, false);
    }
    return context.GetLastError() == VE_OK;
}

bool VUpdateEngine::_FinishMacClientCustomization(const VJSONObject& /*inInfo*/)
{
    StErrorContextInstaller context(true);
    const std::string bundle = fUpToDateBundle.GetSystemPathBytes();
    std::string reason;
    const std::string executable = platform::GetBundleExecutablePath(bundle, &reason);
    if (executable.empty())
    {
        LogInfo("The executable of the client bundle is left as it is: %s", reason.c_str());
        return true;
    }
    VFile file(VFilePath::FromSystemPathBytes(executable.c_str(), false));
    uint16_t mode = 0;
    if (file.MAC_GetPermissions(&mode) == VE_OK && (mode & 0111) != 0111)
    {
        file.MAC_SetPermissions(static_cast<uint16_t>(mode | 0111));
    }
    return context.GetLastError() == VE_OK;
}

void VUpdateEngine::_LogProgressToCaller(const char* inStep, int inValue)
{
    if (fReportToCaller)
    {
        std::fprintf(stdout, "%s,%d\n", inStep, inValue);
        std::fflush(stdout);
    }
}

} // namespace zorn
