// A text that is a link: drawn in the link colour and underlined, with a
// pointing-hand cursor and a tooltip naming the target; a click opens the
// target (a web address, or a local file or folder) with the desktop's
// handler. An empty text shows the target; an empty target takes the text.
#pragma once

#include "imaging/cxtypes.h"

#include <QLabel>
#include <QUrl>

#include <functional>

class CLinkLabel : public QLabel {
    Q_OBJECT

public:
    using Opener = std::function<bool(const QUrl &)>;

    static constexpr COLORREF kLinkColour = RGB(0, 0, 238);

    explicit CLinkLabel(QWidget *parent = nullptr);
    explicit CLinkLabel(const QString &text, QWidget *parent = nullptr);

    void SetLinkTarget(const QString &target);
    QString GetLinkTarget() const { return m_target; }

    // Hides QLabel::setText: applies the text and target rules and fits the
    // window to the text.
    void setText(const QString &text);

    void SetLinkColour(COLORREF colour);
    COLORREF GetLinkColour() const { return m_colour; }
    void SetUnderline(bool underline);
    // With fitting on (the default) the window shrinks or grows to its text:
    // a centred label keeps its centre, a right-aligned one its right edge,
    // any other its left edge; vertically centred text keeps its middle,
    // other text its top.
    void SetFitToText(bool fit);
    void FitToText();

    // Opens the target; false when there is none or the desktop refused it.
    bool OpenTarget();
    // Replaces the desktop's opener (QDesktopServices::openUrl).
    void SetOpener(Opener opener);

    // A local path becomes a file URL; anything with a scheme is kept; a bare
    // address ("example.org") becomes a web address.
    static QUrl UrlForTarget(const QString &target);

protected:
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void ApplyRules();
    QSize TextSize() const;

    QString m_target;
    QString m_ownText; // as set, before the rules
    COLORREF m_colour = kLinkColour;
    bool m_underline = true;
    bool m_fitToText = true;
    bool m_pressed = false;
    Opener m_opener;
};
