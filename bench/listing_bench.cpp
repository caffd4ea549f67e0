// velmora-listing-bench: the folder listing as the window shows it, on one
// folder listed twice: the first visit decodes every picture and fills the
// thumbnail cache, the second takes its cards from the cache. Prints the
// time from listing the folder to the last card, for each visit.
//   velmora-listing-bench FOLDER
#include "lists/folderlistctrl.h"
#include "lists/imagelists.h"
#include "lists/selectedlistctrl.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <cstdio>

namespace {

double ListOnce(CImageLists &lists, const QString &folder)
{
    QElapsedTimer wall;
    wall.start();
    lists.ListFolder(folder);
    while (lists.IsLoaderRunning())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return double(wall.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char **argv)
{
    // An empty cache of its own: the first visit starts from nothing, and
    // the user's cache and settings are left alone.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("XDG_CACHE_HOME", (home.path() + "/cache").toUtf8());
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("Usage: velmora-listing-bench FOLDER\n", stderr);
        return 2;
    }
    const QString folder = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();

    QWidget window;
    auto *layout = new QVBoxLayout(&window);
    auto *folderList = new FolderListCtrl(&window);
    auto *selected = new SelectedListCtrl(&window);
    auto *count = new QLabel(&window);
    auto *bar = new QProgressBar(&window);
    for (QWidget *w : {static_cast<QWidget *>(folderList), static_cast<QWidget *>(count),
                       static_cast<QWidget *>(selected), static_cast<QWidget *>(bar)})
        layout->addWidget(w);
    window.resize(1000, 700);
    window.show();
    CImageLists lists(folderList, selected, count, nullptr, bar, &window);

    const double first = ListOnce(lists, folder);
    const double second = ListOnce(lists, folder);
    std::printf("Folder listing of %zu pictures: first visit %.2f s (decoded, cached), second %.2f s "
                "(from the cache; target under 1 s: %s)\n",
                lists.FileNames().size(), first, second, second < 1.0 ? "holds" : "MISSED");
    return 0;
}
