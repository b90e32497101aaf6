#include "toolbox/json/VJSONPointerResolver.h"

#include "toolbox/json/StJSONNestingGuard.h"
#include "toolbox/json/VJSONArray.h"
#include "toolbox/json/VJSONObject.h"
#include "toolbox/json/VJSONPropertyIterator.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/strings/HexDigit.h"

#include <algorithm>
#include <string_view>

namespace zorn
{

namespace
{

std::u16string_view Units(const VString& inText)
{
    return {reinterpret_cast<const char16_t*>(inText.GetCPointer()), static_cast<size_t>(inText.GetLength())};
}

VString FromUnits(std::u16string_view inUnits)
{
    return VString(reinterpret_cast<const UniChar*>(inUnits.data()), static_cast<int32_t>(inUnits.size()));
}

const VString& RefName()
{
    static const VString sName(reinterpret_cast<const UniChar*>(VJSONPointerResolver::sRefPropertyName));
    return sName;
}

bool BeginsWithScheme(std::u16string_view inText, std::u16string_view inScheme)
{
    if (inText.size() < inScheme.size())
    {
        return false;
    }
    for (size_t i = 0; i < inScheme.size(); ++i)
    {
        char16_t unit = inText[i];
        if (unit >= u'A' && unit <= u'Z')
        {
            unit = static_cast<char16_t>(unit - u'A' + u'a');
        }
        if (unit != inScheme[i])
        {
            return false;
        }
    }
    return true;
}

// "~1" becomes "/", then "~0" becomes "~" (in that order, so "~01" stays "~1").
std::u16string UnescapePart(std::u16string_view inPart)
{
    std::u16string part(inPart);
    for (size_t at = part.find(u"~1"); at != std::u16string::npos; at = part.find(u"~1", at + 1))
    {
        part.replace(at, 2, u"/");
    }
    for (size_t at = part.find(u"~0"); at != std::u16string::npos; at = part.find(u"~0", at + 1))
    {
        part.replace(at, 2, u"~");
    }
    return part;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The file cache (the VFilePath forms are in the file layer)

VJSONValue VJSONFileCache::GetValueForPosixPath(const VString& inPosixPath) const
{
    auto found = fValues.find(std::u16string(Units(inPosixPath)));
    return found == fValues.end() ? VJSONValue() : found->second;
}

void VJSONFileCache::SetValueForPosixPath(const VString& inPosixPath, const VJSONValue& inValue)
{
    std::u16string key(Units(inPosixPath));
    if (inValue.IsUndefined())
    {
        fValues.erase(key);
    }
    else
    {
        fValues[key] = inValue;
    }
}

// ---------------------------------------------------------------------------------------------
// Construction and errors

VJSONPointerResolver::VJSONPointerResolver(const VJSONValue& inRoot, IFolder* inBaseFolder,
                                           VFileSystemNamespace* inFileSystems, VJSONFileCache* inCache)
    : fRoot(inRoot), fCache(inCache != nullptr ? VRefPtr<VJSONFileCache>(inCache)
                                               : VRefPtr<VJSONFileCache>(new VJSONFileCache(), true))
{
    // Only the file layer makes folders and namespaces, and it installs its entries before main.
    const detail::VJSONDocumentAccess* access = detail::JSONDocuments();
    if (access == nullptr)
    {
        return;
    }
    if (inBaseFolder != nullptr)
    {
        fBaseFolder = inBaseFolder;
        fBaseFolderHold = VRefPtr<IRefCountable>(access->fFolderRefCount(inBaseFolder));
    }
    if (inFileSystems != nullptr)
    {
        fFileSystems = inFileSystems;
        fFileSystemsHold = VRefPtr<IRefCountable>(access->fNamespaceRefCount(inFileSystems));
    }
}

VJSONPointerResolver::~VJSONPointerResolver()
{
    if (fErrors != nullptr)
    {
        fErrors->Release();
    }
}

void VJSONPointerResolver::_ThrowError(VError inError, const VString* inPointerURI,
                                       const VString* inReferredPath)
{
    VRefPtr<VErrorBase> error(new VErrorBase(inError), true);
    if (inPointerURI != nullptr)
    {
        error->SetString(VString("p1"), *inPointerURI);
    }
    if (inReferredPath != nullptr)
    {
        error->SetString(VString("p2"), *inReferredPath);
    }
    VString message;
    error->GetErrorDescription(message);

    OsType component = ComponentOfVError(inError);
    const char letters[5] = {static_cast<char>(component >> 24), static_cast<char>(component >> 16),
                             static_cast<char>(component >> 8), static_cast<char>(component), 0};
    VRefPtr<VJSONObject> record(new VJSONObject(), true);
    record->SetProperty(VString("code"), VJSONValue(static_cast<double>(NumberOfVError(inError))));
    record->SetProperty(VString("component"), VJSONValue(VString(letters)));
    record->SetProperty(VString("message"), VJSONValue(message));
    if (inPointerURI != nullptr)
    {
        record->SetProperty(VString("pointerURI"), VJSONValue(*inPointerURI));
    }
    if (inReferredPath != nullptr)
    {
        record->SetProperty(VString("referredPath"), VJSONValue(*inReferredPath));
    }
    if (fErrors == nullptr)
    {
        fErrors = new VJSONArray();
    }
    fErrors->Push(VJSONValue(record.Get()));
}

void VJSONPointerResolver::_ThrowURIError(const Context& inContext, VError inError)
{
    _ThrowError(inError, &inContext.fCurrentPointer, nullptr);
}

void VJSONPointerResolver::DecodeURIText(VString& ioText)
{
    std::u16string_view text = Units(ioText);
    if (text.find(u'%') == std::u16string_view::npos)
    {
        ioText.Compose();
        return;
    }
    std::u16string decoded;
    decoded.reserve(text.size());
    std::string bytes;
    size_t i = 0;
    while (i < text.size())
    {
        // A run of "%XX" escapes is one UTF-8 byte sequence; a '%' among the last two units, or
        // without two hexadecimal digits, is copied as it is.
        size_t runStart = i;
        bytes.clear();
        while (i + 2 < text.size() && text[i] == u'%' && HexDigitValue(text[i + 1]) >= 0 &&
               HexDigitValue(text[i + 2]) >= 0)
        {
            bytes.push_back(static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2])));
            i += 3;
        }
        if (bytes.empty())
        {
            decoded.push_back(text[i]);
            ++i;
            continue;
        }
        VString run;
        if (run.FromBlock(bytes.data(), bytes.size(), CharSet::VTC_UTF_8))
        {
            decoded.append(Units(run));
        }
        else
        {
            // Bytes that are no UTF-8 stay escaped rather than turning into other characters.
            decoded.append(text.substr(runStart, i - runStart));
        }
    }
    ioText = FromUnits(decoded);
    ioText.Compose();
}

