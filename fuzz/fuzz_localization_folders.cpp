// Localization folder discovery over a hostile bundle: arbitrary bytes build the bundle's
// Contents/Resources/ tree in a temporary folder, then a localization manager loads the bundle's
// default folders the way the updater does at start-up, and the language folders are looked up
// on their own. Each record of the input is an operation byte, a name and what the operation
// needs:
//   op % 6 == 0 a folder (entered), 1 a file, 2 a symbolic link, 3 back up one folder, 4 a FIFO,
//   5 a chain of nested folders (up to 300 deep) ending in a localization folder.
// A name byte below 0x80 picks a name from a table (language folders in every case and form,
// localization files, "." and ".." look-alikes, a 255-byte name); otherwise 1-12 raw bytes follow.
// A file holds a valid XLIFF or strings text, a few input bytes, or nothing. A link goes to an
// earlier item, "..", "/", itself, or the last item (chains, loops). The first input byte picks
// the dialect. Besides the sanitizers' checks, the load ends, and every language folder found is
// an existing folder directly inside Resources/ whose name is one of the dialect's candidate names
// (letters A-Z taken without regard to case), listed once.
#include "fuzz/FuzzTasks.h"
#include "toolbox/files/VFilePath.h"
#include "toolbox/files/VFolder.h"
#include "toolbox/files/linux/XLinuxFile.h"
#include "toolbox/intl/LocalizationFolders.h"
#include "toolbox/intl/VLocalizationManager.h"
#include "toolbox/intl/VXMLParser.h"
#include "toolbox/kernel/errors/VErrorContext.h"
#include "toolbox/process/VProcess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

using namespace zorn;

namespace
{

namespace fs = std::filesystem;

using fuzz::Check;

void StartProcessOnce()
{
    static const bool sStarted = []
    {
        auto* process = new VProcess(); // lives as long as the program
        return process->Init(0) && VXMLParser::Init();
    }();
    Check(sStarted);
}

const uint32_t kDialects[] = {1033, 2057, 1036, 3084, 1031, 2052, 1041, 0x0c0a, 0, 0xffff};

const char* const kNames[] = {
    "en.lproj",
    "EN.LPROJ",
    "En.lproj",
    "en-us.lproj",
    "en_us.lproj",
    "en_US.lproj",
    "English.lproj",
    "english.lproj",
    "en-gb.lproj",
    "en_GB.lproj",
    "fr.lproj",
    "French.lproj",
    "fr-ca.lproj",
    "de.lproj",
    "Resources",
    "Contents",
    "Updater.xlf",
    "Localizable.strings",
    "Errors.XLF",
    "a.strings",
    ".lproj",
    "..lproj",
    "...",
    ".hidden.lproj",
    "en.lproj ",
    "en.lproj.lproj",
    "\xc3\xa9n.lproj",
    "en\xff.lproj",
    "zh-hans.lproj",
    "Base.lproj",
    "x",
};

const char* const kXLIFF =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xliff version=\"1.0\"><file source-language=\"en\" "
    "target-language=\"en\" original=\"x\" datatype=\"plaintext\"><body><trans-unit id=\"1\" resname=\"K\">"
    "<source>key</source><target>text</target></trans-unit></body></file></xliff>\n";
const char* const kStrings = "/* texts */\n\"K\" = \"text\";\n\"L\" = \"more \\\"quoted\\\"\";\n";

struct Reader
{
    const uint8_t* fData;
    size_t fSize;
    size_t fAt = 0;

