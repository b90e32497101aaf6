// VStream: the toolbox's abstract byte stream, through which values, strings and value bags write
// and read their stream forms. A stream is open for reading or for writing (never both), keeps a
// 64-bit position and a sticky error, swaps the byte order of multi-byte numbers on demand and
// writes text in a chosen character set. Concrete streams (memory streams here, file streams in
// the file layer) supply only the storage hooks.
//
// Choices made where several were possible:
// - The first failure is kept as the stream's error; every later data, position or flush
//   operation returns it at once without acting (array reads then report 0 items). Opening a
//   closed stream starts afresh without an error; closing always runs its hooks, so storage is
//   released, and returns the kept error.
// - Failures that the stream finds itself are raised with _ThrowError; a hook raises its own
//   failures and returns them, and the stream keeps what the hook returned.
// - The need-swap flag describes the stream relative to this machine's byte order: SetBigEndian
//   turns it on on a little-endian machine. Single numbers read with GetWord and GetLong, and the
//   array operations, swap by themselves; callers of GetData and PutData swap their own fields.
// - A short read is not a failure of VStream itself; the storage hook reports the end of data
//   ('zorn' 200) together with the bytes it could deliver.
// - A position never goes below 0 ('zorn' 3), whichever operation would move it there.
// - A number read with GetWord or GetLong is stored in the caller's variable only when all its
//   bytes were read; otherwise the variable is left as it was.
// - OpenReading with a signature sets the need-swap flag from what it finds: off when the word
//   is stored in this machine's order, on when it is stored in the other order.
//
// Text is written with PutText in the stream's character set (the C library's by default) with
// its line endings converted to the stream's mode (LF by default), through the converters of
// VTextConverters; a set without one gives 'zorn' 208 when the stream opens or the set changes.
//
// Progress: a stream may carry a progress indicator (a process-layer object, reached through
// VKernelHooks). Opening for reading begins a session "Reading From Stream" whose maximum is the
// size; opening for writing a session "Writing to Stream" without a maximum (-1); closing ends it.
// After each read or write the session's value is set to the position, so bytes given back with
// UngetData and read again are not counted twice and a read never reports more than the size. When
// the indicator answers stop, the stream raises and keeps 'zorn' 206. An indicator set while the
// stream is open reports from the next opening on.
#pragma once

#include "toolbox/kernel/base/VObject.h"
#include "toolbox/kernel/base/ZornTypes.h"
#include "toolbox/kernel/errors/VError.h"

#include <cstdarg>

namespace zorn
{

class VArrayString;
class VProgressIndicator;
class VString;
class VValue;

// VE_STREAM_EOF ('zorn' 200, the end of data) is in VError.h.
constexpr VError VE_STREAM_NOT_OPENED = MakeVError(kCOMPONENT_ZORN, 201);
constexpr VError VE_STREAM_ALREADY_OPENED = MakeVError(kCOMPONENT_ZORN, 202);
constexpr VError VE_STREAM_NOT_OPENED_FOR_READING = MakeVError(kCOMPONENT_ZORN, 203);
// Also: a write or resize of a stream that cannot be written.
constexpr VError VE_STREAM_NOT_OPENED_FOR_WRITING = MakeVError(kCOMPONENT_ZORN, 204);
constexpr VError VE_STREAM_USER_ABORTED = MakeVError(kCOMPONENT_ZORN, 206);
constexpr VError VE_STREAM_BAD_SIGNATURE = MakeVError(kCOMPONENT_ZORN, 207);
constexpr VError VE_STREAM_NO_TEXT_CONVERTER = MakeVError(kCOMPONENT_ZORN, 208);
// Bytes at the end of a text read that the converter cannot take ("unterminated unicode
// conversion."). 220, as 210 means a Base64 text that is not ASCII (VE_BASE64_NOT_ASCII).
constexpr VError VE_STREAM_TEXT_CONVERSION_FAILURE = MakeVError(kCOMPONENT_ZORN, 220);
// Giving back more bytes than the position.
constexpr VError VE_STREAM_CANNOT_UNGET = MakeVError(kCOMPONENT_ZORN, 211);

// The storage a stream reads from or writes to, when it is one block of memory that the stream can
// show (fValid); other streams answer an empty one.
struct VStreamUnderlyingData
{
    bool fValid = false;
    const void* fData = nullptr;
    size_t fSize = 0;
};

class VStream : public VObject
{
public:
    VStream() = default;
    // Ends a progress session still open and releases the indicator.
    ~VStream() override;
    VStream(const VStream&) = delete;
    VStream& operator=(const VStream&) = delete;