// ---------------------------------------------------------------------------------------------
// One reference

bool VJSONPointerResolver::ResolveOnePointer(VJSONObject* inObject, bool inResolveOnTheWay,
                                             VJSONValue& outValue)
{
    StErrorContextInstaller errors(false, true);
    Context context;
    context.fResolveOnTheWay = inResolveOnTheWay;
    outValue.SetObject(inObject);
    if (inObject == nullptr)
    {
        return false;
    }
    bool onStack = false;
    bool descend = false;
    return Resolve(context, outValue, nullptr, &onStack, &descend);
}

bool VJSONPointerResolver::Resolve(Context& ioContext, VJSONValue& ioValue,
                                   VRefPtr<VJSONPointerResolver>* outNewResolver, bool* outOnStack,
                                   bool* outDescend)
{
    *outOnStack = false;
    *outDescend = false;
    VJSONObject* object = ioValue.GetObject();
    if (object == nullptr)
    {
        *outDescend = ioValue.IsArray();
        return false;
    }
    if (ioContext.IsResolving(object))
    {
        *outOnStack = true;
        return false;
    }
    if (!ioContext.fHandled.try_emplace(object, object).second)
    {
        return false;
    }
    VJSONValue reference = object->GetProperty(RefName());
    if (!reference.IsString())
    {
        *outDescend = true;
        return false;
    }
    VString text;
    reference.GetString(text);

    VRefPtr<VJSONObject> hold(object);
    const size_t depth = ioContext.fResolving.size();
    ioContext.PushResolving(object);
    VJSONValue target;
    VJSONValue documentRoot;
    VRefPtr<IRefCountable> folderHold;
    IFolder* folder = nullptr;
    if (ResolvePointerURI(ioContext, text, target, outNewResolver != nullptr ? &documentRoot : nullptr,
                          &folderHold, &folder))
    {
        if (ioContext.fPatch)
        {
            PatchPointerValue(ioContext, ioValue, target);
        }
        else
        {
            ioValue = target;
        }
    }
    else
    {
        ioValue.SetUndefined();
    }
    ioContext.PopResolving(depth);
    if (ioValue.GetObject() != object)
    {
        ioContext.fHandled.erase(object);
    }
    if (outNewResolver != nullptr && !documentRoot.IsUndefined())
    {
        *outNewResolver = VRefPtr<VJSONPointerResolver>(
            new VJSONPointerResolver(documentRoot, folder, fFileSystems, fCache.Get()), true);
    }
    return true;
}

