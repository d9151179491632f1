#pragma once

#include <QColor>
#include <QLabel>

// A text that works as a hyperlink: underlined, blue until it was opened and purple after,
// with a hand cursor. A click (or Space while it has the focus) opens its address, or its own
// caption when no address is set, with the desktop's handler. The opening runs on a thread
// of its own, because some desktops answer only when the browser has started; the control
// learns the outcome on the user-interface thread, and is left alone when it is gone by then. When
// nothing can open the address it beeps and stays unvisited.
class CStaticLink : public QLabel
{
    Q_OBJECT

public:
    static constexpr QColor kUnvisitedColour{0, 0, 255};
    static constexpr QColor kVisitedColour{128, 0, 128};

    explicit CStaticLink(const QString& caption, QWidget* parent = nullptr);

    // The address to open; empty: the caption is opened.
    void SetLink(const QString& link) { m_link = link; }
    QString Link() const { return m_link; }
    // True once the address was opened.
    bool IsVisited() const { return m_visited; }
    // Starts opening the address, unless an opening is still under way. Returns at once;
    // openFinished follows.
    void Open();
    // Waits for every opening thread of the program to end (tests; exit does it as well).
    static void WaitForOpenings();

signals:
    // The outcome of Open, on the user-interface thread (after the beep when it failed).
    void openFinished(bool opened);

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // The text, and the focus frame while a keyboard user is on the link.
    void paintEvent(QPaintEvent* event) override;

private:
    void Finished(bool opened);
    void UpdateColour();

    QString m_link;
    bool m_visited = false;
    bool m_opening = false;
};
