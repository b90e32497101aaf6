// VJSONPointerResolver: replaces reference objects ({"$ref": "doc.json#/a/0"}) by their targets,
// one at a time (ResolveOnePointer) or throughout a value (ResolveRecursively). A reference text
// is a document part (a file path, or nothing for the resolver's own root), "#" and a JSON pointer
// (RFC 6901) into that document. Failures never stop a resolution: each becomes a record in the
// resolver's error list (GetErrors) and the value it concerns becomes undefined.
//
// Choices and limits:
// - Documents other than the root are files. Finding, reading and caching them is the file
//   layer's work (VJSONPointerResolver_File.cpp in toolbox/files), reached through the
//   fJSONDocumentAccess entry of VKernelHooks; a program without the file layer has no folder to
//   give, so every document part there gives 913. The binary reader's resolver has no folder and
//   never reads a file, whatever its data says.
// - With a namespace of file systems, a document part is found only through it
//   (VFileSystemNamespace::RetainFile with look-up bits 3 and no full path): a relative path in
//   the base folder, "/" + file system + "/" + path in that file system. Without one, a relative
//   path is looked up in the base folder and a full path names no document. Relative paths are
//   '/'-separated in both cases.
// - Document parts with the schemes "http:", "https:" and "file:" are refused (909).
// - The document part and the fragment are percent-decoded (UTF-8 runs; a '%' among the last two
//   units, or one not followed by two hexadecimal digits, stays) and composed (NFC).
// - Array steps accept decimal digits only, without a leading zero; "-" (the element after the
//   last) designates nothing here and gives 909.
// - The objects handled in one run are held (retained) for the run, so an object freed on the way
//   can never be taken for a new one at the same address; arrays are walked once per run too.
// - ResolveRecursively follows a reference whose target is itself a reference to the end of the
//   chain, and resolves the references inside a target from another document at once, against
//   that document and its folder; a chain that comes back to one of its links is 908. Without
//   patch, each link of a chain followed is remembered with the chain's end, so a later reference
//   to a link (or the link's own turn in the walk) takes the end at once, and a failed chain's
//   records are made again for it: the time is linear in the document, not cubic in the chain.
//   The cycle test is a set. With patch each reference merges its own members on the way, so
//   chains are walked again from each link (quadratic in a chain's length).
// - A relative document part names a file inside the folder of the document that holds the
//   reference, by its text and by its real path ("..", or a link leading out, gives 913), with or
//   without a namespace.
// - A resolver, its contexts and its cache belong to one task; nothing here takes a lock.
//
// Error records (elements of GetErrors, in order): "code" (number), "component" (four letters),
// "message" (the error's description, with "p1" = pointerURI and "p2" = referredPath), then
// "pointerURI" and "referredPath" when given.
#pragma once

#include "toolbox/json/VJSONValue.h"
#include "toolbox/kernel/base/IRefCountable.h"
#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/errors/VError.h"
#include "toolbox/kernel/strings/VString.h"

