// The remote exchange of progress on one thread: the bag forms of session records, pictures and
// indicators, a mirror following a worker picture by picture, closing and cleaning mirrored
// sessions, refused pictures, and the identity a viewer needs.
#include "tests/toolbox/process/ProgressRemoteTestSupport.h"

#include "toolbox/kernel/values/VScalarValues.h"
#include "toolbox/process/ProgressBagKeys.h"

#include <gtest/gtest.h>

#include <functional>

using namespace zorn;
using namespace zorn::test;

namespace
{

using Picture = VRemoteProgressSessionInfo;
using Keys = ProgressBagKeys;

std::vector<std::string> AttributeNames(const VValueBag& inBag)
{
    std::vector<std::string> names;
    for (int32_t index = 1; index <= inBag.GetAttributesCount(); ++index)
    {
        VString name;
        inBag.GetNthAttribute(index, &name);
        names.push_back(to_string(name));
    }
    return names;
}

VProgressIndicatorInfo SampleRecord()
{
    VProgressIndicatorInfo record;
    record.SetMessageText(VString("copying"));
    record.SetValue(5);
    record.SetMax(50);
    record.SetCanInterrupt(false);
    record.SetAttribute(VString("name"), VString("a.txt"));
    return record;
}

TEST(ProgressRecordBag, AFullBagAndDeltasCarryWhatChanged)
{
    const VProgressIndicatorInfo previous = SampleRecord();
    struct Row
    {
        const char* fWhat;
        std::function<void(VProgressIndicatorInfo&)> fChange;
        bool fWithPrevious;
        uint32_t fFlags;
        std::vector<std::string> fAttributes; // after "fUpdateFlags"
        bool fExtraInfo;
    } rows[] = {
        {"without a previous record every field goes",
         [](VProgressIndicatorInfo&) {},
         false,
         1024,
         {"fMessage", "fValue", "fMax", "fStartTime", "fCanInterrupt", "fExtraInfoBagVersion"},
         true},
        {"an unchanged record carries nothing", [](VProgressIndicatorInfo&) {}, true, 0, {}, false},
        {"a new value",
         [](VProgressIndicatorInfo& ioRecord) { ioRecord.SetValue(6); },
         true,
         2,
         {"fValue"},
         false},
        {"a new message and max",
         [](VProgressIndicatorInfo& ioRecord)
         {
             ioRecord.SetMessageText(VString("Copying"));
             ioRecord.SetMax(60);
         },
         true,
         1 | 4,
         {"fMessage", "fMax"},
         false},
        {"a restarted clock and interrupt flag",
         [](VProgressIndicatorInfo& ioRecord)
         {
             ioRecord._SetStartTime(ioRecord.GetStartTime() + 7);
             ioRecord.SetCanInterrupt(true);
         },
         true,
         8 | 16,
         {"fStartTime", "fCanInterrupt"},
         false},
        {"a changed attribute brings the attributes",
         [](VProgressIndicatorInfo& ioRecord) { ioRecord.SetAttribute(VString("size"), VLong(3)); },
         true,
         32 | 64,
         {"fExtraInfoBagVersion"},
         true},
        {"dropped attributes go as an empty element, read back as none",
         [](VProgressIndicatorInfo& ioRecord)
         {
             ioRecord._SetExtraInfoBag(nullptr);
             ioRecord._SetExtraInfoVersion(9);
         },
         true,
         32 | 64,
         {"fExtraInfoBagVersion"},
         true},
    };
    for (const Row& row : rows)
    {
        VProgressIndicatorInfo record = previous;
        row.fChange(record);
        VRefPtr<VValueBag> bag(new VValueBag(), true);
        VString kind;
        ASSERT_EQ(VE_OK, record.SaveToBag(*bag, kind, row.fWithPrevious ? &previous : nullptr)) << row.fWhat;
        EXPECT_EQ("VProgressIndicatorInfo", to_string(kind));
        EXPECT_EQ(row.fFlags, VProgressIndicatorInfo::GetUpdateFlags(*bag)) << row.fWhat;
        std::vector<std::string> expected{"fUpdateFlags"};
        expected.insert(expected.end(), row.fAttributes.begin(), row.fAttributes.end());
        EXPECT_EQ(expected, AttributeNames(*bag)) << row.fWhat;
        EXPECT_EQ(row.fExtraInfo, bag->GetElements(Keys::ExtraInfo()) != nullptr) << row.fWhat;

        // Applied to the previous record, the bag gives the changed one.
        VProgressIndicatorInfo loaded = previous;
        ASSERT_EQ(VE_OK, loaded.LoadFromBag(*bag)) << row.fWhat;
        EXPECT_EQ(ViewOf(record), ViewOf(loaded)) << row.fWhat;
    }
}

TEST(ProgressRecordBag, AFullBagReplacesEverythingAndBagsMissingAnnouncedFieldsAreRefused)
{
    VRefPtr<VValueBag> full(new VValueBag(), true);
    VString kind;
    VProgressIndicatorInfo withoutAttributes;
    withoutAttributes.SetValue(9);
    withoutAttributes.SaveToBag(*full, kind);
    VProgressIndicatorInfo record = SampleRecord();
    ASSERT_EQ(VE_OK, record.LoadFromBag(*full));
    EXPECT_EQ(ViewOf(withoutAttributes), ViewOf(record)) << "a full bag without attributes drops them";

    struct Row
    {
        const char* fWhat;
        std::function<void(VValueBag&)> fSpoil;
    } rows[] = {
        {"an announced value is missing", [](VValueBag& ioBag) { ioBag.RemoveAttribute(Keys::Value()); }},
        {"a value of a full bag is missing",
         [](VValueBag& ioBag)
         {
             ioBag.SetLong(Keys::UpdateFlags(), 1024);
             ioBag.RemoveAttribute(Keys::Message());
         }},
        {"announced attributes are missing",
         [](VValueBag& ioBag) { ioBag.RemoveElements(Keys::ExtraInfo()); }},
        {"two attribute elements",
         [](VValueBag& ioBag)
         {
             VRefPtr<VValueBag> second(new VValueBag(), true);
             ioBag.AddElement(Keys::ExtraInfo(), second.Get());
         }},
    };
    const VProgressIndicatorInfo previous = SampleRecord();
    for (const Row& row : rows)
    {
        VProgressIndicatorInfo changed = previous;
        changed.SetValue(7);
        changed.SetAttribute(VString("size"), VLong(3));
        VRefPtr<VValueBag> bag(new VValueBag(), true);
        changed.SaveToBag(*bag, kind, &previous);
        row.fSpoil(*bag);
        VProgressIndicatorInfo target = previous;
        EXPECT_EQ(VE_PROGRESS_BAG_INVALID, target.LoadFromBag(*bag)) << row.fWhat;
        EXPECT_EQ(ViewOf(previous), ViewOf(target)) << row.fWhat << ": a refused bag changes nothing";
    }
}

TEST(ProgressRecordBag, TheIndicatorBagHoldsOneFullRecordPerOpenSession)
{
    VProgressIndicator indicator;
    indicator.SetUserInfo(VString("job 7"));
    indicator.BeginSession(10, VString("outer"));
    indicator.BeginSession(20, VString("inner"));
    indicator.Progress(4);
    VRefPtr<VValueBag> bag(new VValueBag(), true);
    ASSERT_EQ(VE_OK, indicator.SaveInfoToBag(*bag));
    EXPECT_EQ((std::vector<std::string>{"UserInfo", "SessionCount", "Title", "CanInterrupt"}),
              AttributeNames(*bag));
    VBagArray* sessions = bag->GetElements(Keys::SessionInfo());
    ASSERT_NE(nullptr, sessions);
    ASSERT_EQ(2, sessions->GetCount());
    std::deque<VProgressIndicatorInfo> live;
    indicator.GetSessions(live);
    for (int32_t index = 1; index <= 2; ++index)
    {
        EXPECT_EQ(1024u, VProgressIndicatorInfo::GetUpdateFlags(*sessions->GetNth(index)));
        VProgressIndicatorInfo loaded;
        ASSERT_EQ(VE_OK, loaded.LoadFromBag(*sessions->GetNth(index)));
        EXPECT_EQ(ViewOf(live[index - 1]), ViewOf(loaded));
    }
    indicator.EndSession();
    indicator.EndSession();
    VRefPtr<VValueBag> idle(new VValueBag(), true);
    indicator.SaveInfoToBag(*idle);
    EXPECT_EQ(nullptr, idle->GetElements(Keys::SessionInfo())) << "an idle indicator has no session to show";
}

// A mirror follows a worker through the stream form, picture after picture.
TEST(ProgressMirror, FollowsTheWorkerWithWholeAndIncrementalPictures)
{
    VProgressIndicator producer;
    VProgressIndicator mirror;
    Picture previous;
    bool first = true;
    for (const ProducerStep& step : ProducerSteps())
    {
        step.fRun(producer);
        Picture picture;
        ASSERT_TRUE(producer.GetProgressInfo(picture, first ? nullptr : &previous)) << step.fWhat;
        EXPECT_EQ(step.fPictureFlags, StepFlagsOf(picture)) << step.fWhat;
        Picture received;
        ASSERT_EQ(VE_OK, ReadPicture(PictureBytes(picture, first ? nullptr : &previous), received))
            << step.fWhat;
        ASSERT_TRUE(mirror.UpdateFromRemoteInfo(received)) << step.fWhat;
        EXPECT_EQ(ViewOf(producer), ViewOf(mirror)) << step.fWhat;
        EXPECT_EQ(producer.GetSessionCount() != 0, mirror.IsMirroring()) << step.fWhat;
        EXPECT_EQ(producer.GetDefaultCanInterrupt(), mirror.GetDefaultCanInterrupt()) << step.fWhat;
        previous = picture;
        first = false;
    }
    Picture unchanged;
    EXPECT_FALSE(producer.GetProgressInfo(unchanged, &previous)) << "nothing changed since the last picture";
}

TEST(ProgressMirror, ASessionReopenedWithinOneTickGoesWhole)
{
    VProgressIndicator producer;
    producer.BeginSession(10, VString("first"));
    Picture previous;
    ASSERT_TRUE(producer.GetProgressInfo(previous, nullptr));
    producer.EndSession();
    producer.BeginSession(10, VString("second"));
    // Same count; the start tick may be the same: the session version tells them apart.
    Picture picture;
    ASSERT_TRUE(producer.GetProgressInfo(picture, &previous));
    EXPECT_NE(0u, picture.GetFlags() & Picture::eFlag_SessionStack);
}

// A mirror that holds the worker's first session picture by picture.
struct MirrorFixture
{
    MirrorFixture()
    {
        producer.BeginSession(100, VString("outer"));
        producer.BeginSession(10, VString("inner"));
        Take();
        EXPECT_TRUE(mirror.UpdateFromRemoteInfo(last));
    }
    // A whole picture of the producer.
    const Picture& Take()
    {
        EXPECT_TRUE(producer.GetProgressInfo(last, nullptr));
        return last;
    }
    VProgressIndicator producer;
    VProgressIndicator mirror;
    Picture last;
};

TEST(ProgressMirror, ClosingEndsMirroringAndCleaningKeepsIt)
{
    {
        // An indicator that mirrors nothing keeps its own sessions.
        VProgressIndicator own;
        own.BeginSession(10, VString("own"));
        own._CleanRemoteSession();
        own._CloseRemoteSession();
        EXPECT_EQ(1, own.GetSessionCount());
    }
    {
        MirrorFixture fixture;
        fixture.mirror._CloseRemoteSession();
        EXPECT_EQ(0, fixture.mirror.GetSessionCount());
        EXPECT_FALSE(fixture.mirror.IsMirroring());
        fixture.producer.Progress(3);
        EXPECT_TRUE(fixture.mirror.UpdateFromRemoteInfo(fixture.Take()))
            << "a whole picture starts mirroring again";
        EXPECT_EQ(ViewOf(fixture.producer), ViewOf(fixture.mirror));
    }
    {
        MirrorFixture fixture;
        fixture.mirror._CleanRemoteSession();
        EXPECT_EQ(0, fixture.mirror.GetSessionCount());
        EXPECT_TRUE(fixture.mirror.IsMirroring());
        fixture.producer.Progress(3);
        EXPECT_TRUE(fixture.mirror.UpdateFromRemoteInfo(fixture.Take()));
        EXPECT_EQ(ViewOf(fixture.producer), ViewOf(fixture.mirror))
            << "the next picture pushes the sessions again";
    }
}

TEST(ProgressMirror, EndSessionClosesTheMirroredSessionsAndTheMirrorsOwn)
{
    VProgressIndicator producer;
    producer.BeginSession(5, VString("remote"));
    Picture picture;
    ASSERT_TRUE(producer.GetProgressInfo(picture, nullptr));
    VProgressIndicator mirror;
    mirror.BeginSession(3, VString("waiting for the server"));
    ASSERT_TRUE(mirror.UpdateFromRemoteInfo(picture));
    EXPECT_EQ(2, mirror.GetSessionCount());
    EXPECT_EQ(1, mirror.GetMirroringBase());
    EXPECT_EQ(1u, mirror.GetSessionVersion()) << "with a session of its own the mirror keeps its version";
    mirror.EndSession();
    EXPECT_EQ(0, mirror.GetSessionCount());
    EXPECT_FALSE(mirror.IsMirroring());
}

TEST(ProgressMirror, RefusedPicturesChangeNothing)
{
    struct Row
    {
        const char* fWhat;
        std::function<Picture(MirrorFixture&)> fPicture;
    } rows[] = {
        {"a picture of an older session",
         [](MirrorFixture& ioFixture)
         {
             Picture old = ioFixture.last;
             // The worker's next session, mirrored; then the late picture of the first one.
             ioFixture.producer.EndSession();
             ioFixture.producer.EndSession();
             ioFixture.producer.BeginSession(7, VString("next"));
             EXPECT_TRUE(ioFixture.mirror.UpdateFromRemoteInfo(ioFixture.Take()));
             return old;
         }},
        {"a delta of another stack",
         [](MirrorFixture& ioFixture)
         {
             Picture previous = ioFixture.last;
             ioFixture.producer.EndSession();
             ioFixture.producer.Progress(50);
             Picture whole;
             ioFixture.producer.GetProgressInfo(whole, &previous);
             // Made by hand: the current session only, though the count changed.
             whole.SetFlags((whole.GetFlags() & ~Picture::eFlag_SessionStack) | Picture::eFlag_Current);
             Picture delta;
             EXPECT_EQ(VE_OK, ReadPicture(PictureBytes(whole), delta));
             return delta;
         }},
    };
    for (const Row& row : rows)
    {
        MirrorFixture fixture;
        Picture picture = row.fPicture(fixture);
        const IndicatorView before = ViewOf(fixture.mirror);
        EXPECT_FALSE(fixture.mirror.UpdateFromRemoteInfo(picture)) << row.fWhat;
        EXPECT_EQ(before, ViewOf(fixture.mirror)) << row.fWhat;
        EXPECT_TRUE(fixture.mirror.IsMirroring()) << row.fWhat;
    }
}

TEST(ProgressMirror, AMirrorWithItsOwnSessionFollowsOnlyPicturesOfThatSession)
{
    VProgressIndicator mirror;
    mirror.BeginSession(1, VString("request"));
    const uint32_t ownVersion = mirror.GetSessionVersion();
    VProgressIndicator worker;
    worker.BeginSession(10, VString("serving"));
    Picture picture;
    ASSERT_TRUE(worker.GetProgressInfo(picture, nullptr));
    ASSERT_TRUE(mirror.UpdateFromRemoteInfo(picture));
    ASSERT_EQ(2, mirror.GetSessionCount());

    // The worker's pictures name the session they serve as their master version.
    struct Row
    {
        const char* fWhat;
        uint32_t fMasterVersion;
        int32_t fCount;
        bool fMirroring;
    } rows[] = {
        {"a picture for this session is followed", ownVersion, 2, true},
        {"a picture for another session ends mirroring", ownVersion + 5, 1, false},
    };
    for (const Row& row : rows)
    {
        worker.Progress(worker.GetCurrentValue() + 1);
        Picture next;
        ASSERT_TRUE(worker.GetProgressInfo(next, nullptr));
        VRefPtr<VValueBag> bag(new VValueBag(), true);
        VString kind;
        next.SaveToBag(*bag, kind);
        bag->SetLong(Keys::MasterSessionVersion(), static_cast<int32_t>(row.fMasterVersion));
        Picture received;
        ASSERT_EQ(VE_OK, received.LoadFromBag(*bag));
        EXPECT_TRUE(mirror.UpdateFromRemoteInfo(received)) << row.fWhat;
        EXPECT_EQ(row.fCount, mirror.GetSessionCount()) << row.fWhat;
        EXPECT_EQ(row.fMirroring, mirror.IsMirroring()) << row.fWhat;
    }
    EXPECT_EQ("request", ViewOf(mirror).fSessions.at(0).fMessage) << "its own session stays";
}

TEST(ProgressMirror, TheUserAbortReachesTheMirrorAndStays)
{
    VProgressIndicator worker;
    worker.BeginSession(10, VString("work"));
    VProgressIndicator mirror;
    Picture picture;
    ASSERT_TRUE(worker.GetProgressInfo(picture, nullptr));
    picture.SetUserAbort(true);
    ASSERT_TRUE(mirror.UpdateFromRemoteInfo(picture));
    EXPECT_TRUE(mirror.IsUserAborted());
    EXPECT_FALSE(mirror.Progress(2)) << "the mirror's own value calls stop";
    picture.SetUserAbort(false);
    mirror.UpdateFromRemoteInfo(picture);
    EXPECT_TRUE(mirror.IsUserAborted()) << "an abort is never taken back";
}

TEST(ProgressPictureStream, RoundTripsInBothByteOrders)
{
    VProgressIndicator producer;
    producer.BeginSession(10, VString("outer"));
    producer.BeginSession(20, VString("inner"));
    producer.SetAttribute(VString("name"), VString("b.txt"));
    Picture picture;
    ASSERT_TRUE(producer.GetProgressInfo(picture, nullptr));
    for (bool swap : {false, true})
    {
        Picture received;
        ASSERT_EQ(VE_OK, ReadPicture(PictureBytes(picture, nullptr, swap), received, swap));
        EXPECT_EQ(picture.GetFlags(), received.GetFlags());
        EXPECT_EQ(picture.GetSessionCount(), received.GetSessionCount());
        EXPECT_EQ(picture.GetChangesVersion(), received.GetChangesVersion());
        EXPECT_EQ(picture.GetSessionVersion(), received.GetSessionVersion());
        ASSERT_EQ(2u, received.GetSessionStack().size());
        for (size_t index = 0; index < 2; ++index)
        {
            EXPECT_EQ(ViewOf(picture.GetSessionStack()[index]), ViewOf(received.GetSessionStack()[index]));
        }
    }
}

TEST(ProgressPictureStream, InconsistentPicturesAreRefusedAndLeftEmpty)
{
    VProgressIndicator producer;
    producer.BeginSession(10, VString("outer"));
    producer.BeginSession(20, VString("inner"));
    Picture whole;
    ASSERT_TRUE(producer.GetProgressInfo(whole, nullptr));
    VRefPtr<VValueBag> wholeBag(new VValueBag(), true);
    VString kind;
    whole.SaveToBag(*wholeBag, kind);
    EXPECT_EQ("DistantSessionInfo", to_string(kind));

    struct Row
    {
        const char* fWhat;
        std::function<void(VValueBag&)> fSpoil;
    } rows[] = {
        {"no flags", [](VValueBag& ioBag) { ioBag.RemoveAttribute(Keys::Flags()); }},
        {"an announced field is missing",
         [](VValueBag& ioBag) { ioBag.RemoveAttribute(Keys::ChangesVersion()); }},
        {"a negative session count", [](VValueBag& ioBag) { ioBag.SetLong(Keys::SessionCount(), -1); }},
        {"a stack shorter than the count", [](VValueBag& ioBag) { ioBag.SetLong(Keys::SessionCount(), 3); }},
        {"both the stack and the current session",
         [](VValueBag& ioBag)
         {
             ioBag.SetLong(Keys::Flags(), 255);
             VRefPtr<VValueBag> current(new VValueBag(*ioBag.GetElements(Keys::SessionStack())->GetNth(2)),
                                        true);
             ioBag.AddElement(Keys::Current(), current.Get());
         }},
        {"a current session without an open session",
         [](VValueBag& ioBag)
         {
             ioBag.SetLong(Keys::Flags(), 1 | 64);
             ioBag.SetLong(Keys::SessionCount(), 0);
             VRefPtr<VValueBag> current(new VValueBag(*ioBag.GetElements(Keys::SessionStack())->GetNth(2)),
                                        true);
             ioBag.AddElement(Keys::Current(), current.Get());
         }},
        {"a current session flag without the element",
         [](VValueBag& ioBag) { ioBag.SetLong(Keys::Flags(), 1 | 64); }},
        {"a partial record in the stack", [](VValueBag& ioBag)
         { ioBag.GetElements(Keys::SessionStack())->GetNth(1)->SetLong(Keys::UpdateFlags(), 2); }},
        {"a stack record missing a field", [](VValueBag& ioBag)
         { ioBag.GetElements(Keys::SessionStack())->GetNth(2)->RemoveAttribute(Keys::Max()); }},
    };
    for (const Row& row : rows)
    {
        VRefPtr<VValueBag> bag(new VValueBag(*wholeBag), true);
        row.fSpoil(*bag);
        VPtrStream stream;
        ASSERT_EQ(VE_OK, stream.OpenWriting());
        ASSERT_EQ(VE_OK, bag->WriteToStream(&stream));
        stream.CloseWriting();
        Picture received = whole;
        EXPECT_EQ(
            VE_PROGRESS_BAG_INVALID,
            ReadPicture(std::string(static_cast<const char*>(stream.GetDataPtr()), stream.GetDataSize()),
                        received))
            << row.fWhat;
        EXPECT_EQ(0u, received.GetFlags()) << row.fWhat;
        EXPECT_TRUE(received.GetSessionStack().empty()) << row.fWhat;
    }

    // Cut bytes fail in the bag reader, before any picture is made.
    const std::string bytes = PictureBytes(whole);
    Picture received = whole;
    EXPECT_NE(VE_OK, ReadPicture(bytes.substr(0, bytes.size() / 2), received));
    EXPECT_EQ(0u, received.GetFlags());
}

TEST(ProgressRemoteIdentity, BagAndStreamForms)
{
    VProgressIndicator indicator(VUUID(true), 41);
    VRefPtr<VValueBag> bag(new VValueBag(), true);
    VString kind;
    ASSERT_EQ(VE_OK, indicator.WriteInfoForRemote(*bag, kind));
    EXPECT_EQ("VProgressIndicator", to_string(kind));
    VUUID id;
    EXPECT_TRUE(bag->GetVUUID(VValueBag::uuid(), id));
    EXPECT_EQ(indicator.GetID(), id);
    int32_t version = 0;
    EXPECT_TRUE(bag->GetLong(Keys::Version(), version));
    EXPECT_EQ(41, version);

    for (bool writerSwaps : {false, true})
    {
        VPtrStream out;
        out.SetNeedSwap(writerSwaps);
        ASSERT_EQ(VE_OK, out.OpenWriting());
        ASSERT_EQ(VE_OK, indicator.WriteInfoForRemote(&out));
        out.CloseWriting();
        // The reader does not know the writer's order: the mark tells it.
        VConstPtrStream in(out.GetDataPtr(), out.GetDataSize());
        ASSERT_EQ(VE_OK, in.OpenReading());
        VUUID readID;
        uint32_t readVersion = 0;
        ASSERT_EQ(VE_OK, VProgressIndicator::ReadInfoForRemote(&in, readID, readVersion)) << writerSwaps;
        EXPECT_EQ(indicator.GetID(), readID);
        EXPECT_EQ(41u, readVersion);
    }

    const unsigned char badMark[] = {2, 0, 13, 0};
    VConstPtrStream in(badMark, sizeof(badMark));
    ASSERT_EQ(VE_OK, in.OpenReading());
    VUUID readID;
    uint32_t readVersion = 0;
    EXPECT_EQ(VE_STREAM_BAD_SIGNATURE, VProgressIndicator::ReadInfoForRemote(&in, readID, readVersion));
}

} // namespace
