// libcurl bound on first use, for the Xerces-C archive the toolbox links.
//
// Debian's Xerces-C reaches curl for one thing: its network accessor, which fetches documents and
// entities named by http/ftp addresses. The toolbox never lets it do so (default entity resolution
// is off in every parser it makes, and entities resolve only from local folders), yet linking the
// shared Xerces library loads libcurl and the thirty-odd libraries curl needs (TLS, Kerberos, LDAP,
// SSH) into every process at start: over 10 ms of mapping and relocation before main. The toolbox
// therefore links Xerces' static archive, and this file gives the archive the curl functions it
// calls, each of which loads the real libcurl the first time a handle is made.
//
// - curl_global_init only records its flags (Xerces calls it when its platform starts); they are
//   handed to the real curl_global_init when the library is loaded, before any handle exists.
// - curl_easy_init and curl_multi_init load the library, and answer null when it cannot be loaded
//   or lacks a function, which Xerces reports as a failed fetch.
// - Every other function takes a handle or a list that only a loaded library made, so it forwards;
//   curl_global_cleanup does nothing when nothing was loaded.
// - The two variadic functions take exactly one further argument, whose type curl derives from the
//   option's number (long, pointer, function pointer, 64-bit offset, blob pointer), and forward it
//   as that type.
#include <dlfcn.h>

#include <cstdarg>
#include <cstdint>
#include <mutex>

namespace
{

// The C types of curl's interface, as its ABI has them: handles are opaque pointers, codes and
// options are C enumerations (int).
using CurlCode = int;
using CurlOption = int;
using CurlInfo = int;
using CurlMCode = int;
struct CurlSList;
struct CurlMessage;
struct FdSet;
using CurlFunction = void (*)();

struct CurlFunctions
{
    CurlCode (*fGlobalInit)(long) = nullptr;
    void (*fGlobalCleanup)() = nullptr;
    void* (*fEasyInit)() = nullptr;
    void (*fEasyCleanup)(void*) = nullptr;
    CurlCode (*fEasySetopt)(void*, CurlOption, ...) = nullptr;
    CurlCode (*fEasyGetinfo)(void*, CurlInfo, ...) = nullptr;
    void* (*fMultiInit)() = nullptr;
    CurlMCode (*fMultiCleanup)(void*) = nullptr;
    CurlMCode (*fMultiAddHandle)(void*, void*) = nullptr;
    CurlMCode (*fMultiRemoveHandle)(void*, void*) = nullptr;
    CurlMCode (*fMultiPerform)(void*, int*) = nullptr;
    CurlMCode (*fMultiFdset)(void*, FdSet*, FdSet*, FdSet*, int*) = nullptr;
    CurlMCode (*fMultiTimeout)(void*, long*) = nullptr;
    CurlMessage* (*fMultiInfoRead)(void*, int*) = nullptr;
    CurlSList* (*fSlistAppend)(CurlSList*, const char*) = nullptr;
    void (*fSlistFreeAll)(CurlSList*) = nullptr;
};

constexpr CurlCode kCurlFailedInit = 2;       // CURLE_FAILED_INIT
constexpr CurlMCode kCurlMBadHandle = 1;      // CURLM_BAD_HANDLE
constexpr long kCurlGlobalDefault = 3;        // CURL_GLOBAL_DEFAULT (SSL | Win32)
constexpr CurlOption kOptionObject = 10000;   // CURLOPTTYPE_OBJECTPOINT
constexpr CurlOption kOptionFunction = 20000; // CURLOPTTYPE_FUNCTIONPOINT
constexpr CurlOption kOptionOffset = 30000;   // CURLOPTTYPE_OFF_T
constexpr CurlOption kOptionBlob = 40000;     // CURLOPTTYPE_BLOB

std::mutex sLock;
bool sTried = false;
bool sLoaded = false;
long sGlobalFlags = kCurlGlobalDefault;
CurlFunctions sCurl;

template <typename Function>
bool Bind(void* inLibrary, const char* inName, Function& outFunction)
{
    outFunction = reinterpret_cast<Function>(::dlsym(inLibrary, inName));
    return outFunction != nullptr;
}

// Loads libcurl once, whole or not at all; the library stays loaded for the process's life.
bool Load()
{
    std::lock_guard<std::mutex> lock(sLock);
    if (sTried)
    {
        return sLoaded;
    }
    sTried = true;
    void* library = ::dlopen("libcurl-gnutls.so.4", RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr)
    {
        return false;
    }
    CurlFunctions curl;
    const bool bound = Bind(library, "curl_global_init", curl.fGlobalInit) &&
                       Bind(library, "curl_global_cleanup", curl.fGlobalCleanup) &&
                       Bind(library, "curl_easy_init", curl.fEasyInit) &&
                       Bind(library, "curl_easy_cleanup", curl.fEasyCleanup) &&
                       Bind(library, "curl_easy_setopt", curl.fEasySetopt) &&
                       Bind(library, "curl_easy_getinfo", curl.fEasyGetinfo) &&
                       Bind(library, "curl_multi_init", curl.fMultiInit) &&
                       Bind(library, "curl_multi_cleanup", curl.fMultiCleanup) &&
                       Bind(library, "curl_multi_add_handle", curl.fMultiAddHandle) &&
                       Bind(library, "curl_multi_remove_handle", curl.fMultiRemoveHandle) &&
                       Bind(library, "curl_multi_perform", curl.fMultiPerform) &&
                       Bind(library, "curl_multi_fdset", curl.fMultiFdset) &&
                       Bind(library, "curl_multi_timeout", curl.fMultiTimeout) &&
                       Bind(library, "curl_multi_info_read", curl.fMultiInfoRead) &&
                       Bind(library, "curl_slist_append", curl.fSlistAppend) &&
                       Bind(library, "curl_slist_free_all", curl.fSlistFreeAll);
    if (!bound || curl.fGlobalInit(sGlobalFlags) != 0)
    {
        ::dlclose(library);
        return false;
    }
    sCurl = curl;
    sLoaded = true;
    return true;
}

// The loaded functions; only called with a handle that a loaded library made.
const CurlFunctions& Loaded()
{
    std::lock_guard<std::mutex> lock(sLock);
    return sCurl;
}

} // namespace