    bool More() const { return fAt < fSize; }
    uint8_t Next() { return fAt < fSize ? fData[fAt++] : 0; }
};

std::string NextName(Reader& ioInput)
{
    const uint8_t choice = ioInput.Next();
    if (choice < 0x80)
    {
        const size_t count = sizeof(kNames) / sizeof(kNames[0]);
        if (choice % (count + 1) == count)
        {
            return std::string(255, 'n');
        }
        return kNames[choice % (count + 1)];
    }
    const size_t length = 1 + ioInput.Next() % 12;
    std::string name;
    while (name.size() < length && ioInput.More())
    {
        const char byte = static_cast<char>(ioInput.Next());
        name += byte == '/' || byte == '\0' ? '_' : byte;
    }
    return name.empty() ? "_" : name;
}

void WriteFile(const std::string& inPath, Reader& ioInput)
{
    const int fd = ::open(inPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
    {
        return;
    }
    std::string content;
    switch (ioInput.Next() % 4)
    {
    case 0:
        content = kXLIFF;
        break;
    case 1:
        content = kStrings;
        break;
    case 2:
        for (size_t count = ioInput.Next() % 64; count > 0 && ioInput.More(); --count)
        {
            content += static_cast<char>(ioInput.Next());
        }
        break;
    default:
        break;
    }
    const bool written = ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    ::close(fd);
    Check(written);
}

void BuildTree(const std::string& inRoot, Reader& ioInput)
{
    std::vector<std::string> items;
    std::string current = inRoot;
    while (ioInput.More() && items.size() < 64)
    {
        const uint8_t op = ioInput.Next() % 6;
        if (op == 3)
        {
            if (current != inRoot)
            {
                current.erase(current.find_last_of('/'));
            }
            continue;
        }
        const std::string name = NextName(ioInput);
        if (name == "." || name == "..")
        {
            continue;
        }
        const std::string path = current + "/" + name;
        if (op == 0 && ::mkdir(path.c_str(), 0755) == 0)
        {
            current = path;
        }
        else if (op == 1)
        {
            WriteFile(path, ioInput);
        }
        else if (op == 2)
        {
            std::string target;
            switch (ioInput.Next() % 5)
            {
            case 0:
                target = items.empty() ? name : items[ioInput.Next() % items.size()];
                break;
            case 1:
                target = "..";
                break;
            case 2:
                target = "/";
                break;
            case 3:
                target = name;
                break;
            default:
                target = items.empty() ? "missing" : items.back();
                break;
            }
            ::symlink(target.c_str(), path.c_str());
        }
        else if (op == 4)
        {
            ::mkfifo(path.c_str(), 0644);
        }
        else if (op == 5)
        {
            // Deep nesting, with a localization folder at the bottom.
            std::string deep = path;
            const int depth = 1 + ioInput.Next() * 300 / 256;
            for (int level = 0; level < depth && ::mkdir(deep.c_str(), 0755) == 0; ++level)
            {
                deep += "/d";
            }
            ::mkdir((deep.substr(0, deep.find_last_of('/')) + "/en.lproj").c_str(), 0755);
        }
        items.push_back(path);
    }
}

VFolder* NewFolder(const std::string& inPath)
{
    VFilePath path;
    XLinuxFile::GetFilePathFromPosixPath((inPath + "/").c_str(), true, path);
    return new VFolder(path);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* inData, size_t inSize)
{
    StartProcessOnce();
    Reader input{inData, inSize};
    const uint32_t dialect = kDialects[input.Next() % (sizeof(kDialects) / sizeof(kDialects[0]))];

    char folder[] = "/tmp/zorn-fuzz-lproj-XXXXXX";
    Check(::mkdtemp(folder) != nullptr);
    const std::string bundle = std::string(folder) + "/Hostile.app";
    const std::string resources = bundle + "/Contents/Resources";
    fs::create_directories(resources);
    BuildTree(resources, input);
    {
        StErrorContextInstaller errors(false, true);
        VRefPtr<VFolder> bundleFolder(NewFolder(bundle), true);
        VRefPtr<VLocalizationManager> manager(new VLocalizationManager(dialect), true);
        manager->LoadDefaultLocalizationFoldersForComponentOrPlugin(bundleFolder.Get());
        VString text;
        manager->LocalizeStringWithKey(VString("K"), text);

        std::vector<VString> names;
        GetLocalizationFolderNames(dialect, names);
        VRefPtr<VFolder> resourcesFolder(NewFolder(resources), true);
        std::vector<VRefPtr<IFolder>> found;
        GetLocalizationFoldersWithDialect(dialect, resourcesFolder.Get(), found);
        for (size_t i = 0; i < found.size(); ++i)
        {
            Check(found[i]->Exists());
            VFilePath parent;
            Check(found[i]->GetPath().GetParent(parent));
            Check(XLinuxFile::AllocatePosixPathFromFilePath(parent) == resources + "/");
            VString name;
            found[i]->GetName(name);
            bool candidate = false;
            for (const VString& each : names)
            {
                candidate = candidate || name.CompareToStringRawCase(each) == CR_EQUAL;
            }
            Check(candidate);
            for (size_t j = 0; j < i; ++j)
            {
                Check(!found[j]->IsSameFolder(found[i].Get()));
            }
        }
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}
