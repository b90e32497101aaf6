#include "toolbox/process/VSplitableLogFile.h"

#include "toolbox/files/VFile.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/strings/StStringConverter.h"

#include <cstring>
#include <string>

namespace zorn
{

int32_t VSplitableLogFile::sDefaultMaxLogsToKeep = 50;

namespace
{
// The bytes of the path's POSIX form; empty for an empty path.
std::string PosixBytes(const VFilePath& inPath)
{
    return inPath.IsValid() ? XLinuxFile::AllocatePosixPathFromFilePath(inPath) : std::string();
}
} // namespace

VSplitableLogFile::VSplitableLogFile(VFolder* inFolder, const VString& inBaseName, int32_t inLogNumber,
                                     bool inBinary)
    : fFolder(inFolder), fBaseName(inBaseName), fLogNumber(inLogNumber),
      fMaxLogsToKeep(sDefaultMaxLogsToKeep), fBinary(inBinary)
{
    if (fFolder != nullptr)
    {
        fFolder->Retain();
    }
}

VSplitableLogFile::~VSplitableLogFile()
{
    Close();
    if (fFolder != nullptr)
    {
        fFolder->Release();
    }
}

// ---- Opening and closing ----

bool VSplitableLogFile::Open(bool inTruncate, bool inNextFree)
{
    if (fStream == nullptr)
    {
        VFilePath path;
        _BuildFilePath(path, fLogNumber);
        if (inNextFree)
        {
            while (path.IsValid() && VFile(path).Exists())
            {
                ++fLogNumber;
                _BuildFilePath(path, fLogNumber);
            }
        }
        std::string bytes = PosixBytes(path);
        if (!bytes.empty())
        {
            {
                StErrorContextInstaller dropped(false, true);
                fFolder->CreateRecursive();
            }
            const char* mode = inTruncate ? (fBinary ? "wb" : "w") : (fBinary ? "ab" : "a");
            fStream = std::fopen(bytes.c_str(), mode);
            if (fStream != nullptr)
            {
                // Fewer, larger writes than the block-sized default; Flush still writes at once.
                std::setvbuf(fStream, nullptr, _IOFBF, kStreamBufferBytes);
            }
        }
        if (fStream == nullptr)
        {
            fJustOpened = true;
            return false;
        }
        fWrittenSinceAsk = -1;
    }
    if (!fHeader.IsEmpty())
    {
        _WriteText(fHeader);
    }
    fJustOpened = true;
    return true;
}

bool VSplitableLogFile::Open(int32_t inLogNumber, bool inTruncate)
{
    fLogNumber = inLogNumber;
    return Open(inTruncate, false);
}

void VSplitableLogFile::SetLogNumber(int32_t inLogNumber, bool inTruncate)
{
    fLogNumber = inLogNumber;
    if (fStream != nullptr)
    {
        Close();
        Open(inTruncate, false);
    }
}

void VSplitableLogFile::Close()
{
    if (fStream == nullptr)
    {
        return;
    }
    if (!fFooter.IsEmpty())
    {
        _WriteText(fFooter);
    }
    if (fStream != stdout)
    {
        std::fclose(fStream);
    }
    fStream = nullptr;
}

void VSplitableLogFile::Flush()
{
    if (fStream != nullptr)
    {
        std::fflush(fStream);
    }
}

// ---- Rolling ----

namespace
{
constexpr long kPositionAskBytes = 64 * 1024;
} // namespace

int32_t VSplitableLogFile::CheckLogSize()
{
    if (fStream == nullptr)
    {
        return 0;
    }
    if (fWrittenSinceAsk < 0 || fWrittenSinceAsk >= kPositionAskBytes)
    {
        fPosition = std::ftell(fStream);
        fWrittenSinceAsk = 0;
    }
    if (fPosition < kMaxLogSize)
    {
        return 0;
    }
    Close();
    const int32_t old = fLogNumber;
    fLogNumber = old + 1;
    if (fMaxLogsToKeep > 0 && old >= fMaxLogsToKeep)
    {
        VFilePath oldest;
        _BuildFilePath(oldest, old + 1 - fMaxLogsToKeep);
        if (std::string bytes = PosixBytes(oldest); !bytes.empty())
        {
            std::remove(bytes.c_str());
        }
    }
    Open(true, false);
    return fLogNumber;
}

// ---- Appending ----

void VSplitableLogFile::CheckEndOfLine()
{
    if (fJustOpened)
    {
        fJustOpened = false;
    }
    else if (!fSeparator.IsEmpty())
    {
        _WriteText(fSeparator);
    }
}

void VSplitableLogFile::AppendString(const VString& inText)
{
    CheckLogSize();
    if (fStream != nullptr)
    {
        CheckEndOfLine();
        _WriteText(inText);
    }
}

void VSplitableLogFile::AppendString(const char* inBytes)
{
    AppendBytes(inBytes, std::strlen(inBytes));
}

void VSplitableLogFile::AppendBytes(const char* inBytes, size_t inLength)
{
    CheckLogSize();
    if (fStream != nullptr)
    {
        CheckEndOfLine();
        // The owner serialises every call, so the stream's own lock is not taken.
        _Wrote(static_cast<long>(::fwrite_unlocked(inBytes, 1, inLength, fStream)));
    }
}

void VSplitableLogFile::AppendFormattedString(const char* inFormat, ...)
{
    CheckLogSize();
    if (fStream != nullptr)
    {
        CheckEndOfLine();
        va_list arguments;
        va_start(arguments, inFormat);
        const int written = std::vfprintf(fStream, inFormat, arguments);
        va_end(arguments);
        _Wrote(written > 0 ? written : 0);
    }
}

void VSplitableLogFile::_WriteText(const VString& inText)
{
    StStringConverter<char> converter(fCharSet, eCRM_NONE);
    converter.ConvertString(inText);
    _Wrote(static_cast<long>(std::fwrite(converter.GetOutput(), 1, converter.GetSize(), fStream)));
}

void VSplitableLogFile::_Wrote(long inBytes)
{
    fPosition += inBytes;
    if (fWrittenSinceAsk >= 0)
    {
        fWrittenSinceAsk += inBytes;
    }
}

// ---- Names ----

void VSplitableLogFile::GetCurrentFileName(VString& outName) const
{
    BuildLogFileNameWithExt(fBaseName, fLogNumber, fExtension, outName);
}

void VSplitableLogFile::GetFolderPath(VFilePath& outPath) const
{
    if (fFolder != nullptr)
    {
        outPath = fFolder->GetPath();
    }
    else
    {
        outPath.Clear();
    }
}

void VSplitableLogFile::BuildLogFileName(const VString& inBaseName, int32_t inNumber, VString& outName)
{
    BuildLogFileNameWithExt(inBaseName, inNumber, VString(), outName);
}

void VSplitableLogFile::BuildLogFileNameWithExt(const VString& inBaseName, int32_t inNumber,
                                                const VString& inExtension, VString& outName)
{
    outName.FromString(inBaseName);
    outName.AppendUniChar('_');
    outName.AppendLong(inNumber);
    if (inExtension.IsEmpty())
    {
        outName.AppendCString(".txt");
    }
    else
    {
        outName.AppendString(inExtension);
    }
}

void VSplitableLogFile::_BuildFilePath(VFilePath& outPath, int32_t inNumber) const
{
    outPath.Clear();
    if (fFolder == nullptr)
    {
        return;
    }
    VString name;
    BuildLogFileNameWithExt(fBaseName, inNumber, fExtension, name);
    outPath = fFolder->GetPath();
    outPath.ToSubFile(name);
}

} // namespace zorn