    // Opening and closing; each returns the stream's error.
    VError OpenReading();
    // Opens for reading and checks that the stream starts with the 32-bit signature, in either
    // byte order ('zorn' 207 and back to position 0 when it does not).
    VError OpenReading(uint32_t inSignature);
    VError OpenWriting();
    VError CloseReading();
    // inSetSize is handed to the storage hook (a file stream cuts the file at the position).
    VError CloseWriting(bool inSetSize = true);
    VError Flush();
    bool IsReading() const { return fIsReading; }
    bool IsWriting() const { return fIsWriting; }

    void SetReadOnly(bool inSet) { fIsReadOnly = inSet; }
    bool IsReadOnly() const { return fIsReadOnly; }
    void SetWriteOnly(bool inSet) { fIsWriteOnly = inSet; }
    bool IsWriteOnly() const { return fIsWriteOnly; }
    void SetNeedSwap(bool inSet) { fNeedSwap = inSet; }
    bool NeedSwap() const { return fNeedSwap; }
    // Whether bytes written since the stream opened for writing have reached their storage (set
    // by storage streams that buffer, such as the file stream; cleared by OpenWriting).
    bool IsWrittenToStorage() const { return fWrittenToStorage; }
    void SetBigEndian();
    void SetLittleEndian();

    // The character set of text; 'zorn' 208 when the stream is open and the set has no converter.
    VError SetCharSet(CharSet inCharSet);
    CharSet GetCharSet() const { return fCharSet; }
    void SetCarriageReturnMode(ECarriageReturnMode inMode) { fCarriageReturnMode = inMode; }
    ECarriageReturnMode GetCarriageReturnMode() const { return fCarriageReturnMode; }

    // The indicator is retained (null removes it); a session open on the previous one ends.
    void SetProgressIndicator(VProgressIndicator* inIndicator);
    VProgressIndicator* GetProgressIndicator() const { return fProgress; }

    // The stream's bytes as one block, when its storage is one (memory streams); the block
    // belongs to the stream and stays valid until its next write or resize.
    virtual VStreamUnderlyingData GetUnderlyingData() const { return {}; }

    // The kept error, 0 when none.
    VError GetLastError() const { return fLastError; }

    // Positions and sizes.
    int64_t GetPos() const { return fPosition; }
    int64_t GetSize() { return DoGetSize(); }
    // The bytes between the position and the end (0 when none): readers of outside input check
    // the counts they read against it before they allocate.
    uint64_t GetBytesLeft()
    {
        int64_t left = GetSize() - GetPos();
        return left > 0 ? static_cast<uint64_t>(left) : 0;
    }
    VError SetPos(int64_t inPosition);
    VError SetPosByOffset(int64_t inOffset);
    // Sets the size (writing only); a position beyond the new size moves back to it.
    VError SetSize(int64_t inSize);

    // Raw bytes, at the position, which moves by the count written or delivered.
    VError PutData(const void* inData, size_t inCount);
    // Reads up to inCount bytes; outCount (when given) receives the count delivered.
    VError GetData(void* outData, size_t inCount, size_t* outCount = nullptr);
    // Gives back the last inCount bytes read so that the next read delivers them again ('zorn'
    // 211 beyond the position). A pending end of data does not stop it; another error does.
    VError UngetData(const void* inData, size_t inCount);
    // Opens this stream for reading and copies all of it, in 4096-byte blocks, to inDestination,
    // which must be open for writing ('zorn' 204); closes this stream. The first error.
    VError PutContentInto(VStream* inDestination);

