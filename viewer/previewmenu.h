// The viewer's context menu: one popup per open mode, its items' states
// following what is on display.
#pragma once

class QMenu;
class QWidget;

struct PreviewMenuState {
    int mode = 0;
    bool hasFile = false; // the index names an entry of the list
    bool atFirst = false;
    bool atLast = false;
    bool pictureMode = false; // an animation or the error picture is shown
    bool error = false;       // the error picture is shown
    bool zoomed = false;
    bool fullSize = false;
    bool slideShow = false;
    bool outputMode = false; // the actual output is shown
};

// Items carry their command id as data and as objectName; nullptr for an
// unknown mode.
QMenu *BuildPreviewMenu(QWidget *parent, const PreviewMenuState &state);
