// Localization folders: the "<language>.lproj" sub-folders of a bundle folder that hold the texts
// of one dialect, and the localized file found in them. They belong to the international settings
// but need folders, so they live here, above the file layer, as free functions (no kernel code
// asks for them).
//
// Choices made:
// - The candidate names, in this order, each followed by ".lproj": the RFC 3066bis code with '-'
//   ("en-gb"), the same with '_' ("en_gb"), the ISO 639-1 code ("en"), that code with '_' and the
//   ISO 3166 region when there is one ("en_GB"), and the English name with its first character
//   in upper case ("English"). A name equal to the one before it is not tried again.
// - Each candidate is looked up by its exact name first. When no folder has that name, the
//   parent's sub-folders are searched for one whose name equals it with the letters A-Z taken
//   without regard to case (bundles are often authored on case-insensitive volumes); among
//   several such folders the one whose name sorts first by code unit is taken, so that the
//   answer does not depend on the order of the listing. The name found on disk is used.
// - A folder found for two candidates (by exact name for one, without case for another) is
//   listed once, at its first place.
#pragma once

#include "toolbox/files/IFile.h"
#include "toolbox/kernel/base/VRefPtr.h"
#include "toolbox/kernel/strings/VString.h"

#include <cstdint>
#include <vector>

namespace zorn
{

// The candidate folder names for a dialect, in order (duplicates of the one before skipped); an
// unknown dialect gives none.
void GetLocalizationFolderNames(uint32_t inDialectCode, std::vector<VString>& outNames);

// Appends the existing localization folders of the dialect below inParent, in the order of the
// candidate names; whether any was found. A null parent gives none.
bool GetLocalizationFoldersWithDialect(uint32_t inDialectCode, const IFolder* inParent,
                                       std::vector<VRefPtr<IFolder>>& outFolders);

// The file named inFileName in the last of those folders that holds one (the folders are tried
// from the last found back to the first), retained; null when none holds it. outFolderFound, when
// given, tells whether there was any localization folder.
IFile* RetainLocalizationFile(const IFolder* inParent, const VString& inFileName, uint32_t inDialectCode,
                              bool* outFolderFound);

} // namespace zorn
