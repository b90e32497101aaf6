#include "toolbox/process/VProcessLauncher.h"

#include "toolbox/files/VFilePath.h"

namespace zorn
{

VProcessLauncher::VProcessLauncher() : fLauncher(std::make_unique<XPosixProcessLauncher>()) {}

VProcessLauncher::~VProcessLauncher() = default;

void VProcessLauncher::SetDefaultDirectory(const VFilePath& inFolder)
{
    VString posix;
    inFolder.GetPosixPath(posix);
    fLauncher->SetDefaultDirectory(to_string(posix));
}

void VProcessLauncher::SetEnvironmentVariable(const VString& inName, const VString& inValue)
{
    fLauncher->SetEnvironmentVariable(inName, inValue);
}

void VProcessLauncher::SetEnvironmentVariables(const EnvVarNamesAndValuesMap& inVariables)
{
    fLauncher->SetEnvironmentVariables(inVariables);
}

void VProcessLauncher::SetBinaryPath(const VString& inBinaryPath)
{
    fLauncher->SetBinaryPath(inBinaryPath);
}

void VProcessLauncher::CreateArgumentsFromFullCommandLine(const VString& inCommandLine)
{
    fLauncher->CreateArgumentsFromFullCommandLine(inCommandLine);
}

void VProcessLauncher::AddArgument(const VString& inArgument, bool inQuote)
{
    if (inQuote)
    {
        VString quoted("\"");
        quoted.AppendString(inArgument);
        quoted.AppendUniChar('"');
        fLauncher->AddArgument(quoted);
    }
    else
    {
        fLauncher->AddArgument(inArgument);
    }
}

void VProcessLauncher::ClearArguments()
{
    fLauncher->ClearArguments();
}

const std::vector<VString>& VProcessLauncher::GetArguments() const
{
    return fLauncher->GetArguments();
}

void VProcessLauncher::SetWaitClosingChildProcess(int32_t inMilliseconds)
{
    fLauncher->SetWaitClosingChildProcess(inMilliseconds);
}

void VProcessLauncher::SetRedirectStandardInput(bool inRedirect)
{
    fLauncher->SetRedirectStandardInput(inRedirect);
}

void VProcessLauncher::SetRedirectStandardOutput(bool inRedirect)
{
    fLauncher->SetRedirectStandardOutput(inRedirect);
}

void VProcessLauncher::SetQuoteArgumentsIfNeeded(bool inQuote)
{
    fLauncher->SetQuoteArgumentsIfNeeded(inQuote);
}

void VProcessLauncher::EnableProcessTreeKill()
{
    fLauncher->EnableProcessTreeKill();
}

int32_t VProcessLauncher::Start()
{
    return fLauncher->Start();
}

int32_t VProcessLauncher::Start(const EnvVarNamesAndValuesMap& inEnvironment)
{
    return fLauncher->Start(inEnvironment);
}

void VProcessLauncher::CloseStandardInput()
{
    fLauncher->CloseStandardInput();
}

int32_t VProcessLauncher::WriteToChild(const void* inData, uint32_t inLength, bool inCloseAfter)
{
    return fLauncher->WriteToChild(inData, inLength, inCloseAfter);
}

int32_t VProcessLauncher::WaitForData()
{
    return fLauncher->WaitForData();
}

int32_t VProcessLauncher::ReadFromChild(char* outBuffer, uint32_t inLength)
{
    return fLauncher->ReadFromChild(outBuffer, inLength);
}

int32_t VProcessLauncher::ReadErrorFromChild(char* outBuffer, uint32_t inLength)
{
    return fLauncher->ReadErrorFromChild(outBuffer, inLength);
}

int32_t VProcessLauncher::ReadFromChildAndShutdown(ProcessReadCallback inOutput, ProcessReadCallback inError)
{
    return fLauncher->ReadFromChildAndShutdown(std::move(inOutput), std::move(inError));
}

void VProcessLauncher::ReadStd(VMemoryBuffer<>* outOutput, VMemoryBuffer<>* outError)
{
    if (outOutput == nullptr && outError == nullptr)
    {
        return;
    }
    char piece[4096];
    // One read of a pipe: whether it is still open; ioGotSome tells that bytes came.
    auto readPiece = [&piece](int32_t inCount, VMemoryBuffer<>* ioBuffer, bool& ioGotSome)
    {
        if (inCount > 0)
        {
            ioGotSome = true;
            if (ioBuffer != nullptr)
            {
                ioBuffer->AddData(piece, static_cast<size_t>(inCount));
            }
        }
        return inCount >= 0;
    };
    bool outputOpen = true;
    bool errorOpen = true;
    while (outputOpen || errorOpen)
    {
        bool gotSome = false;
        if (outputOpen)
        {
            outputOpen = readPiece(fLauncher->ReadFromChild(piece, sizeof(piece)), outOutput, gotSome);
        }
        if (errorOpen)
        {
            errorOpen = readPiece(fLauncher->ReadErrorFromChild(piece, sizeof(piece)), outError, gotSome);
        }
        if (!gotSome && (outputOpen || errorOpen) && !fLauncher->WaitForPipes())
        {
            break;
        }
    }
}

int32_t VProcessLauncher::GetPid() const
{
    return fLauncher->GetPid();
}

bool VProcessLauncher::IsRunning()
{
    return fLauncher->IsRunning();
}

int32_t VProcessLauncher::Shutdown(bool inKill, bool inTreeKill)
{
    return fLauncher->Shutdown(inKill, inTreeKill);
}

int32_t VProcessLauncher::GetExitStatus() const
{
    return fLauncher->GetExitStatus();
}

bool VProcessLauncher::KillProcess(int32_t inPid)
{
    return XPosixProcessLauncher::KillProcess(inPid);
}

int32_t VProcessLauncher::ExecuteCommandLine(
    const VString& inCommandLine, uint32_t inOptions, const VMemoryBuffer<>* inInput,
    VMemoryBuffer<>* outOutput, VMemoryBuffer<>* outError, const EnvVarNamesAndValuesMap* inEnvironment,
    const VFilePath* inWorkingDirectory, int32_t* outExitStatus, VProcessLauncher** outLauncher,
    const std::vector<VString>* inExtraArguments, bool inQuoteArguments, bool inTreeKill)
{
    auto launcher = std::make_unique<VProcessLauncher>();
    launcher->CreateArgumentsFromFullCommandLine(inCommandLine);
    launcher->SetQuoteArgumentsIfNeeded(inQuoteArguments);
    if (inExtraArguments != nullptr)
    {
        for (const VString& argument : *inExtraArguments)
        {
            launcher->AddArgument(argument);
        }
    }
    return _Execute(std::move(launcher), inOptions, inInput, outOutput, outError, inEnvironment,
                    inWorkingDirectory, outExitStatus, outLauncher, inTreeKill);
}

int32_t VProcessLauncher::ExecuteArguments(const VString& inBinaryPath,
                                           const std::vector<VString>& inArguments, uint32_t inOptions,
                                           const VMemoryBuffer<>* inInput, VMemoryBuffer<>* outOutput,
                                           VMemoryBuffer<>* outError,
                                           const EnvVarNamesAndValuesMap* inEnvironment,
                                           const VFilePath* inWorkingDirectory, int32_t* outExitStatus,
                                           VProcessLauncher** outLauncher, bool inTreeKill)
{
    auto launcher = std::make_unique<VProcessLauncher>();
    launcher->fLauncher->SetArgumentVector(inBinaryPath, inArguments);
    return _Execute(std::move(launcher), inOptions, inInput, outOutput, outError, inEnvironment,
                    inWorkingDirectory, outExitStatus, outLauncher, inTreeKill);
}

int32_t VProcessLauncher::_Execute(std::unique_ptr<VProcessLauncher> inLauncher, uint32_t inOptions,
                                   const VMemoryBuffer<>* inInput, VMemoryBuffer<>* outOutput,
                                   VMemoryBuffer<>* outError, const EnvVarNamesAndValuesMap* inEnvironment,
                                   const VFilePath* inWorkingDirectory, int32_t* outExitStatus,
                                   VProcessLauncher** outLauncher, bool inTreeKill)
{
    // Callers log the status even after a failure: it never keeps a stale value.
    if (outExitStatus != nullptr)
    {
        *outExitStatus = 0;
    }
    if (inEnvironment != nullptr)
    {
        inLauncher->SetEnvironmentVariables(*inEnvironment);
    }
    if (inWorkingDirectory != nullptr)
    {
        inLauncher->SetDefaultDirectory(*inWorkingDirectory);
    }
    const bool dontWait = (inOptions & kDontWait) != 0;
    if (dontWait)
    {
        inLauncher->SetWaitClosingChildProcess(0);
    }
    if (inTreeKill)
    {
        inLauncher->EnableProcessTreeKill();
    }
    int32_t result = inLauncher->Start();
    if (result == 0)
    {
        if (inInput != nullptr && inInput->GetDataSize() > 0)
        {
            inLauncher->WriteToChild(inInput->GetDataPtr(), static_cast<uint32_t>(inInput->GetDataSize()),
                                     false);
        }
        inLauncher->CloseStandardInput();
        if (!dontWait && (outOutput != nullptr || outError != nullptr))
        {
            inLauncher->ReadStd(outOutput, outError);
        }
        if (outLauncher == nullptr)
        {
            result = inLauncher->Shutdown(false, inTreeKill);
            if (outExitStatus != nullptr && result == 0)
            {
                *outExitStatus = inLauncher->GetExitStatus();
            }
        }
    }
    if (outLauncher != nullptr)
    {
        *outLauncher = inLauncher.release();
    }
    return result;
}

} // namespace zorn
