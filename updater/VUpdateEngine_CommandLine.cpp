// The engine's command line: its options, the two positional bundles reconciled with the bundle
// options, and the fields they fill.
//
// Choices and limits:
// - Options and the positional collector exist only when there is at least one argument, so that
//   a bare start prints both bundle lines rather than nothing. The help's two paragraphs are
//   always there.
// - Bundle paths given both ways must be the same text, unit for unit: Linux file systems tell
//   "A.app" from "a.app", so a comparison that folds case could accept two different bundles.
// - Paths are POSIX paths; a relative one is resolved against the working folder when the
//   command line is read, before any check, and "." and ".." steps are folded lexically (not
//   through symbolic links, as a shell's "cd" would). An empty path, or a relative one while the
//   working folder cannot be known, is refused with the option it came from.
// - "install-path" is read and not used: the install location is always the outdated bundle.
#include "platform/ProcessSelf.h"
#include "toolbox/process/VArgOption.h"
#include "toolbox/process/VCommandLineParser.h"
#include "updater/VUpdateEngine.h"

#include <filesystem>
#include <string>
#include <vector>

namespace zorn
{

namespace
{
// Texts of the help, as the updater has always shown them.
constexpr const char* kHeadParagraph =
    "\nZq Updater\n\t\tUpdates an existing Zq application residing at <path of app to update> using "
    "\t\tnewer versions tored <path of update>\n\n";
constexpr const char* kHelpParagraph = "\nHelp:\n";

constexpr const char* kNotEnoughArguments =
    "not enough arguments from the command line (required <dest> <src>)\n";
constexpr const char* kTooManyArguments = "two many arguments from the command line";
constexpr const char* kOutdatedMismatch = "mismatched value for option --outdated-app\n";
constexpr const char* kUpToDateMismatch = "mismatched value for option --uptodate-app\n";

template <class T>
void RegisterValue(StOptionsInfos& ioInfos, const char* inName, const char* inDescription, T* inVariable)
{
    ioInfos.RegisterOption(true, new VArgOption<T>(VOptionBase::kNoShortName, VString(inName),
                                                   VString(inDescription), inVariable));
}

// Makes a relative path absolute against the working folder, folding "." and ".." steps. False
// (and a message naming the option) when the path is empty or the working folder is unknown.
bool ResolveAgainstWorkingFolder(VCommandLineParser& ioParser, const char* inOption, VString& ioPath)
{
    if (ioPath.IsEmpty())
    {
        VString message;
        message.Printf("empty path for %s\n", inOption);
        ioParser.PrintArgumentError(message);
        return false;
    }
    std::string text = to_string(ioPath);
    if (text.front() == '/')
    {
        return true;
    }
    const std::string folder = platform::CurrentWorkingFolder();
    if (folder.empty())
    {
        VString message;
        message.Printf("cannot resolve the relative path '%S' for %s: the working folder is unknown\n",
                       &ioPath, inOption);
        ioParser.PrintArgumentError(message);
        return false;
    }
    std::string resolved = (std::filesystem::path(folder) / text).lexically_normal().string();
    if (resolved.size() > 1 && resolved.back() == '/')
    {
        resolved.pop_back();
    }
    ioPath.FromBlock(resolved.data(), resolved.size(), CharSet::VTC_UTF_8);
    return true;
}

void RegisterFlag(StOptionsInfos& ioInfos, const char* inName, const char* inDescription, bool* inVariable)
{
    ioInfos.RegisterOption(false, new VArgOption<bool>(VOptionBase::kNoShortName, VString(inName),
                                                       VString(inDescription), inVariable));
}
} // namespace

int32_t VUpdateEngine::DoParseCommandLine(VCommandLineParser& ioParser)
{
    fCallerPid = -1;
    fSilent = false;
    fRestartHeadless = false;

    VString installPath;
    VString restartParams;
    VString callerLog;
    VString logDir;
    VString clientInfo;
    VString outdatedApp;
    VString upToDateApp;
    std::vector<VString> positionals;
    bool version = false;

    StOptionsInfos& infos = ioParser.GetOptionsInfos();
    const bool withOptions = infos.HasEnoughArguments();
    ioParser.AddParagraph(VString(kHeadParagraph));
    if (withOptions)
    {
        RegisterValue<int>(infos, "pid", "Wait for the caller's pid", &fCallerPid);
        RegisterFlag(infos, "silent",
                     "ensure that no message is displayed in case of error. Errors are still logged though",
                     &fSilent);
        RegisterValue(
            infos, "install-path",
            "indicates where the updated app should be installed instead of <path of app to update>.",
            &installPath);
        RegisterValue(
            infos, "restart-params",
            "indicates the full path to the ZqLink \t\tfile that will be passed back to the restarted "
            "application. This does not \t\tapply if the application is started as a service",
            &restartParams);
        RegisterValue(infos, "caller-log", "Restart params", &callerLog);
        RegisterValue(infos, "log-dir", "specifies a folder for the updater where log file should be written",
                      &logDir);
        RegisterValue(
            infos, "client-info",
            "path of the client customization file. Using this \t\toption IMPLIES that application is "
            "a Zq-based client, which incurs special processing.",
            &clientInfo);
        RegisterValue(infos, "outdated-app", "Outdated application bundle path", &outdatedApp);
        RegisterValue(infos, "uptodate-app", "Up-to-date application bundle path", &upToDateApp);
        infos.SetPositionalCollector(new VArgOption<std::vector<VString>>(
            VOptionBase::kNoShortName, VString(), VString(), &positionals));
        RegisterFlag(infos, "restart-headless", "Restart the application in headless mode.",
                     &fRestartHeadless);
    }
    ioParser.AddParagraph(VString(kHelpParagraph));
    if (withOptions)
    {
        RegisterFlag(infos, "version", "Print the version and exits", &version);
    }

    const int32_t parsed = ioParser.Parse();
    if (parsed == 0 && version)
    {
        ioParser.Print(GetProductVersion());
        return 2;
    }
    if (parsed != 0)
    {
        return parsed;
    }

    bool failed = false;
    if (positionals.size() == 1)
    {
        return ioParser.PrintArgumentError(VString(kNotEnoughArguments));
    }
    if (positionals.size() > 2)
    {
        return ioParser.PrintArgumentError(VString(kTooManyArguments));
    }
    if (positionals.size() == 2)
    {
        if (outdatedApp.IsEmpty())
        {
            outdatedApp.FromString(positionals[0]);
        }
        else if (!outdatedApp.EqualToStringRaw(positionals[0]))
        {
            ioParser.PrintArgumentError(VString(kOutdatedMismatch));
            failed = true;
        }
        if (upToDateApp.IsEmpty())
        {
            upToDateApp.FromString(positionals[1]);
        }
        else if (!upToDateApp.EqualToStringRaw(positionals[1]))
        {
            return ioParser.PrintArgumentError(VString(kUpToDateMismatch));
        }
    }
    if (upToDateApp.IsEmpty())
    {
        ioParser.PrintArgumentError(VString(kUpToDateMismatch));
        failed = true;
    }
    if (outdatedApp.IsEmpty())
    {
        return ioParser.PrintArgumentError(VString(kOutdatedMismatch));
    }
    if (failed)
    {
        return 1;
    }
    if (!ResolveAgainstWorkingFolder(ioParser, "--outdated-app", outdatedApp) ||
        !ResolveAgainstWorkingFolder(ioParser, "--uptodate-app", upToDateApp) ||
        (!logDir.IsEmpty() && !ResolveAgainstWorkingFolder(ioParser, "--log-dir", logDir)) ||
        (!restartParams.IsEmpty() &&
         !ResolveAgainstWorkingFolder(ioParser, "--restart-params", restartParams)) ||
        (!clientInfo.IsEmpty() && !ResolveAgainstWorkingFolder(ioParser, "--client-info", clientInfo)))
    {
        return 1;
    }

    FixFolderPathSpec(outdatedApp, FPS_POSIX, fOutdatedBundle);
    FixFolderPathSpec(upToDateApp, FPS_POSIX, fUpToDateBundle);
    fInstallLocation = fOutdatedBundle;
    fRestartParametersFile.FromFullPath(restartParams, FPS_POSIX, false);
    fReportToCaller = !callerLog.IsEmpty();
    FixFolderPathSpec(logDir, FPS_POSIX, fLogFolder);
    if (!clientInfo.IsEmpty())
    {
        fClientInfoFile.FromFullPath(clientInfo, FPS_POSIX, false);
    }
    return 0;
}

void VUpdateEngine::FixFolderPathSpec(const VString& inText, FilePathStyle inStyle, VFilePath& outPath)
{
    if (inText.IsEmpty())
    {
        outPath.Clear();
        return;
    }
    VString text(inText);
    if (text.GetUniChar(text.GetLength()) != u'/')
    {
        text.AppendUniChar(u'/');
    }
    outPath.FromFullPath(text, inStyle, false);
}

} // namespace zorn