    // Numbers, swapped when the stream asks for it.
    VError Put(uint8_t inByte);
    VError PutWord(int16_t inWord);
    VError GetWord(uint16_t& outWord);
    VError GetLong(int32_t& outLong);
    // Arrays are written without changing the caller's array (a swapped copy is sent).
    VError PutWords(const int16_t* inValues, int32_t inCount);
    VError PutLongs(const int32_t* inValues, int32_t inCount);
    VError PutLong8s(const int64_t* inValues, int32_t inCount);
    VError PutReals(const double* inValues, int32_t inCount);
    // Read up to *ioCount items; *ioCount becomes the count of whole items delivered.
    VError GetWords(int16_t* outValues, int32_t* ioCount);
    VError GetLongs(int32_t* outValues, int32_t* ioCount);
    VError GetLong8s(int64_t* outValues, int32_t* ioCount);
    VError GetReals(double* outValues, int32_t* ioCount);

    // A value's stream form, preceded by its 16-bit kind when inWithKind. A value that has no
    // stream form (CanBeStreamed false) is refused with 'zorn' 2, kept as the stream's error.
    VError PutValue(const VValue& inValue, bool inWithKind = true);
    // Reads a kind and a value of it; a new value owned by the caller, or null when the kind
    // cannot be read or is not registered, or the value cannot be read. A kind without a stream
    // form gives 'zorn' 2, kept as the stream's error.
    VValue* GetValue();

    // Writes the text encoded in the stream's character set, line endings converted to the
    // stream's mode; no length, terminator or byte-order mark.
    VError PutText(const VString& inText);
    // Formats with VString::VPrintf and writes the result with PutText.
    VError PutPrintf(const char* inFormat, ...);
    VError PutVPrintf(const char* inFormat, va_list inArgs);
    // Each byte as two upper-case hexadecimal digits.
    VError PutHexBytes(const char* inBytes, size_t inCount);
    // The byte-order mark of the stream's set (UTF-8, UTF-16 and UTF-32); nothing for others.
    VError WriteBOM();

    // Text reading, decoded from the stream's character set. Line ends are kept as they are
    // except in GetTextLine.
    //
    // Appends the rest of the stream. Bytes at the end that do not make a whole character are
    // left unread and give 'zorn' 210 with "unterminated unicode conversion.".
    VError GetText(VString& ioText);
    // Appends inCount UTF-16 units when the stream holds them and gives back the bytes read
    // beyond them. A character cut by the end of data is given back when inGiveBackCutChar
    // (the stream stands before it), else it is consumed (and dropped). The end of data is no
    // error once something was delivered.
    VError GetText(VString& ioText, int32_t inCount, bool inGiveBackCutChar = true);
    // Reads one line into outLine. A line ends at LF, at CR, or at CR LF (one end, even when the
    // pair is split between two read blocks). A non-null ioLineEnd holding a character other
    // than 0 replaces CR as the second line end, and CR LF is then not joined. With
    // inKeepLineEnd the end is stored as one CR. UTF-16 and UTF-32 sets are scanned unit by unit
    // in the stream's byte order. The last line needs no end; the end of data gives 'zorn' 200
    // only when the line is empty.
    VError GetTextLine(VString& outLine, bool inKeepLineEnd = false, UniChar* ioLineEnd = nullptr);
    // Reads one line and splits it at TAB into outFields (cleared first; an empty line gives none).
    VError GetTTRLine(VArrayString& outFields);

