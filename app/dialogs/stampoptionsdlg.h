// The watermark group's further choices: where the watermark goes, its
// margin and opacity, a text size that follows the picture, a shadow, and a
// logo picture, with a sample of the first selected picture as it would be
// written.
#pragma once

#include <QDialog>
#include <QImage>
#include <QString>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTimer;

struct StampChoices {
    int position = 8; // the nine anchors row by row from the top left; 8 the lower right
    int margin = 10;  // pixels
    int opacity = 100;
    bool sizeOn = false; // the text's height a share of the picture's
    int sizePercent = 5;
    bool shadow = false;
    QString logoPath; // empty for none
    int logoSize = 20; // percent of the picture's width
};

class CStampOptionsDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int kMaxMargin = 10000;
    // The output as it would be written with the choices; a null image when
    // there is nothing to show.
    using Sample = std::function<QImage(const StampChoices &)>;

    CStampOptionsDlg(const StampChoices &choices, Sample sample, QWidget *parent = nullptr);
    StampChoices Choices() const;

    // Shows the dialog over `parent`; true, with `choices` changed, on OK.
    static bool Run(QWidget *parent, StampChoices &choices, Sample sample);

private:
    void OnBrowseLogo();
    void ScheduleSample();
    void ShowSample();

    Sample m_sample;
    QComboBox *m_position = nullptr;
    QSpinBox *m_margin = nullptr;
    QSpinBox *m_opacity = nullptr;
    QCheckBox *m_sizeOn = nullptr;
    QSpinBox *m_size = nullptr;
    QCheckBox *m_shadow = nullptr;
    QLineEdit *m_logo = nullptr;
    QSpinBox *m_logoSize = nullptr;
    QLabel *m_picture = nullptr;
    QTimer *m_timer = nullptr;
};
