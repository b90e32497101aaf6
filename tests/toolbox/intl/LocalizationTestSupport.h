// Shared pieces of the localization tests: a process with an English international manager and a
// settable localizer, a fixture that runs the task manager over a scratch folder, and writers of
// text files in the encodings strings files come in.
#pragma once

#include "tests/StringTestSupport.h"
#include "toolbox/files/VFile.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/intl/VLocalizationManager.h"
#include "toolbox/kernel/hooks/IProcessServices.h"
#include "toolbox/kernel/locale/VIntlMgr.h"
#include "toolbox/kernel/tasks/VTaskMgr.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace zorn::test
{

class LocalizationProcess final : public IProcessServices
{
public:
    LocalizationProcess() : fManager(VIntlMgr::Create(1033, 1033)) {}
    ~LocalizationProcess() override
    {
        if (fManager != nullptr)
        {
            fManager->Release();
        }
    }
    LocalizationProcess(const LocalizationProcess&) = delete;
    LocalizationProcess& operator=(const LocalizationProcess&) = delete;

    VIntlMgr* GetIntlMgr() const override { return fManager; }
    ILogger* GetLogger() const override { return nullptr; }
    ILocalizer* GetLocalizer() const override { return fLocalizer.load(); }
    VJSONClassStore* GetClassStore() const override { return nullptr; }
    bool IsFibersEnabled() const override { return false; }

    void SetLocalizer(ILocalizer* inLocalizer) { fLocalizer.store(inLocalizer); }

private:
    VIntlMgr* fManager;
    std::atomic<ILocalizer*> fLocalizer{nullptr};
};

// Runs the task manager (the test's thread is the main task) over a fresh scratch folder.
class LocalizationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_NE(fProcess.GetIntlMgr(), nullptr);
        IProcessServices::Set(&fProcess);
        ASSERT_TRUE(VTaskMgr::Get()->Init(&fProcess));
        std::string pattern = std::filesystem::temp_directory_path().string() + "/zorn_l10n_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        fRoot = pattern + "/";
    }
    void TearDown() override
    {
        if (VTaskMgr::IsInited())
        {
            EXPECT_TRUE(VTaskMgr::Get()->KillAllTasks(10000)) << "a task outlived its test";
            VTaskMgr::Get()->DeInit();
        }
        IProcessServices::Set(nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(fRoot, ignored);
    }

    // Paths below the scratch folder; folders end with '/'.
    std::string PathOf(const std::string& inRelative) const { return fRoot + inRelative; }
    void MakeFolder(const std::string& inRelative) const
    {
        std::filesystem::create_directories(PathOf(inRelative));
    }
    void WriteBytes(const std::string& inRelative, const std::string& inBytes) const
    {
        std::filesystem::create_directories(std::filesystem::path(PathOf(inRelative)).parent_path());
        std::ofstream(PathOf(inRelative), std::ios::binary) << inBytes;
    }
    // Sets a file's modification time to a fixed point plus inSeconds, so that no test relies on
    // the clock moving between two writes.
    void SetModificationTime(const std::string& inRelative, int inSeconds) const
    {
        std::filesystem::last_write_time(PathOf(inRelative),
                                         std::filesystem::file_time_type(std::chrono::hours(480000)) +
                                             std::chrono::seconds(inSeconds));
    }
    VRefPtr<VFolder> Folder(const std::string& inRelative) const
    {
        std::string path = PathOf(inRelative);
        if (path.back() != '/')
        {
            path += '/';
        }
        return VRefPtr<VFolder>(new VFolder(VString(path.c_str()), FPS_POSIX), true);
    }
    VRefPtr<VFile> File(const std::string& inRelative) const
    {
        return VRefPtr<VFile>(new VFile(VString(PathOf(inRelative).c_str()), FPS_POSIX), true);
    }

    LocalizationProcess fProcess;
    std::string fRoot;
};

inline std::string Utf8(const VString& inText)
{
    VFileContentBuffer bytes;
    inText.ToBuffer(bytes, CharSet::VTC_UTF_8);
    return std::string(static_cast<const char*>(bytes.GetDataPtr()), bytes.GetDataSize());
}

// Text of the key, or "<none>".
inline std::string Lookup(VLocalizationManager& inManager, const char* inKey)
{
    VString text;
    return inManager.LocalizeStringWithKey(VString(inKey), text) ? Utf8(text) : std::string("<none>");
}

// UTF-16 bytes of a UTF-8 text in either order, with an optional mark.
inline std::string Utf16Bytes(const std::string& inUtf8, bool inBigEndian, bool inWithMark)
{
    VString text;
    text.FromBlock(inUtf8.data(), inUtf8.size(), CharSet::VTC_UTF_8);
    std::string bytes;
    auto put = [&](UniChar inUnit)
    {
        const char high = static_cast<char>(inUnit >> 8);
        const char low = static_cast<char>(inUnit & 0xFF);
        bytes += inBigEndian ? high : low;
        bytes += inBigEndian ? low : high;
    };
    if (inWithMark)
    {
        put(0xFEFF);
    }
    for (int32_t i = 0; i < text.GetLength(); ++i)
    {
        put(text.GetUniChar(i + 1));
    }
    return bytes;
}

// A minimal XLIFF file for the target language.
inline std::string XliffText(const std::string& inLanguage, const std::string& inBody = "")
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<xliff version=\"1.2\"><file original=\"x\" source-language=\"en\" target-language=\"" +
           inLanguage + "\" datatype=\"plaintext\"><body>" + inBody + "</body></file></xliff>\n";
}

} // namespace zorn::test
