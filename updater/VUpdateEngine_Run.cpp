// The engine's run: one whole update on the main task, its log file, and the notification that
// tells the user about a failure.
//
// Choices and limits:
// - Every error of the run is kept on one context that outlives the run (the entry point reads
//   its newest error for the exit status); the context is silent, so the errors reach the
//   process logger only through this run's own lines.
// - A log folder that cannot be created costs the file log, never the update: the folder's
//   errors are dropped. A log file that cannot be opened in an existing folder fails the run
//   before anything is touched, and the failure is then shown even under "silent".
// - The notification names the log file only when the file logger really started, and always
//   by its first file ("_1.txt"), also when the log has rolled over since.
// - Answering Yes opens the log file in the desktop's default application (xdg-open, detached).
#include "platform/DefaultApplication.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/intl/VLocalizationManager.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/system/VSystem.h"
#include "toolbox/kernel/values/VTime.h"
#include "toolbox/kernel/values/VValueBag.h"
#include "toolbox/process/VLog4jMsgFileLogger.h"
#include "updater/UpdaterErrors.h"
#include "updater/UpdaterLog.h"
#include "updater/VUpdateEngine.h"

#include <cstdio>

namespace zorn
{

namespace
{

// The current local date and time in the international manager's short styles.
void FormatNow(VString& outDate, VString& outTime)
{
    VTime now;
    VTime::Now(now);
    now.FormatByOS(outDate, outTime, false);
}

// An error's description, or its error string when it has none.
VString DescribeError(VErrorBase* inError)
{
    VString text;
    if (inError != nullptr)
    {
        inError->GetErrorDescription(text);
        if (text.IsEmpty())
        {
            inError->GetErrorString(text);
        }
    }
    return text;
}

} // namespace

bool VUpdateEngine::_InitLog()
{
    if (!fLogFolder.IsValid() || !fLogFolder.IsFolder())
    {
        return false;
    }
    VRefPtr<VFolder> folder(new VFolder(fLogFolder), true);
    if (!folder->Exists())
    {
        // A folder that cannot be made leaves the run without a file log, not failed: its errors
        // are dropped here instead of reaching the run's context.
        VError made = VE_OK;
        {
            StErrorContextInstaller dropped(false, true);
            made = folder->CreateRecursive(false);
        }
        if (made != VE_OK)
        {
            return false;
        }
    }

    VTime now;
    VTime::Now(now);
    int16_t year = 0;
    int16_t month = 0;
    int16_t day = 0;
    int16_t hour = 0;
    int16_t minute = 0;
    int16_t second = 0;
    int16_t millisecond = 0;
    now.GetLocalTime(year, month, day, hour, minute, second, millisecond);
    char name[64];
    std::snprintf(name, sizeof(name), "%04d-%02d-%02d_%02d-%02d-%02d_log", year, month, day, hour, minute,
                  second);

    _DeInitLog();
    fFileLogger = new VLog4jMsgFileLogger(folder.Get(), VString(name));
    fFileLogger->Start();
    const bool started = fFileLogger->IsStarted();
    if (!started)
    {
        _PushRetainedError(new VErrorBase(VE_UPDATER_LOG_NOT_STARTED));
    }
    return started;
}

void VUpdateEngine::DoRun()
{
    StErrorContextInstaller run(true, true);
    VErrorContext* context = run.GetContext();
    auto failed = [context] { return context != nullptr && !context->IsEmpty(); };

    _InitLog();
    if (failed())
    {
        // The user must learn that nothing was done, whatever the caller asked.
        fSilent = false;
    }

    VString date;
    VString time;
    FormatNow(date, time);
    LogInfo("Updater starting - %S - %S", &date, &time);
    // The texts of the run's errors and alert; every error so far is described after this.
    _InitLocalizationManager();

    if (!failed())
    {
        _ApplyUpdate();
    }

    DumpErrorStack(context, true);

    FormatNow(date, time);
    if (!failed())
    {
        LogInfo("Update successful - %S - %S", &date, &time);
        return;
    }
    LogInfo("Update failed - %S - %S", &date, &time);
    if (!fSilent)
    {
        _NotifyFailure(context->GetLast());
    }
}

void VUpdateEngine::_NotifyFailure(VErrorBase* inNewest)
{
    VString message = DescribeError(inNewest);
    const VString title;

    VString logPath;
    if (fFileLogger != nullptr && fFileLogger->IsStarted())
    {
        VFilePath path;
        fFileLogger->GetLogFolderPath(path);
        VString logName;
        fFileLogger->GetLogName(logName);
        logName.AppendCString("_1.txt");
        if (path.ToSubFile(logName))
        {
            path.GetPosixPath(logPath);
        }
    }
    if (!logPath.IsEmpty())
    {
        VString hint = LocalizeString(VString("MoreInformationsAvailableInLogFile"),
                                      "More information is available in the log file '{LogFilePath}'");
        if (!hint.IsEmpty())
        {
            VRefPtr<VValueBag> values(new VValueBag(), true);
            values->SetString(VValueBag::StKey("LogFilePath"), logPath);
            hint.Format(values.Get(), true);
            message.AppendPrintf("\r\n%S", &hint);
        }
    }

    // No alert at all (no dialog program, no display) leaves the answer untouched: start from none.
    ENotificationResponse response = eNotificationResponse_None;
    VSystem::DisplayNotification(title, message, 2, &response);
    if (response == eNotificationResponse_Yes && !logPath.IsEmpty())
    {
        platform::OpenInDefaultApplication(to_string(logPath));
    }
}

} // namespace zorn