bool VJSONPointerResolver::ResolvePointerURI(Context& ioContext, const VString& inText, VJSONValue& outValue,
                                             VJSONValue* outDocumentRoot,
                                             VRefPtr<IRefCountable>* outFolderHold, IFolder** outFolder)
{
    outValue.SetUndefined();
    std::u16string_view text = Units(inText);
    size_t hash = text.find(u'#');
    std::u16string_view documentUnits = hash == std::u16string_view::npos ? text : text.substr(0, hash);
    VString document = FromUnits(documentUnits);
    VString fragment = hash == std::u16string_view::npos ? VString() : FromUnits(text.substr(hash + 1));
    DecodeURIText(document);
    DecodeURIText(fragment);
    document.TrimUniChar(u' ');

    // Errors of this reference name it, also before its walk begins.
    VString outer = std::move(ioContext.fCurrentPointer);
    ioContext.fCurrentPointer = inText;
    bool resolved = false;
    std::u16string_view scheme = Units(document);
    if (BeginsWithScheme(scheme, u"http:") || BeginsWithScheme(scheme, u"https:") ||
        BeginsWithScheme(scheme, u"file:"))
    {
        _ThrowURIError(ioContext, VE_JSON_POINTER_UNSUPPORTED);
    }
    else
    {
        VJSONValue root;
        VRefPtr<IRefCountable> folderHold;
        IFolder* folder = nullptr;
        if (LoadDocument(ioContext, inText, document, root, folderHold, folder))
        {
            VJSONValue value = root;
            if (ResolvePointerString(ioContext, fragment, value))
            {
                outValue = std::move(value);
                resolved = true;
                if (outDocumentRoot != nullptr && !document.IsEmpty())
                {
                    *outDocumentRoot = root;
                }
                if (outFolderHold != nullptr)
                {
                    *outFolderHold = folderHold;
                }
                if (outFolder != nullptr)
                {
                    *outFolder = folder;
                }
            }
        }
    }
    ioContext.fCurrentPointer = std::move(outer);
    return resolved;
}

bool VJSONPointerResolver::LoadDocument(Context& ioContext, const VString& inText,
                                        const VString& inDocumentPart, VJSONValue& outRoot,
                                        VRefPtr<IRefCountable>& outFolderHold, IFolder*& outFolder)
{
    if (inDocumentPart.IsEmpty())
    {
        outRoot = fRoot;
        outFolderHold = fBaseFolderHold;
        outFolder = fBaseFolder;
        return true;
    }
    const detail::VJSONDocumentAccess* access = detail::JSONDocuments();
    if (access == nullptr)
    {
        // Without the file layer there is no folder to look in.
        _ThrowError(VE_JSON_POINTER_NO_DOCUMENT, &inText, &inDocumentPart);
        return false;
    }
    return access->fLoadFileDocument(*this, ioContext, inText, inDocumentPart, outRoot, outFolderHold,
                                     outFolder);
}

bool VJSONPointerResolver::ResolvePointerString(Context& ioContext, const VString& inFragment,
                                                VJSONValue& ioValue)
{
    std::u16string_view fragment = Units(inFragment);
    if (fragment.empty())
    {
        return true;
    }
    if (fragment.front() != u'/')
    {
        _ThrowURIError(ioContext, VE_JSON_POINTER_BAD_SYNTAX);
        return false;
    }
    size_t start = 1;
    while (true)
    {
        size_t end = fragment.find(u'/', start);
        std::u16string_view part = fragment.substr(
            start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start);
        if (!ResolveOnePart(ioContext, ioValue, FromUnits(part)))
        {
            return false;
        }
        if (end == std::u16string_view::npos)
        {
            return true;
        }
        start = end + 1;
    }
}

