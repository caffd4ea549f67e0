// A small picture whose key colour (RGB 214, 211, 206, the classic dialog
// grey it was drawn on) lets the background show through.
#pragma once

#include <QLabel>

class TransparentBitmapStatic : public QLabel {
    Q_OBJECT
public:
    static constexpr QRgb kKeyColour = 0xFFD6D3CE; // RGB 214, 211, 206

    explicit TransparentBitmapStatic(QWidget *parent = nullptr);

    // The picture with every key-colour pixel made fully transparent.
    static QImage KeyOut(const QImage &picture);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    qint64 m_cachedKey = 0; // cacheKey of the picture m_keyed was made from
    QPixmap m_keyed;
};
