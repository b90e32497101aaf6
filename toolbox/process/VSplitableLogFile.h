// VSplitableLogFile: a text file that splits itself into numbered pieces in one folder, named
// "<base>_<n>.txt" (n in plain decimal, no padding; a set extension replaces ".txt"). Before
// every append it checks the current piece's size: once the piece holds 10 MiB plus one byte or
// more it is closed, the number moves on, the oldest piece beyond the number to keep is deleted,
// and writing goes on in a fresh, emptied piece.
//
// Choices made where several were possible:
// - Opening without truncation uses append mode directly ("a", or "ab" in binary mode): the piece
//   is created when missing and never emptied, even when it exists but cannot be read.
// - The roll limit is the stream position (ftell), so text written by another writer to the same
//   piece counts too; the text that passes the limit stays in the old piece. ftell on an
//   append-mode stream costs a system call, so the position is asked once after opening and then
//   again after every 64 KiB written; in between, the bytes this object writes are added to it.
//   With one writer the position is always exact; another writer's text is seen at the next ask.
// - Each roll deletes one piece, the one numbered n+1-K after rolling from n with K pieces to keep
//   (K = 0 or less keeps all); a gap left by an earlier setting is not swept.
// - Errors from creating the folder are dropped; a piece that cannot be opened leaves the object
//   closed, and appends are then dropped until Open succeeds. Write failures are ignored.
// - The stream is fully buffered with a 64 KiB buffer (the C library's default is one block), so
//   a busy log goes to the system in large writes; Flush and Close write what is buffered.
// - No lock of its own: the owner serialises every call.
#pragma once

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/ZornTypes.h"
#include "toolbox/kernel/strings/VString.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

namespace zorn
{

class VFilePath;
class VFolder;

class VSplitableLogFile : public VObject
{
public:
    // The roll limit: 10 MiB plus one byte.
    static constexpr long kMaxLogSize = 0xA00001;
    static int32_t sDefaultMaxLogsToKeep; // 50
    static constexpr size_t kStreamBufferBytes = 64 * 1024;

    // Retains the folder (which may be null); the file stays closed.
    VSplitableLogFile(VFolder* inFolder, const VString& inBaseName, int32_t inLogNumber, bool inBinary);
    ~VSplitableLogFile() override;
    VSplitableLogFile(const VSplitableLogFile&) = delete;
    VSplitableLogFile& operator=(const VSplitableLogFile&) = delete;

    // Opens the current piece: with inTruncate emptied, else appended to; with inNextFree the
    // number first moves past every existing piece. Whether a stream is open afterwards.
    bool Open(bool inTruncate, bool inNextFree);
    bool Open(int32_t inLogNumber, bool inTruncate);
    // Sets the number; an open piece is closed and the new number opened.
    void SetLogNumber(int32_t inLogNumber, bool inTruncate);
    int32_t GetLogNumber() const { return fLogNumber; }
    // Writes the footer, then closes (the process's standard output stays open).
    void Close();
    void Flush();
    bool IsOpen() const { return fStream != nullptr; }

    // Rolls when the piece is full; the new number, else 0.
    int32_t CheckLogSize();
    // Writes the separator unless the piece was just opened.
    void CheckEndOfLine();
    // Each rolls when needed, then writes the separator rule and the text: converted to the
    // file's character set with line endings kept, as raw bytes, or formatted by vfprintf.
    void AppendString(const VString& inText);
    void AppendString(const char* inBytes);
    void AppendBytes(const char* inBytes, size_t inLength);
    void AppendFormattedString(const char* inFormat, ...) __attribute__((format(printf, 2, 3)));

    void SetMaxLogsToKeep(int32_t inCount) { fMaxLogsToKeep = inCount; }
    int32_t GetMaxLogsToKeep() const { return fMaxLogsToKeep; }
    void SetHeader(const VString& inText) { fHeader = inText; }
    void SetFooter(const VString& inText) { fFooter = inText; }
    void SetExtension(const VString& inExtension) { fExtension = inExtension; }
    void SetSeparator(const VString& inSeparator) { fSeparator = inSeparator; }
    void SetCharSet(CharSet inCharSet) { fCharSet = inCharSet; }

    // The current piece's file name, and the folder's path.
    void GetCurrentFileName(VString& outName) const;
    void GetFolderPath(VFilePath& outPath) const;

    static void BuildLogFileName(const VString& inBaseName, int32_t inNumber, VString& outName);
    // With ".txt" for an empty extension.
    static void BuildLogFileNameWithExt(const VString& inBaseName, int32_t inNumber,
                                        const VString& inExtension, VString& outName);

private:
    // The folder's path with the piece's name; empty without a folder.
    void _BuildFilePath(VFilePath& outPath, int32_t inNumber) const;
    // The text converted to the file's character set, written as it is.
    void _WriteText(const VString& inText);

    // Counts bytes written through the stream into the cached position.
    void _Wrote(long inBytes);

    FILE* fStream = nullptr;
    long fPosition = 0;        // the stream position as last asked, plus what was written since
    long fWrittenSinceAsk = 0; // bytes written since the position was last asked; -1 asks at once
    VFolder* fFolder;
    VString fBaseName;
    int32_t fLogNumber;
    int32_t fMaxLogsToKeep;
    CharSet fCharSet = CharSet::VTC_UTF_8;
    VString fHeader;
    VString fFooter;
    VString fExtension;
    VString fSeparator;
    bool fJustOpened = false;
    bool fBinary;
};

} // namespace zorn
