// Test entry: a GUI application object (offscreen) exists for the whole run,
// since fonts and text drawing need one. Settings, trash, caches and run
// journals go to a scratch folder, never the user's own.
#include <QApplication>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char **argv)
{
    if (qgetenv("QT_QPA_PLATFORM").isEmpty())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home(QDir::tempPath() + "/velmora-home-XXXXXX");
    if (!home.isValid())
        return 1;
    for (const char *var : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME"}) {
        const QString dir = home.path() + "/" + var;
        QDir().mkpath(dir);
        qputenv(var, dir.toUtf8());
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
