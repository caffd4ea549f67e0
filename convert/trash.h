// The desktop trash as freedesktop.org describes it: the home trash in the
// user's data folder, a file in files/ and its .trashinfo in info/.
#pragma once

#include <cstdint>
#include <string>

namespace trash {

// $XDG_DATA_HOME/Trash (~/.local/share/Trash); the data folder is made when
// a new account has none yet, the trash itself is not.
std::string HomeTrash();

// Puts a second name for path into the trash while path stays where it is:
// a hard link, or a copy where the trash is on another device. Returns the
// name in the trash's files/, or "" with error set.
std::string KeepCopy(const std::string &path, std::string &error);

// Takes trashed and its .trashinfo out of the trash for good.
void Forget(const std::string &trashed);

// A file the trash keeps, proven to be one a run put there: it lies in the
// files/ folder of the trash root the run used (neither folder a link), its
// .trashinfo names the place it was taken from, and its size and checksum
// are the ones recorded when it was kept. Open while it is restored.
class KeptFile {
public:
    KeptFile() = default;
    ~KeptFile();
    KeptFile(const KeptFile &) = delete;
    KeptFile &operator=(const KeptFile &) = delete;

    // False, with why set, when trashed is not that file.
    bool Find(const std::string &root, const std::string &trashed, const std::string &original,
              std::int64_t size, const std::string &sha256, std::string &why);
    // Gives the file back as name in the open folder, which must not hold
    // that name; then the trash forgets it. False with error set.
    bool RestoreInto(int folder, const std::string &name, std::string &error);
    // Takes it and its .trashinfo out of the trash for good.
    void Forget();

private:
    int m_files = -1, m_info = -1, m_fd = -1;
    std::string m_name;
};

} // namespace trash
