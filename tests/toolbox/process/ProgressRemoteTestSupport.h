// What the remote progress tests share: a comparable view of an indicator's sessions, and the
// stream form of pictures as bytes.
#pragma once

#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/streams/VConstPtrStream.h"
#include "toolbox/kernel/streams/VPtrStream.h"
#include "toolbox/kernel/values/VValueBag.h"
#include "toolbox/process/VProgressIndicator.h"
#include "toolbox/process/VRemoteProgressSessionInfo.h"

#include <gtest/gtest.h>

#include <deque>
#include <ostream>
#include <string>
#include <vector>

namespace zorn::test
{

// What a viewer sees of one session.
struct SessionView
{
    std::string fMessage;
    int64_t fValue = 0;
    int64_t fMax = 0;
    uint32_t fStartTime = 0;
    bool fCanInterrupt = true;
    uint32_t fExtraInfoVersion = 0;
    std::string fExtraInfo; // the attributes' dump, empty without
    bool operator==(const SessionView&) const = default;
};

inline std::ostream& operator<<(std::ostream& ioOut, const SessionView& inView)
{
    return ioOut << "{\"" << inView.fMessage << "\" " << inView.fValue << "/" << inView.fMax << " start "
                 << inView.fStartTime << (inView.fCanInterrupt ? " interruptible" : "") << " extra v"
                 << inView.fExtraInfoVersion << " " << inView.fExtraInfo << "}";
}

inline SessionView ViewOf(const VProgressIndicatorInfo& inSession)
{
    SessionView view;
    view.fMessage = to_string(inSession.GetMessageText());
    view.fValue = inSession.GetValue();
    view.fMax = inSession.GetMax();
    view.fStartTime = inSession.GetStartTime();
    view.fCanInterrupt = inSession.CanInterrupt();
    view.fExtraInfoVersion = inSession.GetExtraInfoVersion();
    if (VRefPtr<VValueBag> extra(inSession.RetainExtraInfoBag(), true); extra)
    {
        VString text;
        extra->DumpText(text);
        view.fExtraInfo = to_string(text);
    }
    return view;
}

// What a viewer sees of an indicator: its sessions, and while any is open the session version and
// change counter.
struct IndicatorView
{
    std::vector<SessionView> fSessions;
    uint32_t fSessionVersion = 0;
    uint32_t fChangeCounter = 0;
    bool operator==(const IndicatorView&) const = default;
};

inline std::ostream& operator<<(std::ostream& ioOut, const IndicatorView& inView)
{
    ioOut << "version " << inView.fSessionVersion << " changes " << inView.fChangeCounter << " [";
    for (const SessionView& session : inView.fSessions)
    {
        ioOut << session << " ";
    }
    return ioOut << "]";
}

inline IndicatorView ViewOf(const VProgressIndicator& inIndicator)
{
    std::deque<VProgressIndicatorInfo> sessions;
    inIndicator.GetSessions(sessions);
    IndicatorView view;
    for (const VProgressIndicatorInfo& session : sessions)
    {
        view.fSessions.push_back(ViewOf(session));
    }
    view.fSessionVersion = inIndicator.GetSessionVersion();
    view.fChangeCounter = sessions.empty() ? 0 : inIndicator.GetChangeCounter();
    return view;
}

// The picture's stream form, as a delta against the previous picture when given.
inline std::string PictureBytes(const VRemoteProgressSessionInfo& inPicture,
                                const VRemoteProgressSessionInfo* inPrevious = nullptr, bool inSwap = false)
{
    VPtrStream stream;
    stream.SetNeedSwap(inSwap);
    EXPECT_EQ(VE_OK, stream.OpenWriting());
    EXPECT_EQ(VE_OK, inPicture.WriteToStream(&stream, inPrevious));
    stream.CloseWriting();
    return std::string(static_cast<const char*>(stream.GetDataPtr()), stream.GetDataSize());
}

inline VError ReadPicture(const std::string& inBytes, VRemoteProgressSessionInfo& outPicture,
                          bool inSwap = false)
{
    VConstPtrStream stream(inBytes.data(), inBytes.size());
    stream.SetNeedSwap(inSwap);
    EXPECT_EQ(VE_OK, stream.OpenReading());
    return outPicture.ReadFromStream(&stream);
}

} // namespace zorn::test

namespace zorn::test
{

// A worker's life in steps, each followed by a picture: which flags the picture must carry.
struct ProducerStep
{
    const char* fWhat;
    void (*fRun)(VProgressIndicator& ioIndicator);
    uint32_t fPictureFlags; // the stack flags and the default-flag bits expected
};

inline const std::vector<ProducerStep>& ProducerSteps()
{
    using Picture = VRemoteProgressSessionInfo;
    constexpr uint32_t kFirst = Picture::eFlag_UserAbort | Picture::eFlag_CanInterrupt;
    static const std::vector<ProducerStep> sSteps = {
        {"opens a session",
         [](VProgressIndicator& ioIndicator)
         {
             ioIndicator.BeginSession(100, VString("copying"));
             ioIndicator.Progress(10);
         },
         Picture::eFlag_SessionStack | kFirst},
        {"reports a message and a value",
         [](VProgressIndicator& ioIndicator)
         { ioIndicator.SetMessageAndValue(VString("copying {curValue}"), 20); },
         Picture::eFlag_Current},
        {"opens a nested session",
         [](VProgressIndicator& ioIndicator)
         {
             ioIndicator.BeginSession(10, VString("file"));
             ioIndicator.Progress(3);
         },
         Picture::eFlag_SessionStack},
        {"sets an attribute",
         [](VProgressIndicator& ioIndicator)
         {
             ioIndicator.SetAttribute(VString("name"), VString("a.txt"));
             ioIndicator.Progress(5);
         },
         Picture::eFlag_Current},
        {"changes the max and the session's interrupt flag",
         [](VProgressIndicator& ioIndicator)
         {
             ioIndicator.SetMaxValue(12);
             ioIndicator.SetCanInterrupt(false, true);
         },
         Picture::eFlag_Current},
        {"closes the nested session",
         [](VProgressIndicator& ioIndicator)
         {
             ioIndicator.EndSession();
             ioIndicator.Progress(40);
         },
         Picture::eFlag_SessionStack},
        {"closes the last session", [](VProgressIndicator& ioIndicator) { ioIndicator.EndSession(); },
         Picture::eFlag_SessionStack},
        {"opens a new session",
         [](VProgressIndicator& ioIndicator)
         {
             ioIndicator.BeginUndeterminedSession(VString("again"));
             ioIndicator.Progress(1);
         },
         Picture::eFlag_SessionStack},
        {"changes the default interrupt flag",
         [](VProgressIndicator& ioIndicator)
         {
             ioIndicator.SetCanInterrupt(false, false);
             ioIndicator.Increment();
         },
         Picture::eFlag_Current | Picture::eFlag_CanInterrupt},
        {"closes it", [](VProgressIndicator& ioIndicator) { ioIndicator.EndSession(); },
         Picture::eFlag_SessionStack},
    };
    return sSteps;
}

// The flags of a picture that ProducerStep::fPictureFlags speaks of.
inline uint32_t StepFlagsOf(const VRemoteProgressSessionInfo& inPicture)
{
    using Picture = VRemoteProgressSessionInfo;
    return inPicture.GetFlags() & (Picture::eFlag_Current | Picture::eFlag_SessionStack |
                                   Picture::eFlag_UserAbort | Picture::eFlag_CanInterrupt);
}

} // namespace zorn::test
