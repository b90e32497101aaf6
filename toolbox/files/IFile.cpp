#include "toolbox/files/IFile.h"

#include "toolbox/json/VJSONImporter.h"
#include "toolbox/json/VJSONValue.h"
#include "toolbox/json/VJSONWriter.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/charsets/VTextConverter.h"
#include "toolbox/kernel/charsets/VTextConverters.h"
#include "toolbox/kernel/errors/VErrorBase.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/hooks/VKernelHooks.h"
#include "toolbox/kernel/strings/VString.h"

namespace zorn
{

// ---------------------------------------------------------------------------------------------
// Names
// ---------------------------------------------------------------------------------------------

void IFileSystemObject::GetName(VString& outName) const
{
    GetPath().GetName(outName);
}

void IFileSystemObject::GetExtension(VString& outExtension) const
{
    GetPath().GetExtension(outExtension);
}

bool IFileSystemObject::MatchExtension(const VString& inExtension) const
{
    return GetPath().MatchExtension(inExtension, false);
}

void IFile::GetNameWithoutExtension(VString& outName) const
{
    GetPath().GetFileName(outName, false);
}

void IFolder::GetNameWithoutExtension(VString& outName) const
{
    GetPath().GetFolderName(outName, false);
}

bool IFolder::IsSameFolder(const IFolder* inOther) const
{
    if (inOther == nullptr)
    {
        return false;
    }
    VString mine;
    VString theirs;
    GetPath().GetPath(mine);
    inOther->GetPath().GetPath(theirs);
    return mine.EqualToStringRaw(theirs);
}

// ---------------------------------------------------------------------------------------------
// Content as text and JSON
// ---------------------------------------------------------------------------------------------

VError IFile::GetContentAsString(VString& outText, CharSet inCharSet, ECarriageReturnMode inMode) const
{
    StErrorContextInstaller scope(true, false);
    VFileContentBuffer content;
    if (GetContent(content) != VE_OK)
    {
        outText.Clear();
    }
    else
    {
        outText.FromBlockWithOptionalBOM(content.GetDataPtr(), content.GetDataSize(), inCharSet);
        outText.ConvertCarriageReturns(inMode);
    }
    return scope.GetLastError();
}

VError IFile::SetContentAsString(const VString& inText, CharSet inCharSet, ECarriageReturnMode inMode,
                                 bool inWithBOM) const
{
    StErrorContextInstaller scope(true, false);
    VString text(inText);
    text.ConvertCarriageReturns(inMode);
    VRefPtr<VFromUnicodeConverter> converter(VTextConverters::Get()->RetainFromUnicodeConverter(inCharSet),
                                             true);
    if (converter == nullptr || !converter->IsValid())
    {
        _PushRetainedError(new VErrorBase(VE_FILE_CANNOT_CONVERT_TEXT));
        return scope.GetLastError();
    }
    VFileContentBuffer bytes;
    size_t markSize = 0;
    const uint8_t* mark = VTextConverters::GetBOMForCharSet(inCharSet, markSize);
    bool ok = true;
    if (inWithBOM && mark != nullptr && text.GetLength() > 0)
    {
        ok = bytes.AddData(mark, markSize);
    }
    ok = ok && converter->ConvertToBuffer(text.GetCPointer(), text.GetLength(), bytes);
    if (ok)
    {
        SetContent(bytes.GetDataPtr(), bytes.GetDataSize());
    }
    else if (scope.GetLastError() == VE_OK)
    {
        _PushRetainedError(new VErrorBase(VE_FILE_CANNOT_CONVERT_TEXT));
    }
    return scope.GetLastError();
}

VError IFile::GetContentAsJSON(VJSONValue& outValue, CharSet inCharSet) const
{
    StErrorContextInstaller scope(true, false);
    VString text;
    VError result = VE_OK;
    if (inCharSet == CharSet::VTC_UTF_8)
    {
        // Ill-formed UTF-8 becomes U+FFFD, as the importer's own file reading has it.
        VFileContentBuffer content;
        result = GetContent(content);
        if (result == VE_OK)
        {
            result =
                VJSONImporter::DecodeUTF8(content.GetDataPtr(), content.GetDataSize(), 0, VString(), text);
        }
    }
    else
    {
        result = GetContentAsString(text, inCharSet, eCRM_NONE);
    }
    if (result == VE_OK)
    {
        VJSONImporter importer(text, VJSONImporter::kMarkedDatesOnly);
        result = importer.Parse(outValue);
    }
    return scope.GetLastError() != VE_OK ? scope.GetLastError() : result;
}

VError IFile::SetContentAsJSON(const VJSONValue& inValue, CharSet inCharSet, ECarriageReturnMode inMode,
                               bool inWithBOM) const
{
    StErrorContextInstaller scope(true, false);
    VString text;
    VError result = inValue.Stringify(text, VJSONWriter::kQuoted | VJSONWriter::kPretty);
    if (result == VE_OK)
    {
        SetContentAsString(text, inCharSet, inMode, inWithBOM);
    }
    // The writer may answer without pushing: its code is then the result.
    return scope.GetLastError() != VE_OK ? scope.GetLastError() : result;
}

VError IFile::CopyContentTo(const IFile* inDestination) const
{
    StErrorContextInstaller scope(true, false);
    VFileContentBuffer content;
    if (GetContent(content) == VE_OK && inDestination != nullptr)
    {
        inDestination->SetContent(content.GetDataPtr(), content.GetDataSize());
    }
    return scope.GetLastError();
}

// ---------------------------------------------------------------------------------------------
// Definition files of script classes
// ---------------------------------------------------------------------------------------------

namespace
{

const detail::VClassFileAccess sClassFileAccess{
    [](IFile* inFile) { inFile->Retain(); },
    [](IFile* inFile) { inFile->Release(); },
    [](const IFile* inFile, VTime& outTime) { return inFile->GetTimeAttributes(&outTime, nullptr, nullptr); },
    [](const IFile* inFile) { return inFile->Exists(); },
    [](const IFile* inFile, VString& outPath) { outPath = inFile->GetPathWithFileSystem(); },
};

// A program that holds a file links this file, so a class is never given a file before the
// entry is there.
[[maybe_unused]] const bool sClassFileAccessInstalled =
    (detail::KernelHooks().fClassFileAccess.store(&sClassFileAccess), true);

} // namespace

} // namespace zorn
