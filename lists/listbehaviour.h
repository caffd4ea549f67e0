// What the folder list and the selected list do alike, whatever view they
// are: Ctrl+A selects every row, the context menu is the list's own, a drag
// is taken only where the list accepts what it carries, and the selection
// keeps its colours while another control has the focus.
#pragma once

#include <QAbstractItemView>
#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDragMoveEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPalette>

#include <functional>
#include <initializer_list>
#include <utility>

class QMimeData;

template <class View>
class ListBehaviour : public View {
public:
    using View::View;

    // Every row selected, the first one current.
    virtual void SelectAllRows() = 0;
    virtual QMenu *CreateContextMenu(QWidget *parent) = 0;

protected:
    using Command = std::pair<int, const char *>;

    virtual bool AcceptsDrag(const QMimeData *data) const = 0;
    // The Delete key, before the view's own handling.
    virtual void OnDeleteKey() {}

    void KeepSelectionColours()
    {
        QPalette p = this->palette();
        for (auto role : {QPalette::Highlight, QPalette::HighlightedText})
            p.setColor(QPalette::Inactive, role, p.color(QPalette::Active, role));
        this->setPalette(p);
    }

    // One action a command, named by its id, raising it through `raise`;
    // the texts are translated in the list's own class.
    void AddCommands(QMenu *menu, std::initializer_list<Command> commands, std::function<void(int)> raise) const
    {
        for (const auto &[id, text] : commands) {
            QAction *action = menu->addAction(QCoreApplication::translate(this->metaObject()->className(), text));
            action->setObjectName(QString::number(id));
            QObject::connect(action, &QAction::triggered, menu, [raise, id = id] { raise(id); });
        }
    }

    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() == Qt::Key_A && (event->modifiers() & Qt::ControlModifier)) {
            SelectAllRows();
            event->accept();
            return;
        }
        if (event->key() == Qt::Key_Delete)
            OnDeleteKey();
        View::keyPressEvent(event);
    }

    void contextMenuEvent(QContextMenuEvent *event) override
    {
        QMenu *menu = CreateContextMenu(this);
        menu->exec(event->globalPos());
        delete menu;
    }

    void dragEnterEvent(QDragEnterEvent *event) override { TakeDrag(event); }
    void dragMoveEvent(QDragMoveEvent *event) override { TakeDrag(event); }

private:
    void TakeDrag(QDragMoveEvent *event)
    {
        if (AcceptsDrag(event->mimeData()))
            event->acceptProposedAction();
        else
            event->ignore();
    }
};
