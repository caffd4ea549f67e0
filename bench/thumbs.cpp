// velmora-thumbs: makes the folder listing's 96 x 72 thumbnails of the image
// files in a folder and writes each as a JPEG (tn_NAME.jpg, quality 75), the
// way a thumbnailer writes them, so the benchmark can time the listing's
// thumbnail path against other tools.
#include "imaging/cximage.h"
#include "imaging/formats.h"
#include "convert/imagefiles.h"
#include "imaging/runresources.h"
#include "imaging/thumbnail.h"

#include <QDir>
#include <QImage>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

int Usage()
{
    std::fputs("Usage: velmora-thumbs [--jobs N] --out DIR FOLDER\n", stderr);
    return 2;
}

bool WriteThumbnail(const std::string &source, const std::string &outDir)
{
    QImage thumb;
    if (!MakeThumbnail(source, int(GetImageType(source)), thumb).valid)
        return false;
    std::string name = source.substr(source.rfind('/') + 1);
    name = name.substr(0, name.rfind('.'));
    CxImage img;
    if (!img.FromQImage(thumb))
        return false;
    img.SetJpegQuality(75);
    return img.Save((outDir + "/tn_" + name + ".jpg").c_str(), TypeFromExtension("jpg"));
}

} // namespace

int main(int argc, char **argv)
{
    ApplyProcessMemorySettings();
    int jobs = int(std::max(1u, std::thread::hardware_concurrency()));
    std::string out, folder;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--jobs" && i + 1 < argc)
            jobs = std::max(1, std::atoi(argv[++i]));
        else if (a == "--out" && i + 1 < argc)
            out = argv[++i];
        else if (folder.empty() && !a.empty() && a[0] != '-')
            folder = a;
        else
            return Usage();
    }
    if (out.empty() || folder.empty())
        return Usage();
    // Relative names are joined to the current folder, as velmora-batch does.
    const std::string here = CurrentFolder();
    out = AbsolutePath(out, here);
    folder = AbsolutePath(folder, here);
    if (out[0] != '/' || folder[0] != '/') {
        std::fputs("velmora-thumbs: cannot tell the current folder\n", stderr);
        return 1;
    }
    if (!QDir().mkpath(QString::fromStdString(out))) {
        std::fprintf(stderr, "velmora-thumbs: cannot create the folder %s\n", out.c_str());
        return 1;
    }
    if (jobs == 1)
        CxImage::SetThreadLimit(1);

    const std::string trimmed = TrimFolder(folder);
    std::vector<std::string> files;
    for (const std::string &name : ListImageFiles(trimmed))
        files.push_back(trimmed + "/" + name);

    std::atomic<std::size_t> next{0};
    std::atomic<int> failed{0};
    auto work = [&] {
        CxImage::SetThreadLimit(1);
        for (std::size_t i; (i = next++) < files.size();)
            if (!WriteThumbnail(files[i], out))
                ++failed;
    };
    if (jobs == 1) {
        work();
    } else {
        std::vector<std::thread> threads;
        for (int t = 0; t < jobs; ++t)
            threads.emplace_back(work);
        for (std::thread &t : threads)
            t.join();
    }
    if (failed)
        std::fprintf(stderr, "velmora-thumbs: %d files failed\n", failed.load());
    return failed ? 1 : 0;
}
