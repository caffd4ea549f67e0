// Answers a modal window from a timer once it is up, so a test can run the
// code that opens it.
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <functional>

template <typename T> class ModalAnswer {
public:
    explicit ModalAnswer(std::function<void(T *)> answer) : m_answer(std::move(answer))
    {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            T *window = qobject_cast<T *>(QApplication::activeModalWidget());
            if (!window || !window->isVisible() || window == m_last)
                return;
            m_last = window;
            ++count;
            m_answer(window);
        });
        m_timer.start(5);
    }
    int count = 0;

private:
    std::function<void(T *)> m_answer;
    QTimer m_timer;
    T *m_last = nullptr;
};

template <typename T = QWidget> T *ById(QWidget *parent, int id)
{
    return parent->findChild<T *>(QString::number(id));
}
