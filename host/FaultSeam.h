// The fault seam's side of eshost's calls to the operating system (see HostOs.h): each
// write, flush, rename and ledger append is counted, and the one a test names is made
// to crash, cut power, fail as on a full disk, or hang. For a power cut it keeps what
// has not been flushed yet, so that the cut can take it back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "host/HostOs.h"

namespace eshost::os::seam {

// Counts a call; returns what the seam does with it.
FaultAction Count(CallKind kind);
// Crashes, cuts power or hangs as `action` says; never returns.
[[noreturn]] void Stop(FaultAction action, CallKind kind);
const char* NoSpaceText();
// Counts a call that either happens or fails: false with `why` as on a full disk when the
// seam says so; crashes, cuts power or hangs when it says that; true otherwise.
bool Pass(CallKind kind, std::string* why);

// What a power cut would take back, told as it happens.
void NoteCreated(const std::filesystem::path& path);
void NoteWrite(const std::filesystem::path& path, std::uint64_t sizeBefore);
void NoteFlushed(const std::filesystem::path& path);
void NoteTruncated(const std::filesystem::path& path, std::uint64_t size);
void NoteFolderFlushed(const std::filesystem::path& folder);
void NoteRename(const std::filesystem::path& from, const std::filesystem::path& to);

}  // namespace eshost::os::seam
