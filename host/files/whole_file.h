// Writing a set of files whole or not at all: each member is filled under a temporary name beside
// its target and committed to the disk, and only when every member is complete are they all moved
// into place. A set that fails half-way is taken back, so the files stand as they stood before. A
// single file is a set of one. The set's logic is here; the calls to the system are
// host/os/file_system.h's.
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "host/os/file_system.h"

namespace dorvane::host {

// Fills the temporary file, itself or through another program that writes it by name; returns ""
// or the one-line error naming the target.
using FillTemporary = std::function<std::string(TemporaryFile& file)>;

struct FileSetMember {
  std::string path;  // the target
  FillTemporary fill;
};

// What becomes of files already at the set's names: replaced, or kept and the set refused.
enum class Existing { Replace, Keep };


// Writes the set. `leftOut` names the set's files that this write has no member for (a PNG not
// drawn this time): they count as names of the set all the same, so that no file of an old set
// stays beside the new one. With Existing::Keep nothing is written when any name of the set holds
// a file (checked again by the moves themselves, which never replace, so a file that appears
// meanwhile is kept too). With Existing::Replace the files at the set's names are set aside, the
// new members moved in, and what was set aside removed; a folder at a name refuses the set either
// way. Returns "" or the one line of the first failure, after which every name holds what it held
// before and no temporary file stays.
std::string writeFileSet(const std::vector<FileSetMember>& members, Existing existing,
                         const std::vector<std::string>& leftOut = {});

// "" or the line writeFileSet would refuse the names with as they stand now: a folder at one, or
// with Existing::Keep a file. For checking before work that would be lost to the refusal.
std::string nameInTheWay(const std::vector<std::string>& names, Existing existing);

// "" when a new file can be made in `folder`, else the system's reason; nothing is left in it.
std::string folderRefusesFiles(const std::string& folder);

// For a failure that threw (in practice std::bad_alloc); when even its line cannot be built, a line
// short enough to need no memory.
std::string thrownFailure(const std::string& path, const std::exception& thrown) noexcept;

}  // namespace dorvane::host
