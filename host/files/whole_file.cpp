// A file set written whole: every member complete on the disk before any is moved into place, and
// every move taken back when a later one fails.
#include "host/files/whole_file.h"

#include "host/text/text.h"

namespace dorvane::host {
namespace {

// Gives up on finding a free hidden name after this many taken ones.
constexpr int kHiddenNameAttempts = 100;

// The moves of one set so far, and the old files set aside for it: undone unless the set completes.
class SetMoves {
 public:
  SetMoves() = default;
  SetMoves(const SetMoves&) = delete;
  SetMoves& operator=(const SetMoves&) = delete;
  ~SetMoves() { static_cast<void>(undo()); }

  // Moves the file at `path` to a hidden name beside it: "" or the reason.
  std::string setAside(const std::string& path) {
    for (int attempt = 0; attempt < kHiddenNameAttempts; ++attempt) {
      const std::string copy = file_system::hiddenNameBeside(path, "replaced");
      const std::string reason = file_system::moveKeeping(path, copy);
      if (reason.empty()) {
        setAside_.emplace_back(path, copy);
        return {};
      }
      if (reason != kFileExists) return reason;
    }
    return kFileExists;
  }
  void placed(const std::string& path) { placed_.push_back(path); }

  // The set is in place: what was set aside goes.
  void complete() {
    for (const auto& [path, copy] : setAside_) file_system::removeFile(copy);
    setAside_.clear();
    placed_.clear();
  }

  // Removes what this set moved in and brings back what it set aside. "" or, should an old file
  // not come back, where it is kept instead, for the failure line.
  std::string undo() noexcept {
    try {
      for (const std::string& path : placed_) file_system::removeFile(path);
      placed_.clear();
      std::string strayed;
      for (const auto& [path, copy] : setAside_) {
        if (!file_system::moveKeeping(copy, path).empty()) strayed += "; the former " + shownPath(path) + " is kept as " + shownPath(copy);
      }
      setAside_.clear();
      return strayed;
    } catch (const std::exception&) {
      return {};
    }
  }

 private:
  std::vector<std::string> placed_;
  std::vector<std::pair<std::string, std::string>> setAside_;
};

}  // namespace

std::string nameInTheWay(const std::vector<std::string>& names, Existing existing) {
  for (const std::string& name : names) {
    switch (file_system::occupantOf(name)) {
      case file_system::Occupant::Folder: return cannotWrite(name, file_system::folderInTheWay());
      case file_system::Occupant::File:
        if (existing == Existing::Keep) return cannotWrite(name, kFileExists);
        break;
      case file_system::Occupant::None: break;
    }
  }
  return {};
}

std::string writeFileSet(const std::vector<FileSetMember>& members, Existing existing, const std::vector<std::string>& leftOut) {
  if (members.empty()) return {};
  std::vector<std::unique_ptr<TemporaryFile>> temporaries;
  SetMoves moves;
  try {
    std::vector<std::string> names;
    for (const FileSetMember& member : members) names.push_back(member.path);
    names.insert(names.end(), leftOut.begin(), leftOut.end());
    // Before the work of filling: a set refused now costs nothing.
    if (std::string refusal = nameInTheWay(names, existing); !refusal.empty()) return refusal;

    for (const FileSetMember& member : members) {
      std::string reason;
      temporaries.push_back(TemporaryFile::createBeside(member.path, reason));
      if (!temporaries.back()) return cannotWrite(member.path, reason);
      if (std::string failure = member.fill(*temporaries.back()); !failure.empty()) return failure;
      if (reason = temporaries.back()->commit(); !reason.empty()) return cannotWrite(member.path, reason);
    }

    if (existing == Existing::Replace) {
      for (const std::string& name : names) {
        if (file_system::occupantOf(name) != file_system::Occupant::File) continue;
        if (const std::string reason = moves.setAside(name); !reason.empty()) return cannotWrite(name, reason) + moves.undo();
      }
    }
    for (std::size_t i = 0; i < members.size(); ++i) {
      // Never a replacement: what stood there is set aside, or the set is refused.
      if (const std::string reason = file_system::moveKeeping(temporaries[i]->path(), members[i].path); !reason.empty()) {
        return cannotWrite(members[i].path, reason) + moves.undo();
      }
      temporaries[i]->keep();
      moves.placed(members[i].path);
    }
    for (const FileSetMember& member : members) file_system::syncFolderOf(member.path);
    moves.complete();
    return {};
  } catch (const std::exception& thrown) {
    const std::string strayed = moves.undo();
    try {
      return thrownFailure(members.front().path, thrown) + strayed;
    } catch (const std::exception&) {
      return "out of memory";
    }
  }
}

std::string folderRefusesFiles(const std::string& folder) {
  std::string reason;
  // A probe's temporary file, removed as it goes: no name of the user's is touched.
  const std::unique_ptr<TemporaryFile> probe = TemporaryFile::createBeside(folder + "/probe", reason);
  return probe ? std::string() : reason;
}

std::string thrownFailure(const std::string& path, const std::exception& thrown) noexcept {
  try {
    return cannotWrite(path, thrown.what());
  } catch (...) {
    return "out of memory";
  }
}

}  // namespace dorvane::host
