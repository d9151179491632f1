#include "app/StaticLink.h"

#include <QApplication>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QStyleOptionFocusRect>
#include <QThreadPool>
#include <QUrl>

#include "platform/Logging.h"

CStaticLink::CStaticLink(const QString& caption, QWidget* parent) : QLabel(caption, parent)
{
    QFont underlined = font();
    underlined.setUnderline(true);
    setFont(underlined);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setTextFormat(Qt::PlainText);
    UpdateColour();
}

void CStaticLink::Open()
{
    if (m_opening) {
        return;
    }
    if (m_link.isEmpty()) {
        m_link = text();
    }
    m_opening = true;
    const QUrl url = QUrl::fromUserInput(m_link);
    // The guard is only read on the user-interface thread; the pool thread merely carries it.
    QPointer<CStaticLink> self(this);
    QThreadPool::globalInstance()->start([url, self] {
        const bool opened = url.isValid() && QDesktopServices::openUrl(url);
        qCDebug(lcApp) << "link" << url.toString() << (opened ? "opened" : "not opened");
        if (QCoreApplication* app = QCoreApplication::instance()) {
            QMetaObject::invokeMethod(
                app,
                [self, opened] {
                    if (self) {
                        self->Finished(opened);
                    }
                },
                Qt::QueuedConnection);
        }
    });
}

void CStaticLink::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        Open();
        return;
    }
    QLabel::mouseReleaseEvent(event);
}

void CStaticLink::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        Open();
        return;
    }
    QLabel::keyPressEvent(event);
}

void CStaticLink::paintEvent(QPaintEvent* event)
{
    QLabel::paintEvent(event);
    if (hasFocus()) {
        QPainter painter(this);
        QStyleOptionFocusRect option;
        option.initFrom(this);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void CStaticLink::Finished(bool opened)
{
    m_opening = false;
    if (opened) {
        m_visited = true;
        UpdateColour();
    } else {
        QApplication::beep();
    }
    emit openFinished(opened);
}

void CStaticLink::UpdateColour()
{
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, m_visited ? kVisitedColour : kUnvisitedColour);
    setPalette(colours);
}
