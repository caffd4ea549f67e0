// velmora-viewer-bench: times the full-screen viewer's own code on large
// photos: from opening the viewer on a picture to its first painted frame
// (fitted to the screen and at actual size; nothing read before), then
// until the whole picture is in; a page turn to the next picture once the
// one shown has been on screen long enough for its neighbours to be read
// ahead, and without that pause; and the zoom steps. The painting is forced
// at once (repaint), so each figure is what a user waits before the window
// shows the result. Each first frame is also checked for colour: a photo
// whose first look came grey while the whole of it is coloured counts
// against the first paint.
//   velmora-viewer-bench [--rounds N] FILE...
#include "viewer/previewdlg.h"
#include "imaging/cximage.h"
#include "imaging/runresources.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdint>
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

// Lets the viewer finish what it does in the background.
double Settle(CPreviewDlg &dlg)
{
    QElapsedTimer t;
    t.start();
    while (dlg.IsReading())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    return double(t.nsecsElapsed()) / 1e6;
}

// How coloured a picture is: the mean spread between a pixel's largest and
// smallest channel, over every fourth pixel of every fourth row.
double Colourfulness(const CxImage &img)
{
    if (!img.IsValid() || img.GetBpp() != 24)
        return 0;
    double sum = 0;
    long long n = 0;
    for (int y = 0; y < img.GetHeight(); y += 4) {
        const std::uint8_t *row = img.GetBits(y);
        for (int x = 0; x < img.GetWidth(); x += 4, ++n) {
            const std::uint8_t *p = row + 3 * x;
            sum += std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]});
        }
    }
    return n ? sum / double(n) : 0;
}

// First frames in colour: at least half as coloured as the whole picture
// (a grey photo passes either way).
struct ColourCheck {
    int frames = 0, coloured = 0;
    void Add(double first, double whole)
    {
        ++frames;
        coloured += first >= 0.5 * whole ? 1 : 0;
    }
    void Print(const char *what) const
    {
        std::printf("  %-40s %5d of %d  %s\n", what, coloured, frames,
                    coloured == frames ? "holds" : "MISSED");
    }
};

void Print(const char *what, Figures &f, double target)
{
    const double m = f.Median();
    std::printf("  %-40s %8.1f ms  (%zu samples, worst %.1f)", what, m, f.ms.size(),
                f.ms.empty() ? 0.0 : f.ms.back());
    if (target > 0)
        std::printf("  target <= %.0f ms: %s", target, m <= target ? "holds" : "MISSED");
    std::printf("\n");
}

// --rounds N and two files or more; false (usage said) otherwise.
bool ParseArguments(int argc, char **argv, int &rounds, QStringList &files)
{
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--rounds" && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
        else if (!a.empty() && a[0] != '-')
            files << QString::fromLocal8Bit(argv[i]);
        else {
            std::fputs("Usage: velmora-viewer-bench [--rounds N] FILE...\n", stderr);
            return false;
        }
    }
    if (files.size() < 2) {
        std::fputs("velmora-viewer-bench: give two files or more\n", stderr);
        return false;
    }
    return true;
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
    if (!ParseArguments(argc, argv, rounds, files))
        return 2;

    CPreviewDlg dlg;
    QStringList list = files;
    dlg.SetFileList(&list);
    dlg.SetOpenMode(CPreviewDlg::MODE_FOLDER);
    dlg.SetStartIndex(0);
    dlg.show();
    QApplication::processEvents();
    Settle(dlg);
    const viewgeom::Size screen = dlg.GetScreenSize();
    std::printf("Viewer on a %d x %d screen, %lld files, %d rounds\n", screen.width, screen.height,
                static_cast<long long>(files.size()), rounds);

    Figures fitted, fittedWhole, actual, actualWhole, next, nextRushed, zoom, zoomSettled;
    ColourCheck fittedColour, actualColour;
    // Opens the viewer on picture i afresh: nothing of it read before.
    auto open = [&](int i, Figures &first, Figures &whole, ColourCheck *colour) {
        dlg.reject();
        QApplication::processEvents();
        dlg.SetStartIndex(i);
        QElapsedTimer total;
        total.start();
        first.Add(Time(dlg, [&] { dlg.show(); }));
        const double firstColour = colour ? Colourfulness(dlg.GetImage()) : 0;
        Settle(dlg);
        whole.Add(double(total.nsecsElapsed()) / 1e6);
        if (colour)
            colour->Add(firstColour, Colourfulness(dlg.GetImage()));
    };
    for (int r = 0; r < rounds; ++r) {
        dlg.OnFit();
        for (int i = 0; i < files.size(); ++i)
            open(i, fitted, fittedWhole, &fittedColour);
        dlg.OnActualSize();
        for (int i = 0; i < files.size(); ++i)
            open(i, actual, actualWhole, &actualColour);
        // Page turns after a look at each picture, then in a rush.
        Figures unused, unusedWhole;
        open(0, unused, unusedWhole, nullptr);
        for (int i = 1; i < files.size(); ++i) {
            next.Add(Time(dlg, [&] { dlg.OnNextImage(); }));
            Settle(dlg);
        }
        open(0, unused, unusedWhole, nullptr);
        for (int i = 1; i < files.size(); ++i)
            nextRushed.Add(Time(dlg, [&] { dlg.OnNextImage(); }));
        Settle(dlg);
        // Zoom steps in and out on the last picture, one after another.
        for (int k = 0; k < 4; ++k)
            zoom.Add(Time(dlg, [&] { dlg.OnZoomIn(); }));
        for (int k = 0; k < 4; ++k)
            zoom.Add(Time(dlg, [&] { dlg.OnZoomOut(); }));
        zoomSettled.Add(Settle(dlg));
    }
    Print("first paint, fitted", fitted, 100);
    fittedColour.Print("  first frame in colour, fitted");
    Print("  whole picture in, fitted", fittedWhole, 0);
    Print("first paint, actual size", actual, 100);
    actualColour.Print("  first frame in colour, actual size");
    Print("  whole picture in, actual size", actualWhole, 0);
    Print("next picture, after a look", next, 100);
    Print("next picture, in a rush", nextRushed, 0);
    Print("zoom step", zoom, 16);
    Print("  sharp again after the last step", zoomSettled, 0);
    dlg.reject();
    return 0;
}
