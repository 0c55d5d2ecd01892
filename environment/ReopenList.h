#pragma once
// The reopen list: the most recently opened files, newest first. Qt-free;
// the File menu's Reopen submenu shows it.

#include <string>
#include <vector>

struct EnvState;

struct ReopenEntry {
  std::u16string Caption;   // the file less a leading program folder, then root folder
  std::u16string FullPath;  // the file as opened
};

class ReopenList {
public:
  // Puts a file on top; an entry naming the same file goes first. Two names
  // name the same file when they are equal or when one ends the other at a
  // "/" ("a.zav" and "/x/a.zav", never "ba.zav").
  void Add(const EnvState& env, const std::u16string& file);
  // Fills the list from REOPEN9 up to REOPEN0 (REOPEN0 ends on top); a path
  // is LocateFile of its caption. Logs each entry.
  void LoadFromSettings(EnvState& env);
  // Writes the ten newest entries as REOPEN0..REOPEN9 (captions unchanged).
  void SaveToSettings(EnvState& env) const;

  const std::vector<ReopenEntry>& Entries() const { return entries_; }
  static constexpr size_t kSavedEntries = 10;

private:
  std::vector<ReopenEntry> entries_;
};

// True when the two file names name the same file by the rule of Add.
bool NamesSameFile(const std::u16string& a, const std::u16string& b);
