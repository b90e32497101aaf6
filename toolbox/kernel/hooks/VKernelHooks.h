// VKernelHooks: the one table through which the kernel calls upward, into layers built on it (JSON
// values and objects, log record bags, the running process object). The kernel names these types
// but may not depend on the libraries that implement them: each library installs its entries here
// when it starts. Until an entry is installed, the operation that needs it does what it can without
// it (usually nothing) and reports no error.
//
// A new upward call is a new entry here: a function pointer, or a pointer to an interface when a
// whole object of the upper layer answers (IProcessServices), with an inline caller below that
// allows for the empty entry. Entries are atomic: a layer may install them on one task while
// another task reads them.
#pragma once

#include "toolbox/kernel/errors/VError.h"

#include <atomic>
#include <cstddef>
#include <vector>

namespace zorn
{

class IProcessServices;
class ILogger;
class IRefCountable;
class VErrorBase;
class VJSONValue;
class VJSONObject;
class VProgressIndicator;
class VString;
class VBlob;
class VTime;
class VValueBag;
class VFilePath;
class IFile;
class IFolder;
class VFileSystemNamespace;
class VJSONPointerResolver;
class VJSONPointerContext;
template <class T>
class VRefPtr;

namespace detail
{

// Access to JSON objects for code below the JSON layer (error parameters, placeholders of strings).
// Every entry is set.
struct VJSONObjectAccess
{
    VJSONObject* (*fCreate)();                               // a new empty object, one reference
    VJSONObject* (*fCloneDeep)(const VJSONObject* inObject); // one reference; null if not an object
    void (*fRetain)(const VJSONObject* inObject);
    void (*fRelease)(const VJSONObject* inObject);
    void (*fSetString)(VJSONObject* ioObject, const VString& inName, const VString& inValue);
    void (*fSetNumber)(VJSONObject* ioObject, const VString& inName, double inValue);
    // True, with the value, when the property exists with that type.
    bool (*fGetString)(const VJSONObject* inObject, const VString& inName, VString& outValue);
    bool (*fGetNumber)(const VJSONObject* inObject, const VString& inName, double& outValue);
    // True, with its text, when the property exists and is neither undefined nor null.
    bool (*fGetText)(const VJSONObject* inObject, const VString& inName, VString& outText);
    // Copies the property when the source has it; whether it did.
    bool (*fCopyProperty)(const VJSONObject* inFrom, VJSONObject* ioTo, const VString& inName);
    // Whether the object has no property (placeholders of VString::Format).
    bool (*fIsEmpty)(const VJSONObject* inObject);
    // As fGetText, for a dotted property path ("user.first", "list[2]").
    bool (*fGetTextWithPath)(const VJSONObject* inObject, const VString& inPath, VString& outText);
    // Sets the property to JSON true or false.
    void (*fSetBool)(VJSONObject* ioObject, const VString& inName, bool inValue);
    // True, with the value, when the property is JSON true or false.
    bool (*fGetBool)(const VJSONObject* inObject, const VString& inName, bool& outValue);
    // Sets the property to the object (retained by it).
    void (*fSetObject)(VJSONObject* ioObject, const VString& inName, VJSONObject* inValue);
    // Sets the property to an array of the objects, in order (each retained by the array).
    void (*fSetObjectArray)(VJSONObject* ioObject, const VString& inName, VJSONObject* const* inValues,
                            size_t inCount);
};

// Progress indicators as streams use them (VStream::SetProgressIndicator). The process layer,
// which builds the indicators, installs the table when it makes the first one, so a stream that
// is given an indicator always finds it. Every entry is set.
struct VProgressAccess
{
    void (*fRetain)(VProgressIndicator* inIndicator);
    void (*fRelease)(VProgressIndicator* inIndicator);
    void (*fBeginSession)(VProgressIndicator* inIndicator, int64_t inMax, const VString& inTitle);
    // Sets the session's value; false when the user or the task's death asks to stop.
    bool (*fProgress)(VProgressIndicator* inIndicator, int64_t inValue);
    void (*fEndSession)(VProgressIndicator* inIndicator);
};

// The JSON layer's side of the value bags' JSON form (VValueBag_JSON.cpp). Every entry is set.
struct VBagJSONAccess
{
    // Reads a JSON object text into the bag (VJSONImporter::JSONObjectToBag with the importer
    // options); returns the importer's error.
    VError (*fTextToBag)(const VString& inText, VValueBag& ioBag, uint32_t inImporterOptions);
    // The value's JSON text as VValueBag::FromJSONValue reads it: VJSONValue::Stringify, except that
    // "Blob" objects (as members and elements) are written as the "__PRIVATE_BINARY_OBJECT" objects
    // that carry them, which the bag's reader turns into blob attributes.
    VError (*fStringify)(const VJSONValue& inValue, VString& outText, uint32_t inOptions);
    // The text parsed by VJSONValue::ParseFromString: the object, retained; null when the text
    // fails (outError set) or is no object (outError 0).
    VJSONObject* (*fParseObject)(const VString& inText, VError& outError);
    // Makes the value the object, or undefined for null.
    void (*fSetObject)(VJSONValue& ioValue, VJSONObject* inObject);
    // Reads the object into the bag as VJSONImporter::JSONObjectToBag reads its text, except that
    // strings stay strings (no date is read out of them) and that every number that is not an
    // integer within 64 bits (-0 included) stays a real, so that it comes back bit for bit.
    VError (*fObjectToBag)(const VJSONObject* inObject, VValueBag& ioBag);
    // The object the bag's JSON text stands for, built from the bag without going through text,
    // so that reals keep every bit: strings, booleans, numbers and null directly, other kinds
    // through their JSON text. Retained; null when the bag stands for a scalar ("____FakeArrayElement")
    // or when the nesting is too deep ('zorn' 108 in outError).
    VJSONObject* (*fBagToObject)(const VValueBag& inBag, VError& outError);
};

// A script class's definition file (an IFile of the files layer) as the JSON layer's classes use
// it. The files layer installs the table before any file exists. Every entry is set.
struct VClassFileAccess
{
    void (*fRetain)(IFile* inFile);
    void (*fRelease)(IFile* inFile);
    // The file's modification time; the file layer's error (outTime null) when it cannot be read.
    VError (*fGetModificationTime)(const IFile* inFile, VTime& outTime);
    bool (*fExists)(const IFile* inFile);
    // "/" + file system name + path below its root, or the POSIX path.
    void (*fGetPathWithFileSystem)(const IFile* inFile, VString& outPath);
};

// The file layer's side of JSON pointers (VJSONPointerResolver): the folders a resolver holds and
// the documents it reads from files. The file layer installs it before main. Every entry is set.
struct VJSONDocumentAccess
{
    // The reference count of a folder (the folder itself, as IRefCountable).
    IRefCountable* (*fFolderRefCount)(IFolder* inFolder);
    // The same for a namespace of file systems.
    IRefCountable* (*fNamespaceRefCount)(VFileSystemNamespace* inNamespace);
    // The root and folder of a document part naming a file (VJSONPointerResolver::LoadDocument);
    // false, with its error recorded by the resolver, when there is none.
    bool (*fLoadFileDocument)(VJSONPointerResolver& ioResolver, VJSONPointerContext& ioContext,
                              const VString& inText, const VString& inDocumentPart, VJSONValue& outRoot,
                              VRefPtr<IRefCountable>& outFolderHold, IFolder*& outFolder);
    // Appends every file of the run (retained) to ioFiles.
    void (*fCollectFiles)(const VJSONPointerContext& inContext, std::vector<VRefPtr<IFile>>& ioFiles);
};

// A JSON value as the scalar kinds read it.
struct JSONScalar
{
    bool fIsNull = false;
    double fNumber = 0; // VJSONValue::GetNumber
    bool fBool = false; // VJSONValue::GetBool
};

// Build the record of an error or of a failed assertion and log it with ioLogger.LogBag; called
// only once the logger accepted the level. Record bags belong to the value-bag layer.
using ErrorRecordWriter = void (*)(ILogger& ioLogger, VErrorBase* inError);
using AssertRecordWriter = void (*)(ILogger& ioLogger, const char* inMessage, const char* inFileName,
                                    int inLineNumber);
// Build the record of a debug message ("message" inMessage, "level" 3) and log it with
// ioLogger.LogBag; called only once the logger accepted the level.
using DebugMessageRecordWriter = void (*)(ILogger& ioLogger, const VString& inMessage);

struct VKernelHooks
{
    // The running process object (IProcessServices::Get and Set).
    std::atomic<IProcessServices*> fProcess{nullptr};
    // The log records of ILogger::LogErrorIfNecessary and LogAssertIfNecessary.
    std::atomic<ErrorRecordWriter> fErrorRecordWriter{nullptr};
    std::atomic<AssertRecordWriter> fAssertRecordWriter{nullptr};
    // The log record of the debug manager's debug messages (ILogger::LogDebugMessageIfNecessary).
    std::atomic<DebugMessageRecordWriter> fDebugMessageRecordWriter{nullptr};
    // JSON objects and values.
    std::atomic<const VJSONObjectAccess*> fJSONObjectAccess{nullptr};
    std::atomic<void (*)(VJSONValue& ioValue)> fSetJSONUndefined{nullptr};
    std::atomic<void (*)(VJSONValue& ioValue)> fSetJSONNull{nullptr};
    std::atomic<void (*)(VJSONValue& ioValue, double inNumber)> fSetJSONNumber{nullptr};
    std::atomic<void (*)(VJSONValue& ioValue, bool inBool)> fSetJSONBool{nullptr};
    std::atomic<void (*)(const VJSONValue& inValue, JSONScalar& outScalar)> fGetJSONScalar{nullptr};
    // Makes the value an array of the objects, in order (each retained by the array).
    std::atomic<void (*)(VJSONValue& ioValue, VJSONObject* const* inObjects, size_t inCount)>
        fSetJSONObjectArray{nullptr};
    // Strings: a JSON string sharing the string's buffer (VJSONValue::SetString); and the text of
    // any JSON value (VJSONValue::GetString), a JSON null giving a null string.
    std::atomic<void (*)(VJSONValue& ioValue, const VString& inString)> fSetJSONString{nullptr};
    std::atomic<void (*)(const VJSONValue& inValue, VString& outString)> fGetJSONString{nullptr};
    // Blobs as JSON objects of the class "Blob": a new object holding a copy of the bytes; and,
    // when the value is such an object, its bytes put into the blob (true) or false.
    std::atomic<void (*)(const VBlob& inBlob, VJSONValue& outValue)> fBlobToJSON{nullptr};
    std::atomic<bool (*)(const VJSONValue& inValue, VBlob& ioBlob)> fBlobFromJSON{nullptr};
    // The JSON text of that object: the "__PRIVATE_BINARY_OBJECT" object carrying it, as the JSON
    // readers (the importer, the value bags' reader) turn back into a "Blob" object.
    std::atomic<void (*)(const VBlob& inBlob, VString& outText)> fBlobToJSONText{nullptr};
    // Times as JSON dates (VJSONValue::SetTime: the UTC day only).
    std::atomic<void (*)(VJSONValue& ioValue, const VTime& inTime)> fSetJSONTime{nullptr};
    // Paths from the bytes of a full POSIX path; a null text clears the path (VSystem's executable
    // search).
    std::atomic<void (*)(const char* inPosixPath, VFilePath& outPath)> fSetFilePathFromPosix{nullptr};
    // Progress indicators of streams.
    std::atomic<const VProgressAccess*> fProgressAccess{nullptr};
    // The value bags' JSON form.
    std::atomic<const VBagJSONAccess*> fBagJSONAccess{nullptr};
    // Reads the spin lock's settings file and hands its values to SpinLock::ApplySettings
    // (SpinLock::Configure, when the task manager starts).
    std::atomic<void (*)()> fReadSpinLockSettings{nullptr};
    // Definition files of script classes.
    std::atomic<const VClassFileAccess*> fClassFileAccess{nullptr};
    // The JSON pointers' documents in files.
    std::atomic<const VJSONDocumentAccess*> fJSONDocumentAccess{nullptr};
};

// The process-wide hook table, built on first use.
VKernelHooks& KernelHooks();

inline void SetLogRecordWriters(ErrorRecordWriter inErrorWriter, AssertRecordWriter inAssertWriter)
{
    KernelHooks().fErrorRecordWriter.store(inErrorWriter);
    KernelHooks().fAssertRecordWriter.store(inAssertWriter);
}

inline void SetDebugMessageRecordWriter(DebugMessageRecordWriter inWriter)
{
    KernelHooks().fDebugMessageRecordWriter.store(inWriter);
}

// Sets outPath from a full POSIX path (null: clears it); false, outPath untouched, while the file
// layer has not started.
inline bool SetFilePathFromPosix(const char* inPosixPath, VFilePath& outPath)
{
    auto hook = KernelHooks().fSetFilePathFromPosix.load();
    if (hook == nullptr)
    {
        return false;
    }
    hook(inPosixPath, outPath);
    return true;
}

// Reads the spin lock's settings file, when the process layer has started.
inline void ReadSpinLockSettings()
{
    if (auto hook = KernelHooks().fReadSpinLockSettings.load())
    {
        hook();
    }
}

// The JSON object access, or null while the JSON layer has not started.
inline const VJSONObjectAccess* JSONObjects()
{
    return KernelHooks().fJSONObjectAccess.load(std::memory_order_acquire);
}

// The value bags' JSON entries, or null while the JSON layer has not started.
inline const VBagJSONAccess* BagJSON()
{
    return KernelHooks().fBagJSONAccess.load(std::memory_order_acquire);
}

// The JSON pointers' file entries, or null while the file layer has not started.
inline const VJSONDocumentAccess* JSONDocuments()
{
    return KernelHooks().fJSONDocumentAccess.load(std::memory_order_acquire);
}

// The progress indicators' table, or null while no indicator was ever made.
inline const VProgressAccess* ProgressIndicators()
{
    return KernelHooks().fProgressAccess.load(std::memory_order_acquire);
}

inline void SetJSONUndefined(VJSONValue& ioValue)
{
    if (auto hook = KernelHooks().fSetJSONUndefined.load())
    {
        hook(ioValue);
    }
}
inline void SetJSONNull(VJSONValue& ioValue)
{
    if (auto hook = KernelHooks().fSetJSONNull.load())
    {
        hook(ioValue);
    }
}
inline void SetJSONNumber(VJSONValue& ioValue, double inNumber)
{
    if (auto hook = KernelHooks().fSetJSONNumber.load())
    {
        hook(ioValue, inNumber);
    }
}
inline void SetJSONBool(VJSONValue& ioValue, bool inBool)
{
    if (auto hook = KernelHooks().fSetJSONBool.load())
    {
        hook(ioValue, inBool);
    }
}
// Nothing while no JSON library is installed.
inline void SetJSONObjectArray(VJSONValue& ioValue, VJSONObject* const* inObjects, size_t inCount)
{
    if (auto hook = KernelHooks().fSetJSONObjectArray.load())
    {
        hook(ioValue, inObjects, inCount);
    }
}
// False, with outScalar untouched, while no JSON library is installed.
inline bool GetJSONScalar(const VJSONValue& inValue, JSONScalar& outScalar)
{
    if (auto hook = KernelHooks().fGetJSONScalar.load())
    {
        hook(inValue, outScalar);
        return true;
    }
    return false;
}

inline void SetJSONString(VJSONValue& ioValue, const VString& inString)
{
    if (auto hook = KernelHooks().fSetJSONString.load())
    {
        hook(ioValue, inString);
    }
}
// Nothing while no JSON library is installed.
inline void SetJSONTime(VJSONValue& ioValue, const VTime& inTime)
{
    if (auto hook = KernelHooks().fSetJSONTime.load())
    {
        hook(ioValue, inTime);
    }
}
// False, with outString untouched, while no JSON library is installed.
inline bool GetJSONString(const VJSONValue& inValue, VString& outString)
{
    if (auto hook = KernelHooks().fGetJSONString.load())
    {
        hook(inValue, outString);
        return true;
    }
    return false;
}

} // namespace detail
} // namespace zorn