bool VJSONPointerResolver::ResolveOnePart(Context& ioContext, VJSONValue& ioValue, const VString& inPart)
{
    std::u16string part = UnescapePart(Units(inPart));
    if (VJSONArray* array = ioValue.GetArray())
    {
        if (part == u"-")
        {
            _ThrowURIError(ioContext, VE_JSON_POINTER_UNSUPPORTED);
            return false;
        }
        bool digits =
            !part.empty() && std::all_of(part.begin(), part.end(),
                                         [](char16_t inUnit) { return inUnit >= u'0' && inUnit <= u'9'; });
        if (!digits || (part.size() > 1 && part.front() == u'0'))
        {
            _ThrowURIError(ioContext, VE_JSON_POINTER_BAD_SYNTAX);
            return false;
        }
        // More digits than any count can have is past the end too.
        size_t index = SIZE_MAX;
        if (part.size() <= 18)
        {
            index = 0;
            for (char16_t unit : part)
            {
                index = index * 10 + static_cast<size_t>(unit - u'0');
            }
        }
        VJSONValue element;
        if (index >= array->GetCount() || !array->GetAt(index, element) || element.IsUndefined())
        {
            _ThrowURIError(ioContext, VE_JSON_POINTER_NOT_FOUND);
            return false;
        }
        ioValue = std::move(element);
        return true;
    }
    if (!ioValue.IsObject())
    {
        _ThrowURIError(ioContext, VE_JSON_POINTER_NOT_CONTAINER);
        return false;
    }
    if (ioContext.fResolveOnTheWay)
    {
        bool onStack = false;
        bool descend = false;
        Resolve(ioContext, ioValue, nullptr, &onStack, &descend);
        if (onStack)
        {
            _ThrowURIError(ioContext, VE_JSON_POINTER_CYCLE);
            return false;
        }
    }
    VJSONValue member = ioValue.GetProperty(FromUnits(part));
    if (member.IsUndefined())
    {
        _ThrowURIError(ioContext, VE_JSON_POINTER_NOT_FOUND);
        return false;
    }
    ioValue = std::move(member);
    return true;
}

void VJSONPointerResolver::PatchPointerValue(Context& /*ioContext*/, VJSONValue& ioValue,
                                             const VJSONValue& inTarget)
{
    const VJSONObject* reference = ioValue.GetObject();
    const VJSONObject* target = inTarget.GetObject();
    if (target == nullptr || reference == nullptr)
    {
        ioValue = inTarget;
        return;
    }
    bool onlyReference = true;
    for (VJSONPropertyConstOrderedIterator i(reference,
                                             VJSONPropertyConstOrderedIterator::eOwnPropertiesOnly);
         i.IsValid(); ++i)
    {
        if (!i.GetName().EqualToStringRaw(RefName()))
        {
            onlyReference = false;
            break;
        }
    }
    if (onlyReference)
    {
        ioValue = inTarget;
        return;
    }
    VRefPtr<VJSONObject> merged(new VJSONObject(), true);
    for (VJSONPropertyConstOrderedIterator i(target, VJSONPropertyConstOrderedIterator::eOwnPropertiesOnly);
         i.IsValid(); ++i)
    {
        merged->SetProperty(i.GetName(), i.GetValue());
    }
    for (VJSONPropertyConstOrderedIterator i(reference,
                                             VJSONPropertyConstOrderedIterator::eOwnPropertiesOnly);
         i.IsValid(); ++i)
    {
        if (!i.GetName().EqualToStringRaw(RefName()))
        {
            merged->SetProperty(i.GetName(), i.GetValue());
        }
    }
    ioValue.SetObject(merged.Get());
}

// ---------------------------------------------------------------------------------------------
// Throughout a value

void VJSONPointerResolver::ResolveRecursively(VJSONValue& ioValue, bool inPatch,
                                              std::vector<VRefPtr<IFile>>* outFiles)
{
    Context context;
    context.fPatch = inPatch;
    context.fResolveOnTheWay = true;
    StErrorContextInstaller errors(false, true);

    _ResolveRecursively(context, ioValue);
    const detail::VJSONDocumentAccess* access = detail::JSONDocuments();
    if (outFiles != nullptr && access != nullptr && !context.fLoadedFiles.empty())
    {
        access->fCollectFiles(context, *outFiles);
    }
    VError last = errors.GetLastError();
    if (last != VE_OK && fErrors == nullptr)
    {
        _ThrowError(last, nullptr, nullptr);
    }
}

