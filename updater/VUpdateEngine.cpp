// The engine's life cycle: construction, the localization manager, quit.
#include "updater/VUpdateEngine.h"

#include "toolbox/files/VFolder.h"
#include "toolbox/intl/VLocalizationManager.h"
#include "toolbox/intl/VUTIManager.h"
#include "toolbox/kernel/errors/ILogger.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/process/VComponentManager.h"
#include "toolbox/process/VLog4jMsgFileLogger.h"
#include "updater/UpdaterErrors.h"

namespace zorn
{

VUpdateEngine::VUpdateEngine() = default;

VUpdateEngine::~VUpdateEngine()
{
    if (fLocalizationManager != nullptr)
    {
        // Nothing may reach the manager once it is gone.
        if (GetLocalizer() == fLocalizationManager)
        {
            SetLocalizer(nullptr);
        }
        VUTIManager* types = VUTIManager::GetUTIManager();
        if (types != nullptr)
        {
            types->SetLocalizationManager(nullptr);
        }
        for (OsType component : {MakeOsType('z', 'o', 'r', 'n'), MakeOsType('x', 'm', 'l', 'c'),
                                 MakeOsType('P', 'W', '3', '2'), kUpdaterErrorComponent})
        {
            if (VErrorBase::GetLocalizer(component) == fLocalizationManager)
            {
                VErrorBase::UnregisterLocalizer(component);
            }
        }
        fLocalizationManager->Release();
        fLocalizationManager = nullptr;
    }
}

bool VUpdateEngine::_InitLocalizationManager()
{
    if (fLocalizationManager != nullptr)
    {
        return true;
    }
    VRefPtr<VFolder> bundle(RetainFolder(kFolderBundle), true);
    const uint32_t language = VComponentManager::GetLocalizationLanguage(bundle.Get(), true, 0);
    fLocalizationManager = new VLocalizationManager(language);
    if (bundle)
    {
        fLocalizationManager->LoadDefaultLocalizationFoldersForComponentOrPlugin(bundle.Get());
    }
    SetLocalizer(fLocalizationManager);
    if (VUTIManager* types = VUTIManager::GetUTIManager(); types != nullptr)
    {
        types->SetLocalizationManager(fLocalizationManager);
    }
    for (OsType component : {MakeOsType('z', 'o', 'r', 'n'), MakeOsType('x', 'm', 'l', 'c'),
                             MakeOsType('P', 'W', '3', '2'), kUpdaterErrorComponent})
    {
        VErrorBase::RegisterLocalizer(component, fLocalizationManager);
    }
    return true;
}

void VUpdateEngine::DoQuit()
{
    if (ILogger* logger = GetLogger(); logger != nullptr)
    {
        logger->Flush();
    }
    _DeInitLog();
}

void VUpdateEngine::_DeInitLog()
{
    if (fFileLogger != nullptr)
    {
        fFileLogger->Stop();
        delete fFileLogger;
        fFileLogger = nullptr;
    }
}

} // namespace zorn
