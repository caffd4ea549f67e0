// The line that tells where the viewer is: file name, position and zoom, in
// a translucent rounded box at the bottom left corner over the picture. It
// shows for a moment after each change, or stays while pinned.
#pragma once

#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

class QFontMetrics;
class QPainter;

// Lines of text in the viewer's overlay style: a translucent rounded box,
// light text. The size a box needs for them, and the box drawn at rect.
QSize OverlayBoxSize(const QFontMetrics &metrics, const QStringList &lines);
void PaintOverlayBox(QPainter &p, const QRect &rect, const QStringList &lines);

class CViewerInfo : public QWidget {
    Q_OBJECT
public:
    static constexpr int kShowMs = 1500;

    explicit CViewerInfo(QWidget *parent);

    // "n / N   zoom%" for index (from 0) of count; a negative percent leaves
    // the zoom out (the error picture has none).
    static QString Where(int index, int count, int percent);

    // Shows "name   where" now; unless pinned it hides kShowMs later. Pinned
    // before the first Flash, it waits for that.
    void Flash(const QString &name, const QString &where);
    void SetPinned(bool pinned);
    bool IsPinned() const { return m_bPinned; }
    QString GetText() const;
    // What the box shows: GetText() with the name losing its middle when the
    // box, at its current width, cannot hold all of it.
    QString GetShownText() const;
    // Whether the moment after a change is running out.
    bool IsCountingDown() const { return m_hideTimer.isActive(); }

public slots:
    // The moment is over: hides unless pinned.
    void Expire();

protected:
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Place();
    // The width of name and tail laid side by side, measured as the text is
    // shown: each part on its own (rounded widths do not add up exactly).
    int TextWidth(const QFontMetrics &metrics) const;

    QString m_strName;
    QString m_strWhere;
    bool m_bPinned = false;
    QTimer m_hideTimer;
};