bool VJSONPointerResolver::_ResolveRecursively(Context& ioContext, VJSONValue& ioValue)
{
    StJSONNestingGuard guard;
    if (guard.Failed())
    {
        return false;
    }
    // A reference is followed to the end of its chain (a target may be a reference itself, in this
    // document or another), so the holder gets the final value; each link is held on the resolving
    // stack meanwhile, so a chain that comes back to one of its links is a cycle (908). Without
    // patch the end is remembered for every link, and a link met again takes it at once.
    VRefPtr<VJSONPointerResolver> owner(this);
    bool changed = false;
    bool descend = ioValue.IsArray();
    const size_t chainStart = ioContext.fResolving.size();
    std::vector<VRefPtr<VJSONObject>> links;
    std::vector<VRefPtr<VJSONObject>> failureRecords;
    VRefPtr<VJSONPointerResolver> failureOwner;
    // The records that owner made since inCount, as the failure's.
    auto takeFailure = [&](size_t inCount)
    {
        failureOwner = owner;
        if (VJSONArray* errors = owner->fErrors)
        {
            for (size_t i = inCount; i < errors->GetCount(); ++i)
            {
                failureRecords.emplace_back(errors->GetAt(i).GetObject());
            }
        }
    };
    auto errorCount = [&] { return owner->fErrors != nullptr ? owner->fErrors->GetCount() : 0; };
    bool remembered = false;
    while (VJSONObject* current = ioValue.GetObject())
    {
        if (!ioContext.fPatch)
        {
            auto known = ioContext.fChainEnds.find(current);
            if (known != ioContext.fChainEnds.end())
            {
                const Context::ChainEnd& end = known->second;
                ioValue = end.fValue;
                owner = end.fOwner;
                changed = true;
                descend = false;
                remembered = true;
                failureOwner = end.fFailureOwner;
                failureRecords = end.fFailureRecords;
                if (VJSONPointerResolver* failed = end.fFailureOwner.Get())
                {
                    failed->_RepeatRecords(end.fFailureRecords);
                }
                break;
            }
        }
        VRefPtr<VJSONPointerResolver> next;
        bool onStack = false;
        VRefPtr<VJSONObject> hold(current);
        const size_t before = errorCount();
        if (!owner->Resolve(ioContext, ioValue, &next, &onStack, &descend))
        {
            if (onStack && changed)
            {
                const size_t cycleBefore = errorCount();
                owner->_ThrowURIError(ioContext, VE_JSON_POINTER_CYCLE);
                takeFailure(cycleBefore);
                ioValue.SetUndefined();
                descend = false;
            }
            break;
        }
        changed = true;
        descend = false;
        links.push_back(hold);
        if (ioValue.IsUndefined())
        {
            takeFailure(before);
        }
        ioContext.PushResolving(current);
        if (next.Get() != nullptr)
        {
            owner = std::move(next);
        }
    }
    ioContext.PopResolving(chainStart);
    if (!ioContext.fPatch)
    {
        for (VRefPtr<VJSONObject>& link : links)
        {
            const VJSONObject* key = link.Get();
            ioContext.fChainEnds.try_emplace(
                key, Context::ChainEnd{std::move(link), ioValue, owner, failureRecords, failureOwner});
        }
    }
    if (descend && !remembered)
    {
        // The contents are resolved against the document they belong to.
        owner->_ResolveContents(ioContext, ioValue);
    }
    return changed;
}

void VJSONPointerResolver::_RepeatRecords(const std::vector<VRefPtr<VJSONObject>>& inRecords)
{
    for (const VRefPtr<VJSONObject>& record : inRecords)
    {
        VRefPtr<VJSONObject> copy(new VJSONObject(), true);
        copy->MergeWith(record.Get(), false);
        fErrors->Push(VJSONValue(copy.Get()));
    }
}

void VJSONPointerResolver::_ResolveContents(Context& ioContext, VJSONValue& ioValue)
{
    if (VJSONObject* object = ioValue.GetObject())
    {
        for (VJSONPropertyConstOrderedIterator i(object,
                                                 VJSONPropertyConstOrderedIterator::eOwnPropertiesOnly);
             i.IsValid(); ++i)
        {
            VJSONValue member = i.GetValue();
            if (_ResolveRecursively(ioContext, member) && !member.IsUndefined())
            {
                object->SetProperty(i.GetName(), member);
            }
        }
    }
    else if (VJSONArray* array = ioValue.GetArray())
    {
        // An array shared by several holders, or holding itself, is walked once.
        if (!ioContext.fHandledArrays.try_emplace(array, array).second)
        {
            return;
        }
        for (size_t i = 0; i < array->GetCount(); ++i)
        {
            VJSONValue element = array->GetAt(i);
            if (_ResolveRecursively(ioContext, element))
            {
                array->SetAt(i, element, false);
            }
        }
    }
}

} // namespace zorn
