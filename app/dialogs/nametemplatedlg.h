// The rename group's further choice: output names made from a template of
// tokens instead of prefix and suffix.
// The name the first selected file would get shows as the template is typed.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;

struct NameChoices {
    bool useTemplate = false;
    QString nameTemplate = QStringLiteral("{name}_{n:3}");
};

class CNameTemplateDlg : public QDialog {
    Q_OBJECT
public:
    // What is wrong with a template's own text, empty when nothing is.
    using Check = std::function<QString(const QString &nameTemplate)>;
    // The name a file would get, empty when there is no file to show.
    using Example = std::function<QString(const NameChoices &choices)>;

    CNameTemplateDlg(const NameChoices &choices, Check check, Example example, QWidget *parent = nullptr);
    NameChoices Choices() const;

    static bool Run(QWidget *parent, NameChoices &choices, Check check, Example example);

private:
    void Refresh();
    void OnOK();

    Check m_check;
    Example m_example;
    QCheckBox *m_use = nullptr;
    QLineEdit *m_template = nullptr;
    QLabel *m_sample = nullptr;
};
