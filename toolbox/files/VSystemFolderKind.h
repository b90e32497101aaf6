// ESystemFolderKind: the system folders a program asks for by kind (VFolder::RetainSystemFolder).
// Where each kind lies on Linux is the folder back end's choice (XLinuxFolder states it).
#pragma once

#include <cstdint>

namespace zorn
{

enum ESystemFolderKind : int32_t
{
    eFK_Executable = 0,
    eFK_UserDocuments = 1,
    eFK_Temporary = 2,
    eFK_None = 3,
    eFK_CommonPreferences = 4,
    eFK_UserPreferences = 5,
    eFK_CommonApplicationData = 6,
    eFK_UserApplicationData = 7,
    eFK_Desktop = 8,
    eFK_Applications = 9,
    eFK_CommonCache = 10,
    eFK_UserCache = 11,
    eFK_Library = 12,
    eFK_Home = 13,
};

} // namespace zorn