extern "C"
{

    // NOLINTBEGIN(readability-identifier-naming): curl's own names, which the archive links against.

    CurlCode curl_global_init(long inFlags)
    {
        std::lock_guard<std::mutex> lock(sLock);
        if (!sLoaded)
        {
            sGlobalFlags = inFlags;
            return 0;
        }
        return sCurl.fGlobalInit(inFlags);
    }

    void curl_global_cleanup()
    {
        std::lock_guard<std::mutex> lock(sLock);
        if (sLoaded)
        {
            sCurl.fGlobalCleanup();
        }
    }

    void* curl_easy_init()
    {
        return Load() ? Loaded().fEasyInit() : nullptr;
    }

    void* curl_multi_init()
    {
        return Load() ? Loaded().fMultiInit() : nullptr;
    }

    void curl_easy_cleanup(void* inHandle)
    {
        if (inHandle != nullptr)
        {
            Loaded().fEasyCleanup(inHandle);
        }
    }

    CurlCode curl_easy_setopt(void* inHandle, CurlOption inOption, ...)
    {
        if (inHandle == nullptr)
        {
            return kCurlFailedInit;
        }
        const CurlFunctions& curl = Loaded();
        va_list arguments;
        va_start(arguments, inOption);
        CurlCode result = kCurlFailedInit;
        if (inOption < kOptionObject)
        {
            result = curl.fEasySetopt(inHandle, inOption, va_arg(arguments, long));
        }
        else if (inOption < kOptionFunction || (inOption >= kOptionBlob))
        {
            result = curl.fEasySetopt(inHandle, inOption, va_arg(arguments, void*));
        }
        else if (inOption < kOptionOffset)
        {
            result = curl.fEasySetopt(inHandle, inOption, va_arg(arguments, CurlFunction));
        }
        else
        {
            result = curl.fEasySetopt(inHandle, inOption, va_arg(arguments, int64_t));
        }
        va_end(arguments);
        return result;
    }

    CurlCode curl_easy_getinfo(void* inHandle, CurlInfo inInfo, ...)
    {
        if (inHandle == nullptr)
        {
            return kCurlFailedInit;
        }
        va_list arguments;
        va_start(arguments, inInfo);
        // Every piece of information is answered through one pointer.
        void* answer = va_arg(arguments, void*);
        va_end(arguments);
        return Loaded().fEasyGetinfo(inHandle, inInfo, answer);
    }

    CurlMCode curl_multi_cleanup(void* inMulti)
    {
        return inMulti != nullptr ? Loaded().fMultiCleanup(inMulti) : kCurlMBadHandle;
    }

    CurlMCode curl_multi_add_handle(void* inMulti, void* inEasy)
    {
        return inMulti != nullptr ? Loaded().fMultiAddHandle(inMulti, inEasy) : kCurlMBadHandle;
    }

    CurlMCode curl_multi_remove_handle(void* inMulti, void* inEasy)
    {
        return inMulti != nullptr ? Loaded().fMultiRemoveHandle(inMulti, inEasy) : kCurlMBadHandle;
    }

    CurlMCode curl_multi_perform(void* inMulti, int* outRunning)
    {
        return inMulti != nullptr ? Loaded().fMultiPerform(inMulti, outRunning) : kCurlMBadHandle;
    }

    CurlMCode curl_multi_fdset(void* inMulti, FdSet* ioRead, FdSet* ioWrite, FdSet* ioExcept, int* outMax)
    {
        return inMulti != nullptr ? Loaded().fMultiFdset(inMulti, ioRead, ioWrite, ioExcept, outMax)
                                  : kCurlMBadHandle;
    }

    CurlMCode curl_multi_timeout(void* inMulti, long* outMilliseconds)
    {
        return inMulti != nullptr ? Loaded().fMultiTimeout(inMulti, outMilliseconds) : kCurlMBadHandle;
    }

    CurlMessage* curl_multi_info_read(void* inMulti, int* outLeft)
    {
        return inMulti != nullptr ? Loaded().fMultiInfoRead(inMulti, outLeft) : nullptr;
    }

    // A list is made before any handle: the library is loaded for it.
    CurlSList* curl_slist_append(CurlSList* ioList, const char* inText)
    {
        return Load() ? Loaded().fSlistAppend(ioList, inText) : nullptr;
    }

    void curl_slist_free_all(CurlSList* ioList)
    {
        if (ioList != nullptr)
        {
            Loaded().fSlistFreeAll(ioList);
        }
    }

    // NOLINTEND(readability-identifier-naming)

} // extern "C"
