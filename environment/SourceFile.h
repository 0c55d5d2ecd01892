#pragma once
// Source files on disk, Qt-free: reading a file into editor text, saving
// editor text (FF FE, UTF-16LE, CR LF) without ever losing the old file,
// and the name of a new file.

#include <functional>
#include <optional>
#include <string>

class TStructure;

// The file's text with its line breaks as LF (the editor's form); empty when
// it is missing or unreadable. NUL characters end the text, as they end an
// 8-bit file.
std::u16string LoadSourceText(const TStructure& s, const std::u16string& path);

// Writes FF FE and the UTF-16LE units of text (already CR LF) to a scratch
// file beside path, then puts it in path's place, so a failed save leaves
// the old file whole. The error's text on failure, nothing on success.
[[nodiscard]] std::optional<std::string> SaveSourceText(const std::u16string& path, const std::u16string& text);

// The full path of "New File n.zav" in folder (ending in "/") for the
// smallest n whose file does not exist and that taken(title) does not claim.
std::u16string NewSourceFileName(const std::u16string& folder,
                                 const std::function<bool(const std::u16string& title)>& taken, int& number);
