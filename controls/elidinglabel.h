// A label that shows a text too long for it cut with "…" at the end, the
// whole text in its tool tip; short texts show as they are.
#pragma once

#include <QLabel>

class CElidingLabel : public QLabel {
    Q_OBJECT
public:
    explicit CElidingLabel(QWidget *parent = nullptr);

    void SetFullText(const QString &text);
    const QString &FullText() const { return m_full; }

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void Elide();

    QString m_full;
};
