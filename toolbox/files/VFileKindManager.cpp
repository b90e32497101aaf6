#include "toolbox/files/VFileKindManager.h"

#include "toolbox/files/linux/XLinuxFile.h"

#include <mutex>

namespace zorn
{

std::atomic<VFileKindManager*> VFileKindManager::sManager{nullptr};

bool VFileKindManager::IDLess::operator()(const VString& inA, const VString& inB) const
{
    return inA.CompareToString(inB, false) == CR_SMALLER;
}

VFileKindManager::VFileKindManager() : fLabelAll("All"), fLabelAllReadable("All readable documents") {}

VFileKindManager::~VFileKindManager() = default;

bool VFileKindManager::Init()
{
    Get();
    return true;
}

void VFileKindManager::DeInit()
{
    if (VFileKindManager* manager = sManager.exchange(nullptr); manager != nullptr)
    {
        manager->Release();
    }
}

VFileKindManager* VFileKindManager::Get()
{
    VFileKindManager* manager = sManager.load(std::memory_order_acquire);
    if (manager != nullptr)
    {
        return manager;
    }
    // Two first users may both build one: the one stored first stays.
    auto* made = new VFileKindManager;
    if (sManager.compare_exchange_strong(manager, made, std::memory_order_acq_rel))
    {
        return made;
    }
    made->Release();
    return manager;
}

// ---------------------------------------------------------------------------------------------
// Look-ups
// ---------------------------------------------------------------------------------------------

template <class TMatch>
VFileKind* VFileKindManager::_RetainFirstMatching(const TMatch& inMatch) const
{
    for (const auto& [id, kind] : fKinds)
    {
        if (inMatch(*kind))
        {
            return RetainRefCountable(kind.Get());
        }
    }
    return nullptr;
}

void VFileKindManager::_Store(VFileKind* inKind)
{
    // Replaces the entry of that ID: the key too, since the collated order finds IDs equal that
    // differ in case.
    fKinds.erase(inKind->GetID());
    fKinds.emplace(inKind->GetID(), VRefPtr<VFileKind>(inKind));
}

VFileKind* VFileKindManager::RetainFileKind(const VString& inID)
{
    {
        std::shared_lock<std::shared_mutex> shared(fMutex);
        if (auto found = fKinds.find(inID); found != fKinds.end())
        {
            return RetainRefCountable(found->second.Get());
        }
    }
    VRefPtr<VFileKind> made(XLinuxFile::CreatePublicFileKind(inID), true);
    if (!made)
    {
        return nullptr;
    }
    std::unique_lock<std::shared_mutex> exclusive(fMutex);
    if (auto found = fKinds.find(inID); found != fKinds.end())
    {
        return RetainRefCountable(found->second.Get());
    }
    _Store(made.Get());
    return made.Forget();
}

void VFileKindManager::RegisterPrivateFileKind(const VString& inID, const std::vector<VString>& inOsKinds,
                                               const VString& inDescription,
                                               const std::vector<VString>& inExtensions,
                                               const std::vector<VString>& inParentIDs)
{
    VRefPtr<VFileKind> kind(
        VFileKind::Create(inID, inOsKinds, inDescription, inExtensions, inParentIDs, false), true);
    std::unique_lock<std::shared_mutex> exclusive(fMutex);
    _Store(kind.Get());
}

void VFileKindManager::RegisterPrivateFileKind(const VString& inID, const VString& inDescription,
                                               const std::vector<VString>& inExtensions,
                                               const std::vector<VString>& inParentIDs)
{
    RegisterPrivateFileKind(inID, {}, inDescription, inExtensions, inParentIDs);
}

VFileKind* VFileKindManager::RetainFirstFileKindMatchingWithExtension(const VString& inExtension)
{
    auto match = [&](const VFileKind& inKind) { return inKind.MatchExtension(inExtension); };
    {
        std::shared_lock<std::shared_mutex> shared(fMutex);
        if (VFileKind* kind = _RetainFirstMatching(match); kind != nullptr)
        {
            return kind;
        }
    }
    VRefPtr<VFileKind> made(XLinuxFile::CreatePublicFileKindFromExtension(inExtension), true);
    if (!made)
    {
        return nullptr;
    }
    std::unique_lock<std::shared_mutex> exclusive(fMutex);
    // Another task may have stored a kind for the extension meanwhile: that one is the answer.
    if (VFileKind* kind = _RetainFirstMatching(match); kind != nullptr)
    {
        return kind;
    }
    _Store(made.Get());
    return made.Forget();
}

VFileKind* VFileKindManager::RetainFirstFileKindMatchingWithOsKind(const VString& inOsKind)
{
    {
        std::shared_lock<std::shared_mutex> shared(fMutex);
        if (VFileKind* kind =
                _RetainFirstMatching([&](const VFileKind& inKind) { return inKind.MatchOsKind(inOsKind); });
            kind != nullptr)
        {
            return kind;
        }
    }
    return XLinuxFile::CreatePublicFileKindFromOsKind(inOsKind);
}

// ---------------------------------------------------------------------------------------------
// Labels
// ---------------------------------------------------------------------------------------------

void VFileKindManager::RegisterLocalizedString(long inWhich, const VString& inText)
{
    if (inText.IsEmpty() || (inWhich != 0 && inWhich != 1))
    {
        return;
    }
    std::unique_lock<std::shared_mutex> exclusive(fMutex);
    (inWhich == 0 ? fLabelAll : fLabelAllReadable) = inText;
}

void VFileKindManager::GetLocalizedString(long inWhich, VString& outText) const
{
    if (inWhich != 0 && inWhich != 1)
    {
        return;
    }
    std::shared_lock<std::shared_mutex> shared(fMutex);
    outText = inWhich == 0 ? fLabelAll : fLabelAllReadable;
}

} // namespace zorn
