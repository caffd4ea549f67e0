// Controls carry their id as objectName. A lookup with a wrong id or type is
// a programming fault: it stops the program naming the id, instead of
// leaving a control silently unplaced or unconnected.
#pragma once

#include <QString>
#include <QWidget>
#include <QtGlobal>

template <typename T = QWidget>
T *ControlById(const QWidget *parent, int id, Qt::FindChildOptions options = Qt::FindChildrenRecursively)
{
    T *w = parent->findChild<T *>(QString::number(id), options);
    if (!w)
        qFatal("no control with id %d of the expected type", id);
    return w;
}