#include <map>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace zorn
{

class IFile;
class IFolder;
class VFilePath;
class VFileSystemNamespace;
class VJSONArray;
class VJSONObject;
class VJSONPointerResolver;

// A member or element not found, an index past the end, an undefined element.
constexpr VError VE_JSON_POINTER_NOT_FOUND = MakeVError(kCOMPONENT_ZORN, 906);
// A fragment not beginning with "/"; an empty, leading-zero or non-numeric array index.
constexpr VError VE_JSON_POINTER_BAD_SYNTAX = MakeVError(kCOMPONENT_ZORN, 907);
// A reference met again while it is being resolved.
constexpr VError VE_JSON_POINTER_CYCLE = MakeVError(kCOMPONENT_ZORN, 908);
// A remote document ("http:", "https:", "file:"), or the array index "-".
constexpr VError VE_JSON_POINTER_UNSUPPORTED = MakeVError(kCOMPONENT_ZORN, 909);
// A step into a value that is neither object nor array.
constexpr VError VE_JSON_POINTER_NOT_CONTAINER = MakeVError(kCOMPONENT_ZORN, 910);
// The referred file is not JSON.
constexpr VError VE_JSON_POINTER_BAD_DOCUMENT = MakeVError(kCOMPONENT_ZORN, 912);
// The referred file cannot be found or does not exist.
constexpr VError VE_JSON_POINTER_NO_DOCUMENT = MakeVError(kCOMPONENT_ZORN, 913);

// The parsed documents of one resolution (and of later ones that are given the same cache), keyed
// by the file's POSIX path. Paths compare exactly: Linux file systems tell "A.json" from "a.json".
class VJSONFileCache : public VObject, public IRefCountable
{
public:
    VJSONFileCache() = default;
    VJSONFileCache(const VJSONFileCache&) = delete;
    VJSONFileCache& operator=(const VJSONFileCache&) = delete;

    // Undefined when absent; an undefined value removes the entry. The VFilePath forms are the
    // file layer's (VJSONPointerResolver_File.cpp).
    VJSONValue GetValue(const VFilePath& inPath) const;
    void SetValue(const VFilePath& inPath, const VJSONValue& inValue);
    VJSONValue GetValueForPosixPath(const VString& inPosixPath) const;
    void SetValueForPosixPath(const VString& inPosixPath, const VJSONValue& inValue);
    size_t GetCount() const { return fValues.size(); }

private:
    std::map<std::u16string, VJSONValue> fValues;
};

// One resolution run (VJSONPointerResolver::Context), shared by the resolvers made on the way.
class VJSONPointerContext
{
public:
    // A document file met in the run: the file, and the reference that keeps it.
    struct LoadedFile
    {
        IFile* fFile = nullptr;
        VRefPtr<IRefCountable> fHold;
    };

    // Objects already examined, each held for the run.
    std::map<const VJSONObject*, VRefPtr<VJSONObject>> fHandled;
    // Arrays already walked, each held for the run.
    std::map<const VJSONArray*, VRefPtr<VJSONArray>> fHandledArrays;
    // The reference objects being resolved, outermost first; the same as a set, for the cycle test
    // (PushResolving, PopResolving and IsResolving keep the two together).
    std::vector<const VJSONObject*> fResolving;
    std::unordered_multiset<const VJSONObject*> fResolvingSet;
    // Where each link of a chain already followed (patch off) came to, so that the chain is walked
    // once: its final value, the resolver of the document that holds it, and, when the chain
    // failed, the error records the failure made (and the resolver that holds them), which every
    // later reference through that link makes again.
    struct ChainEnd
    {
        VRefPtr<VJSONObject> fLink;
        VJSONValue fValue;
        VRefPtr<VJSONPointerResolver> fOwner;
        std::vector<VRefPtr<VJSONObject>> fFailureRecords;
        VRefPtr<VJSONPointerResolver> fFailureOwner;
    };
    std::unordered_map<const VJSONObject*, ChainEnd> fChainEnds;
    // Every document file met, by its POSIX path.
    std::unordered_map<std::u16string, LoadedFile> fLoadedFiles;
    bool fPatch = false;
    bool fResolveOnTheWay = false;
    // The "$ref" text being followed.
    VString fCurrentPointer;

    void PushResolving(const VJSONObject* inObject)
    {
        fResolving.push_back(inObject);
        fResolvingSet.insert(inObject);
    }
    // Drops the innermost objects until inSize are left.
    void PopResolving(size_t inSize)
    {
        while (fResolving.size() > inSize)
        {
            fResolvingSet.erase(fResolvingSet.find(fResolving.back()));
            fResolving.pop_back();
        }
    }
    bool IsResolving(const VJSONObject* inObject) const { return fResolvingSet.contains(inObject); }
};

class VJSONPointerResolver : public VObject, public IRefCountable
{
public:
    using Context = VJSONPointerContext;

    static constexpr const char16_t* sRefPropertyName = u"$ref";

    // Any pointer may be null; a null cache is replaced by a new one. The folder, the namespace
    // and the cache are retained.
    VJSONPointerResolver(const VJSONValue& inRoot, IFolder* inBaseFolder, VFileSystemNamespace* inFileSystems,
                         VJSONFileCache* inCache);
    ~VJSONPointerResolver() override;
    VJSONPointerResolver(const VJSONPointerResolver&) = delete;
    VJSONPointerResolver& operator=(const VJSONPointerResolver&) = delete;

    // outValue is the object, then, when the object is a reference, its target (undefined when it
    // cannot be resolved); whether it was a reference. Patch off, errors in a scope of its own.
    bool ResolveOnePointer(VJSONObject* inObject, bool inResolveOnTheWay, VJSONValue& outValue);
    // Resolves every reference inside the value in place (resolve-on-the-way on); outFiles, when
    // given, receives every document file read or found.
    void ResolveRecursively(VJSONValue& ioValue, bool inPatch, std::vector<VRefPtr<IFile>>* outFiles);

    // The error records, oldest first; null before the first error.
    VJSONArray* GetErrors() const { return fErrors; }
    const VJSONValue& GetRoot() const { return fRoot; }
    IFolder* GetBaseFolder() const { return fBaseFolder; }
    VFileSystemNamespace* GetFileSystems() const { return fFileSystems; }
    VJSONFileCache* GetFileCache() const { return fCache.Get(); }

    // The steps of a resolution.
    // Resolves ioValue when it is a reference object; outNewResolver (when asked) receives a
    // resolver over the other document it named. outDescend: whether the caller should walk the
    // value's contents.
    bool Resolve(Context& ioContext, VJSONValue& ioValue, VRefPtr<VJSONPointerResolver>* outNewResolver,
                 bool* outOnStack, bool* outDescend);
    bool ResolvePointerURI(Context& ioContext, const VString& inText, VJSONValue& outValue,
                           VJSONValue* outDocumentRoot, VRefPtr<IRefCountable>* outFolderHold,
                           IFolder** outFolder);
    // The document's root and folder (retained in outFolderHold); false after recording 912/913.
    bool LoadDocument(Context& ioContext, const VString& inText, const VString& inDocumentPart,
                      VJSONValue& outRoot, VRefPtr<IRefCountable>& outFolderHold, IFolder*& outFolder);
    bool ResolvePointerString(Context& ioContext, const VString& inFragment, VJSONValue& ioValue);
    bool ResolveOnePart(Context& ioContext, VJSONValue& ioValue, const VString& inPart);
    void PatchPointerValue(Context& ioContext, VJSONValue& ioValue, const VJSONValue& inTarget);

    // Records an error with its parameters (either may be null).
    void _ThrowError(VError inError, const VString* inPointerURI, const VString* inReferredPath);
    // Records an error whose "pointerURI" is the context's current pointer.
    void _ThrowURIError(const Context& inContext, VError inError);
    // The file layer's half of LoadDocument: a document part that names a file (not empty).
    bool _LoadFileDocument(Context& ioContext, const VString& inText, const VString& inDocumentPart,
                           VJSONValue& outRoot, VRefPtr<IRefCountable>& outFolderHold, IFolder*& outFolder);

    // Percent-decoding of reference texts, with the rules of VURL::Decode.
    static void DecodeURIText(VString& ioText);

private:
    // Resolves the value (following a chain of references to its end) and then its contents;
    // whether the value changed.
    bool _ResolveRecursively(Context& ioContext, VJSONValue& ioValue);
    void _ResolveContents(Context& ioContext, VJSONValue& ioValue);
    // Records again copies of records a failure made (for a later reference through a failed chain).
    void _RepeatRecords(const std::vector<VRefPtr<VJSONObject>>& inRecords);

    VJSONValue fRoot;
    IFolder* fBaseFolder = nullptr;
    VRefPtr<IRefCountable> fBaseFolderHold;
    VFileSystemNamespace* fFileSystems = nullptr;
    VRefPtr<IRefCountable> fFileSystemsHold;
    VRefPtr<VJSONFileCache> fCache;
    VJSONArray* fErrors = nullptr; // one reference
};

} // namespace zorn