    // Guesses the set of the text at the position and sets it (SetCharSet), answering it. A
    // byte-order mark wins (the stream then stands after it, *outFoundBOM true); without one,
    // 00 xx 00 xx gives UTF-16 big-endian and xx 00 xx 00 little-endian; then, with
    // inDetectUTF8, up to 2048 bytes that are well-formed UTF-8 give UTF-8; then a default of
    // UTF-16 with four ASCII bytes gives UTF-8; else inDefault. Reading errors are silent here.
    // UTF-8 detection is not tried after a mark: UTF-16 ASCII text is well-formed UTF-8.
    CharSet GuessCharSetFromLeadingBytes(CharSet inDefault, bool inDetectUTF8 = false,
                                         bool* outFoundBOM = nullptr);

protected:
    void SetWrittenToStorage(bool inSet) { fWrittenToStorage = inSet; }

    // Storage hooks. Each returns a VError (raising its own failures); those not pure do nothing.
    virtual VError DoOpenReading() { return VE_OK; }
    virtual VError DoOpenWriting() { return VE_OK; }
    virtual VError DoCloseReading() { return VE_OK; }
    virtual VError DoCloseWriting(bool /*inSetSize*/) { return VE_OK; }
    virtual VError DoPutData(const void* inData, size_t inCount) = 0;
    // On entry *ioCount is the count wanted, on return the count delivered.
    virtual VError DoGetData(void* outData, size_t* ioCount) = 0;
    // Called before the position moves back by inCount; streams that read by position need not
    // act. A stream that reads ahead (or cannot seek) keeps the bytes for its next reads.
    virtual VError DoUngetData(const void* /*inData*/, size_t /*inCount*/) { return VE_OK; }
    virtual int64_t DoGetSize() = 0;
    virtual VError DoSetSize(int64_t inSize) = 0;
    virtual VError DoSetPos(int64_t /*inPosition*/) { return VE_OK; }
    virtual VError DoFlush() { return VE_OK; }
    // The bytes at the position that the stream holds in memory, for reading lines without a
    // copy (a stream may fill its read buffer for it); none (null, 0) when it holds none. By
    // default, the underlying block after the position.
    virtual VError DoPeekData(const void** outData, size_t* outCount);

private:
    // Raises inError (a failure the stream found itself) and keeps it.
    VError _ThrowStreamError(VError inError);
    // Keeps the error a hook returned (already raised by the hook), unless one is kept already.
    VError _KeepError(VError inError);
    // Whether text of the set can be converted in the direction the stream opens in.
    static bool _HasTextConverter(CharSet inCharSet);

    // GetTextLine for one-byte sets over the bytes DoPeekData shows; *outDone false when the
    // stream shows none although bytes remain (the caller then reads through GetData).
    VError _GetTextLineFromPeeks(VString& outLine, bool inKeepLineEnd, uint8_t inSecondEnd, bool inJoinCRLF,
                                 bool* outDone);
    // Moves the position over inCount peeked bytes, as a read would.
    VError _SkipPeeked(size_t inCount);

    // The bytes left between the position and the size (0 when none).
    size_t _RemainingBytes();
    // Whether up to 2048 bytes from the position are well-formed UTF-8 (given back after).
    bool _LeadingBytesAreUTF8();

    template <class T>
    VError _PutArray(const T* inValues, int32_t inCount);
    template <class T>
    VError _GetArray(T* outValues, int32_t* ioCount);
    template <class T>
    VError _GetNumber(T& outValue);

    // Progress steps: a session per opening, the position after each transfer (false: stop).
    void _BeginProgress(bool inReading);
    bool _AdvanceProgress();
    void _EndProgress();

    int64_t fPosition = 0;
    bool fIsReading = false;
    bool fIsWriting = false;
    bool fIsReadOnly = false;
    bool fIsWriteOnly = false;
    bool fNeedSwap = false;
    bool fWrittenToStorage = false;
    VError fLastError = VE_OK;
    CharSet fCharSet = CharSet::VTC_StdLib_char;
    ECarriageReturnMode fCarriageReturnMode = eCRM_LF;
    VProgressIndicator* fProgress = nullptr; // retained
    bool fProgressSessionOpen = false;
};

} // namespace zorn
