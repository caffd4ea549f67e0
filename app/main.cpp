#include "velmoraapp.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication qapp(argc, argv);
    CVelmoraApp app;
    app.InitInstance();
    return 0;
}
