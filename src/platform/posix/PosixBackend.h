// The parts of the POSIX backend that live in their own files.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "platform/Platform.h"

namespace es::platform::posix {

// Text in the process-wide ANSI code page, converted with iconv (AnsiText.cpp).
Str AnsiToUtf16(const char* bytes, std::size_t count);
bool Utf16ToAnsi(const Str& text, std::string* bytes);

// The process and its modules (PosixProcess.cpp).
bool ExpandEnvironment(const Str& text, std::size_t capacity, Str* expanded);
bool UserName(std::size_t capacity, Str* name);
bool ComputerName(std::size_t capacity, Str* name);
void* ModuleHandleByName(const Str& name);
Str ModuleFileName(void* module);
int LoadString(void* resourceModule, std::uint32_t id, char16_t* buffer, int capacity);

// Folders of a storage, relative to folder descriptors (PosixFolders.cpp).
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

}  // namespace es::platform::posix
