#include "app/StaticLink.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <vector>

#include <QApplication>
#include <QDesktopServices>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyleOptionFocusRect>
#include <QTimer>
#include <QUrl>

#include "platform/Logging.h"
#include "platform/Worker.h"

namespace {

constexpr int kPending = -1;
constexpr int kFailed = 0;
constexpr int kOpened = 1;
constexpr int kPollMs = 20;

// The opening threads; used on the user-interface thread only, joined at exit.
std::vector<std::unique_ptr<Worker>>& Openings()
{
    static std::vector<std::unique_ptr<Worker>> openings;
    return openings;
}

} // namespace

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
    // The opening thread only writes the outcome into the shared state; the control polls it
    // from its own timer, which goes with the control when the box is closed first.
    auto outcome = std::make_shared<std::atomic<int>>(kPending);
    auto& openings = Openings();
    std::erase_if(openings, [](const std::unique_ptr<Worker>& w) { return w->IsFinished(); });
    auto worker = std::make_unique<Worker>();
    const QUrl url = QUrl::fromUserInput(m_link);
    if (!worker->Start([url, outcome] {
            const bool opened = url.isValid() && QDesktopServices::openUrl(url);
            qCDebug(lcApp) << "link" << url.toString() << (opened ? "opened" : "not opened");
            outcome->store(opened ? kOpened : kFailed, std::memory_order_release);
        })) {
        Finished(false);
        return;
    }
    openings.push_back(std::move(worker));
    m_opening = true;
    auto* poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this, poll, outcome] {
        const int result = outcome->load(std::memory_order_acquire);
        if (result != kPending) {
            poll->deleteLater();
            Finished(result == kOpened);
        }
    });
    poll->start(kPollMs);
}

void CStaticLink::WaitForOpenings()
{
    Openings().clear();
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
