// The desktop trash as freedesktop.org describes it: the home trash in the
// user's data folder, a file in files/ and its .trashinfo in info/.
#pragma once

#include <string>

namespace trash {

// $XDG_DATA_HOME/Trash (~/.local/share/Trash); the data folder is made when
// a new account has none yet, the trash itself is not.
std::string HomeTrash();

// Puts a second name for path into the trash while path stays where it is:
// a hard link, or a copy where the trash is on another device. Returns the
// name in the trash's files/, or "" with error set.
std::string KeepCopy(const std::string &path, std::string &error);

// Takes trashed (a name KeepCopy gave) out of the trash to path, which must
// not exist; its .trashinfo goes too. False with error set when it cannot.
bool Restore(const std::string &trashed, const std::string &path, std::string &error);

// Takes trashed and its .trashinfo out of the trash for good.
void Forget(const std::string &trashed);

} // namespace trash
