// velmora-viewer-bench: times the full-screen viewer's own code on large
// photos: from asking for a picture to its first painted frame (fitted to
// the screen and at actual size), a page turn to the next picture, and the
// zoom steps. The painting is forced at once (repaint), so each figure is
// what a user waits before the window shows the result.
//   velmora-viewer-bench [--rounds N] FILE...
#include "previewdlg.h"
#include "runresources.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Figures {
    std::vector<double> ms;
    void Add(double v) { ms.push_back(v); }
    double Median()
    {
        std::sort(ms.begin(), ms.end());
        return ms.empty() ? 0 : ms[ms.size() / 2];
    }
};

double Time(CPreviewDlg &dlg, const std::function<void()> &step)
{
    QElapsedTimer t;
    t.start();
    step();
    dlg.repaint();
    return double(t.nsecsElapsed()) / 1e6;
}

void Print(const char *what, Figures &f, double target)
{
    const double m = f.Median();
    std::printf("  %-34s %8.1f ms  (%zu samples, worst %.1f)  target <= %.0f ms: %s\n", what, m, f.ms.size(),
                f.ms.empty() ? 0.0 : f.ms.back(), target, m <= target ? "holds" : "MISSED");
}

} // namespace

int main(int argc, char **argv)
{
    // The viewer keeps its view mode in the settings: a scratch home keeps
    // the user's own out of this.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    ApplyProcessMemorySettings();
    QApplication app(argc, argv);

    int rounds = 3;
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (!a.empty() && a[0] != '-')
            files << QString::fromLocal8Bit(argv[i]);
        else {
            std::fputs("Usage: velmora-viewer-bench [--rounds N] FILE...\n", stderr);
            return 2;
        }
    }
    if (files.size() < 2) {
        std::fputs("velmora-viewer-bench: give two files or more\n", stderr);
        return 2;
    }

    CPreviewDlg dlg;
    QStringList list = files;
    dlg.SetFileList(&list);
    dlg.SetOpenMode(CPreviewDlg::MODE_FOLDER);
    dlg.SetStartIndex(0);
    dlg.show();
    QApplication::processEvents();
    const viewgeom::Size screen = dlg.GetScreenSize();
    std::printf("Viewer on a %d x %d screen, %lld files, %d rounds\n", screen.width, screen.height,
                static_cast<long long>(files.size()), rounds);

    Figures fitted, actual, next, zoom;
    for (int r = 0; r < rounds; ++r) {
        for (int i = 0; i < files.size(); ++i) {
            dlg.OnFit();
            fitted.Add(Time(dlg, [&] { dlg.ShowImage(i); }));
            dlg.OnActualSize();
            actual.Add(Time(dlg, [&] { dlg.ShowImage(i); }));
        }
        // Page turns as a user makes them, one after another.
        dlg.ShowImage(0);
        for (int i = 1; i < files.size(); ++i)
            next.Add(Time(dlg, [&] { dlg.OnNextImage(); }));
        // Zoom steps in and out on the last picture.
        for (int k = 0; k < 4; ++k)
            zoom.Add(Time(dlg, [&] { dlg.OnZoomIn(); }));
        for (int k = 0; k < 4; ++k)
            zoom.Add(Time(dlg, [&] { dlg.OnZoomOut(); }));
    }
    Print("first paint, fitted", fitted, 150);
    Print("first paint, actual size", actual, 150);
    Print("next picture", next, 100);
    Print("zoom step", zoom, 16);
    dlg.reject();
    return 0;
}
