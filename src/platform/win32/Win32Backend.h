// What the parts of the Win32 backend share: char16_t as wchar_t, error mapping with the
// thread's last failure, and the folder calls (Win32Folders.cpp).
#pragma once

#include <windows.h>

#include <functional>

#include "platform/Platform.h"  // after <windows.h>: undoes its A/W name macros

namespace es::platform::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

inline const wchar_t* W(const Str& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

Error FromLastError(DWORD code);
// Records `code` as this thread's last failure and hands its reason to the caller; false.
bool Fail(Error* error, DWORD code);
bool Fail(Error* error, Error reason, DWORD code);
// The same for a refusal of the backend's own, in its own words.
bool Refuse(Error* error, Error reason, const char16_t* words);
// The last failure of this thread: the system's message and the code, or our words.
Str LastFailureText();

FolderHandle OpenFolder(const Str& path, bool followLink, Error* error);
FolderHandle OpenSubFolder(FolderHandle parent, const Str& name, Error* error);
void CloseFolder(FolderHandle folder);
bool ListFolder(FolderHandle folder, const std::function<bool(const FolderEntry&)>& visit, Error* error);
bool StatAt(FolderHandle folder, const Str& name, EntryInfo* info, Error* error);
FileHandle OpenFileAt(FolderHandle folder, const Str& name, Access access, Share share, Disposition disposition,
                      Error* error);
bool DeleteFileAt(FolderHandle folder, const Str& name, Error* error);
bool RemoveFolderAt(FolderHandle parent, const Str& name, Error* error);
bool MoveFileAt(FolderHandle folder, const Str& from, const Str& to, Error* error);
bool SetAttributesAt(FolderHandle folder, const Str& name, std::uint32_t attributes, Error* error);

}  // namespace es::platform::win32
