#include "convert/imagefiles.h"

#include "imaging/formats.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <set>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// s ends with "." and the lower-case extension, in any case.
bool HasExtensionNoCase(const std::string &s, std::string_view ext)
{
    const std::size_t n = ext.size();
    if (s.size() <= n || s[s.size() - n - 1] != '.')
        return false;
    for (std::size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != ext[i])
            return false;
    return true;
}

// GB18030 bytes of a UTF-8 name; the UTF-8 bytes themselves when a name is
// not valid UTF-8 (such names still sort, just by their raw bytes).
std::string Gb18030Key(const std::string &utf8)
{
    thread_local iconv_t cd = iconv_open("GB18030", "UTF-8");
    if (cd == iconv_t(-1))
        return utf8;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    std::string out(utf8.size() * 4 + 8, '\0');
    char *in = const_cast<char *>(utf8.data());
    std::size_t inLeft = utf8.size();
    char *dst = out.data();
    std::size_t outLeft = out.size();
    if (iconv(cd, &in, &inLeft, &dst, &outLeft) == std::size_t(-1))
        return utf8;
    out.resize(out.size() - outLeft);
    return out;
}

// Unsigned byte order (std::string's char may be signed).
bool BytesLess(const std::string &a, const std::string &b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    });
}

}  // namespace

std::uint32_t GetImageType(const std::string &name)
{
    for (const ImageFormat &f : ImageFormats())
        for (std::string_view ext : f.Extensions())
            if (f.Readable() && HasExtensionNoCase(name, ext))
                return f.type;
    return {};
}

bool ImageNameLess(const std::string &a, const std::string &b)
{
    return BytesLess(Gb18030Key(a), Gb18030Key(b));
}

std::string TrimFolder(const std::string &folder)
{
    std::string f = folder;
    while (f.size() > 1 && f.back() == '/')
        f.pop_back();
    return f;
}

namespace {

void SortForListing(std::vector<std::string> &names)
{
    // Keys computed once per name rather than once per comparison.
    std::vector<std::pair<std::string, std::string>> keyed;
    keyed.reserve(names.size());
    for (auto &n : names)
        keyed.emplace_back(Gb18030Key(n), std::move(n));
    std::sort(keyed.begin(), keyed.end(), [](const auto &x, const auto &y) { return BytesLess(x.first, y.first); });
    names.clear();
    for (auto &k : keyed)
        names.push_back(std::move(k.second));
}

// One pass over a folder ("/"-ended prefix): its image files (regular files
// only) and, when asked, the folders in it that are not hidden, both sorted.
void ReadFolder(const std::string &prefix, std::vector<std::string> &images, std::vector<std::string> *folders)
{
    DIR *d = opendir(prefix.c_str());
    if (!d)
        return;
    while (const dirent *e = readdir(d)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        const bool image = GetImageType(name) != 0;
        const bool maybeFolder = folders && name[0] != '.' &&
                                 (e->d_type == DT_DIR || e->d_type == DT_LNK || e->d_type == DT_UNKNOWN);
        if (!image && !maybeFolder)
            continue;
        struct stat st;
        if (stat((prefix + name).c_str(), &st) != 0)
            continue;
        if (image && S_ISREG(st.st_mode))
            images.push_back(name);
        else if (maybeFolder && S_ISDIR(st.st_mode))
            folders->push_back(name);
    }
    closedir(d);
    SortForListing(images);
    if (folders)
        SortForListing(*folders);
}

} // namespace

std::vector<std::string> ListImageFiles(const std::string &folder)
{
    std::vector<std::string> names;
    const std::string dir = TrimFolder(folder);
    if (!dir.empty())
        ReadFolder(dir == "/" ? dir : dir + "/", names, nullptr);
    return names;
}

std::string CurrentFolder()
{
    const char *pwd = std::getenv("PWD");
    if (pwd && pwd[0] == '/') {
        const std::string p = std::string(pwd) + "/";
        struct stat a, b;
        if (p.find("/./") == std::string::npos && p.find("/../") == std::string::npos && stat(pwd, &a) == 0 &&
            stat(".", &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino)
            return pwd;
    }
    std::string buf(256, '\0');
    while (!getcwd(buf.data(), buf.size())) {
        if (errno != ERANGE)
            return std::string();
        buf.resize(buf.size() * 2);
    }
    buf.resize(std::strlen(buf.c_str()));
    return buf;
}

std::string AbsolutePath(const std::string &path, const std::string &folder)
{
    if (path.empty() || path[0] == '/' || folder.empty())
        return path;
    std::string out = TrimFolder(folder);
    std::size_t pos = 0;
    while (pos <= path.size()) {
        const std::size_t slash = std::min(path.find('/', pos), path.size());
        const std::string part = path.substr(pos, slash - pos);
        pos = slash + 1;
        // A trailing "/" is kept: it says the name must be a folder.
        const bool last = pos > path.size();
        if (part.empty() && !last)
            continue;
        if (part == ".")
            continue;
        if (out.back() != '/')
            out += '/';
        out += part;
    }
    return out;
}

namespace {

struct FolderId {
    dev_t dev;
    ino_t ino;
    bool operator<(const FolderId &o) const { return dev != o.dev ? dev < o.dev : ino < o.ino; }
};

} // namespace

std::vector<TreeFile> ListImageTree(const std::string &folder, const std::string &skip)
{
    std::vector<TreeFile> files;
    std::set<FolderId> seen;
    struct stat st;
    if (!skip.empty() && stat(skip.c_str(), &st) == 0)
        seen.insert({st.st_dev, st.st_ino});
    // Depth first without recursion: a pending folder is its path and its
    // place relative to the top.
    std::vector<std::pair<std::string, std::string>> pending{{TrimFolder(folder), std::string()}};
    std::vector<std::string> images, subs;
    while (!pending.empty()) {
        auto [path, relative] = std::move(pending.back());
        pending.pop_back();
        if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !seen.insert({st.st_dev, st.st_ino}).second)
            continue;
        const std::string prefix = path == "/" ? path : path + "/";
        images.clear();
        subs.clear();
        ReadFolder(prefix, images, &subs);
        for (std::string &name : images)
            files.push_back({prefix + name, relative});
        for (auto it = subs.rbegin(); it != subs.rend(); ++it)
            pending.emplace_back(prefix + *it, relative.empty() ? *it : relative + "/" + *it);
    }
    return files;
}
