// Reads progress pictures (the framed bag stream form of VRemoteProgressSessionInfo) one after
// another from arbitrary bytes and applies every one that reads to a mirror indicator. A picture
// that fails leaves itself empty; one that reads writes and reads back the same; the mirror never
// breaks its invariants (one record per open session, the mirroring base within the count, its own
// sessions kept) and closes down to nothing. The same bytes also go to the identity reader.
// The first byte chooses: bit 7 the byte order, bit 0 a session of the mirror's own below the
// mirrored ones, bit 1 a producer's whole picture applied first.

#include "fuzz/FuzzTasks.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/kernel/streams/VConstPtrStream.h"
#include "toolbox/kernel/streams/VPtrStream.h"
#include "toolbox/process/VProgressIndicator.h"
#include "toolbox/process/VRemoteProgressSessionInfo.h"

#include <cstdint>
#include <deque>

using namespace zorn;
using zorn::fuzz::Check;
using zorn::fuzz::StartTasks;

namespace
{

// Each picture reads at most this many times from one input: every picture takes bytes, so the
// loop ends anyway; the cap keeps the time of one input small.
constexpr int kMaxPictures = 64;

void CheckInvariants(const VProgressIndicator& inMirror, int32_t inOwnSessions)
{
    std::deque<VProgressIndicatorInfo> sessions;
    inMirror.GetSessions(sessions);
    const int32_t count = inMirror.GetSessionCount();
    Check(sessions.size() == static_cast<size_t>(count));
    Check(count >= inOwnSessions);
    if (inMirror.IsMirroring())
    {
        Check(inMirror.GetMirroringBase() >= 0 && inMirror.GetMirroringBase() <= count);
    }
}

// The picture written and read back gives the same picture.
void CheckRoundTrip(const VRemoteProgressSessionInfo& inPicture, bool inSwap)
{
    VPtrStream out;
    out.SetNeedSwap(inSwap);
    Check(out.OpenWriting() == VE_OK);
    Check(inPicture.WriteToStream(&out) == VE_OK);
    out.CloseWriting();
    VConstPtrStream in(out.GetDataPtr(), out.GetDataSize());
    in.SetNeedSwap(inSwap);
    Check(in.OpenReading() == VE_OK);
    VRemoteProgressSessionInfo again;
    Check(again.ReadFromStream(&in) == VE_OK);
    Check(again.GetFlags() == inPicture.GetFlags());
    Check(again.GetSessionCount() == inPicture.GetSessionCount());
    Check(again.GetChangesVersion() == inPicture.GetChangesVersion());
    Check(again.GetSessionStack().size() == inPicture.GetSessionStack().size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
    {
        return 0;
    }
    StartTasks();
    StErrorContextInstaller errors(false);
    const bool swap = (data[0] & 0x80) != 0;
    const int32_t ownSessions = (data[0] & 1) != 0 ? 1 : 0;

    VProgressIndicator* mirror = new VProgressIndicator();
    if (ownSessions != 0)
    {
        mirror->BeginSession(10, VString("own"));
    }
    if ((data[0] & 2) != 0)
    {
        VProgressIndicator* producer = new VProgressIndicator();
        producer->BeginSession(100, VString("outer"));
        producer->BeginSession(10, VString("inner"));
        VRemoteProgressSessionInfo picture;
        Check(producer->GetProgressInfo(picture, nullptr));
        mirror->UpdateFromRemoteInfo(picture);
        producer->Release();
    }
    CheckInvariants(*mirror, ownSessions);

    VConstPtrStream stream(data + 1, size - 1);
    stream.SetNeedSwap(swap);
    Check(stream.OpenReading() == VE_OK);
    for (int pictures = 0; pictures < kMaxPictures && stream.GetPos() < static_cast<int64_t>(size - 1);
         ++pictures)
    {
        VRemoteProgressSessionInfo picture;
        if (picture.ReadFromStream(&stream) != VE_OK)
        {
            Check(picture.GetFlags() == 0 && picture.GetSessionStack().empty());
            break;
        }
        CheckRoundTrip(picture, swap);
        mirror->UpdateFromRemoteInfo(picture);
        CheckInvariants(*mirror, ownSessions);
        mirror->Progress(1);
    }
    mirror->_CleanRemoteSession();
    CheckInvariants(*mirror, ownSessions);
    Check(mirror->GetSessionCount() == ownSessions);
    for (int32_t count = mirror->GetSessionCount(); count > 0; --count)
    {
        mirror->EndSession();
    }
    Check(mirror->GetSessionCount() == 0);
    mirror->Release();

    VConstPtrStream identity(data + 1, size - 1);
    identity.SetNeedSwap(swap);
    Check(identity.OpenReading() == VE_OK);
    VUUID id;
    uint32_t version = 0;
    VProgressIndicator::ReadInfoForRemote(&identity, id, version);
    return 0;
}
