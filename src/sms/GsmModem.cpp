#include "sms/GsmModem.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "eventlog/EventSink.h"
#include "platform/CodePage.h"
#include "platform/Logging.h"
#include "platform/Profile.h"
#include "platform/ProfileKeys.h"
#include "platform/StringIds.h"
#include "platform/StringTable.h"
#include "platform/Tick.h"

namespace {

// The driver's own lines, fixed texts whatever the language.
const QString kModem = QStringLiteral("短信猫");
const QString kToNumber = QStringLiteral("短信猫向号码");
const QString kSendMessage = QStringLiteral("发送消息：");
const QString kSucceeded = QStringLiteral("成功！");
const QString kFailed = QStringLiteral("失败！");
const QString kSendWarning = QStringLiteral("连续发送失败次数超标,疑似欠费,请确认！");
const QString kReceiveWarning = QStringLiteral("连续收取短信失败次数超标,疑似欠费,请确认！");
const QString kReceived = QStringLiteral(" 接收到消息：");
const QString kDeleted = QStringLiteral("从收件箱删除1条短信");
const QString kDeleteFailed = QStringLiteral("删除短信失败");
const QString kConnected = QStringLiteral("连接GSM-MODEM成功！");
const QString kOpenPort = QStringLiteral("Open Port: ");

const char* StateName(ModemState s)
{
    switch (s) {
    case ModemState::Init:
        return "Init";
    case ModemState::Idle:
        return "Idle";
    case ModemState::Send:
        return "Send";
    case ModemState::SendWait:
        return "SendWait";
    case ModemState::SendRetryPause:
        return "SendRetryPause";
    case ModemState::List:
        return "List";
    case ModemState::ListWait:
        return "ListWait";
    case ModemState::Delete:
        return "Delete";
    case ModemState::DeleteWait:
        return "DeleteWait";
    case ModemState::DeleteRetryPause:
        return "DeleteRetryPause";
    }
    return "?";
}

QString Wide(const char* ansi, std::size_t size)
{
    return CodePageToWide(QByteArray(ansi, static_cast<qsizetype>(strnlen(ansi, size))),
                          CodePage::Ansi);
}

// Copies 8-bit text into a record field with its terminator, cut to the field.
void CopyField(const QByteArray& bytes, char* field, std::size_t size)
{
    const std::size_t n = std::min(static_cast<std::size_t>(bytes.size()), size - 1);
    std::memcpy(field, bytes.constData(), n);
    field[n] = '\0';
}

bool Contains(const char* text, std::size_t length, std::string_view what)
{
    return std::string_view(text, length).find(what) != std::string_view::npos;
}

// The timing with every value left to the profile read from it.
ModemTiming FromProfile(ModemTiming t)
{
    if (t.sendWaitMs < 0) {
        t.sendWaitMs = std::max(GetProfileInt(kProfileSmsSendTimeout), 0);
    }
    if (t.maxParts < 0) {
        t.maxParts = GetProfileInt(kProfileSmsMaxParts);
    }
    t.maxParts = std::clamp(t.maxParts, 1, kSmsMaxParts);
    return t;
}

} // namespace

struct CGsmModem::WorkerState
{
    ModemState state = ModemState::Init;
    std::uint64_t mark = 0;
    std::unique_ptr<SmsRecord[]> records = std::make_unique<SmsRecord[]>(kMaxListing);
    int recordCount = 0;
    int deletePosition = 0;
    OutgoingSms sending;
    int part = 0;        // the part of sending on its way
    SmsRecord pdu{};     // that part as the codec takes it
    bool inHand = false; // sending holds a message not yet confirmed or given up
    std::unique_ptr<ReplyBuffer> reply = std::make_unique<ReplyBuffer>();
};

void CGsmModem::ReplyBuffer::Clear()
{
    length = 0;
    std::memset(text, 0, sizeof text);
}

CGsmModem::CGsmModem(const QString& portName, unsigned baudRate, unsigned byteSize,
                     unsigned stopBits, unsigned parity, const ModemTiming& timing,
                     std::unique_ptr<CGsmModem> predecessor, SmsFinished finished)
    : m_portName(portName), m_baudRate(baudRate), m_byteSize(byteSize), m_parity(parity),
      m_stopBits(stopBits), m_timing(FromProfile(timing)), m_finished(std::move(finished)),
      m_predecessor(std::move(predecessor))
{
    if (m_predecessor) {
        m_predecessor->RequestStop();
    }
    StartWorker();
}

CGsmModem::~CGsmModem()
{
    StopWorker();
    ClosePort();
}

QString CGsmModem::SmscNumber() const
{
    std::lock_guard lock(m_smscLock);
    return m_smscNumber;
}

int CGsmModem::PendingCount() const
{
    std::lock_guard lock(m_sendLock);
    return static_cast<int>(m_sendQueue.size());
}

void CGsmModem::QueueSms(const QString& telephone, const QString& text, std::uint64_t outboxId,
                         bool resent)
{
    if (text.isEmpty()) {
        Finish(outboxId);
        return;
    }
    OutgoingSms sms;
    sms.outboxId = outboxId;
    sms.resent = resent;
    sms.parts = SplitSmsText(text, m_timing.maxParts);
    const QString body = sms.parts.join(QString());
    const QString destination = NormalizeNumber(telephone);
    if (!IsValidSmsNumber(destination)) {
        EventSink(EventType::Error, FormatText(LoadString(kIdsSmsBadNumber), {telephone, body}));
        Finish(outboxId);
        return;
    }

    // The SMSC number and the text go in when the message is sent: the modem may not have
    // told its number yet.
    SmsRecord& record = sms.record;
    CopyField(WideToCodePage(destination, CodePage::Ansi), record.TPA, sizeof record.TPA);
    record.PID = 0;
    record.DCS = kDcsUcs2;

    {
        std::lock_guard lock(m_sendLock);
        if (resent || std::count_if(m_sendQueue.begin(), m_sendQueue.end(),
                                    [](const auto& s) { return !s.resent; }) < kSendRingSize) {
            record.Index = m_nextIndex;
            m_sendQueue.push_back(std::move(sms));
            if (++m_nextIndex == 0) {
                m_nextIndex = 1;
            }
            return;
        }
    }
    EventSink(EventType::Error, FormatText(LoadString(kIdsSmsQueueFull), {body, telephone}));
    Finish(outboxId);
}

void CGsmModem::Finish(std::uint64_t outboxId) const
{
    if (outboxId != 0 && m_finished) {
        m_finished(outboxId);
    }
}

bool CGsmModem::TakeNext(OutgoingSms& sms)
{
    std::lock_guard lock(m_sendLock);
    if (m_sendQueue.empty()) {
        return false;
    }
    sms = std::move(m_sendQueue.front());
    m_sendQueue.pop_front();
    return true;
}

bool CGsmModem::OpenPort()
{
    if (m_port.IsOpen()) {
        return true;
    }
    if (!m_port.Open(m_portName, m_baudRate, m_byteSize, m_parity, m_stopBits)) {
        return false; // missing or busy: the worker tries again
    }
    SerialTimeouts t;
    t.intervalMs = m_timing.readIntervalMs >= 0
                       ? m_timing.readIntervalMs
                       : static_cast<int>(35000 / std::max(m_baudRate, 1u));
    t.readMultiplierMs = m_timing.readMultiplierMs;
    t.readConstantMs = m_timing.readConstantMs;
    t.writeMultiplierMs = m_timing.writeMultiplierMs;
    t.writeConstantMs = m_timing.writeConstantMs;
    m_port.SetTimeouts(t);
    qCDebug(lcSms) << "opened" << m_portName << "on" << m_port.DevicePath();
    EventSink(EventType::Information, kOpenPort + m_portName);
    return true;
}

bool CGsmModem::ClosePort()
{
    return m_port.Close();
}

bool CGsmModem::CheckLost()
{
    if (!m_port.Lost()) {
        return false;
    }
    ClosePort();
    m_needInit = true; // whatever comes back on the port is set up anew
    EventSink(EventType::Error, FormatText(LoadString(kIdsSerialPortLost), {m_portName}));
    return true;
}

std::size_t CGsmModem::WritePort(const char* data, std::size_t count)
{
    return m_port.Write(data, count);
}

std::size_t CGsmModem::ReadPort(char* buffer, std::size_t count)
{
    return m_port.Read(buffer, count);
}

ModemReply CGsmModem::WaitReply(ReplyBuffer& reply)
{
    const std::size_t room = kReplyCapacity - reply.length;
    const std::size_t n = ReadPort(reply.text + reply.length, std::min(kReadChunk, room));
    reply.length += n;
    reply.text[reply.length] = '\0';
    if (n == 0 || reply.length < 4) {
        return ModemReply::None;
    }
    const std::string_view text(reply.text, reply.length);
    if (text.substr(text.size() - 4) == "OK\r\n") {
        return ModemReply::Ok;
    }
    return text.find("ERROR") != std::string_view::npos ? ModemReply::Error : ModemReply::None;
}

bool CGsmModem::InitializeModem()
{
    if (!OpenPort()) {
        return false;
    }
    if (!m_needInit) {
        return true;
    }
    char buf[kReadChunk + 1];
    // Each exchange is cut short by a stop; the set-up then ends without a verdict.
    const auto exchange = [&](std::string_view command) -> std::size_t {
        WritePort(command.data(), command.size());
        std::memset(buf, 0, sizeof buf);
        return ReadPort(buf, kReadChunk);
    };
    std::size_t n = exchange("AT\r");
    if (CheckLost() || m_stop.IsSet() || !Contains(buf, n, "OK")) {
        return false;
    }
    exchange("ATE0\r");
    exchange("AT+CMGF=0\r");
    n = exchange("AT+CSCA?\r");
    if (CheckLost() || m_stop.IsSet()) {
        return false;
    }
    const std::string_view answer(buf, n);
    const std::size_t open = answer.find('"');
    if (n < 4 || open == std::string_view::npos) {
        return true; // no SMSC yet: the whole set-up runs again next time
    }
    // The number between the quotes: an optional '+' and up to 15 digits.
    const std::size_t close = answer.find('"', open + 1);
    if (close == std::string_view::npos) {
        return true;
    }
    const QString number =
        QString::fromLatin1(answer.data() + open + 1, static_cast<qsizetype>(close - open - 1));
    if (!IsValidSmsNumber(NormalizeNumber(number))) {
        return true;
    }
    {
        std::lock_guard lock(m_smscLock);
        m_smscNumber = number;
    }
    EventSink(EventType::Information, kConnected);
    m_needInit = false;
    return true;
}

std::size_t CGsmModem::SendPdu(SmsRecord& record)
{
    // The SMSC of the modem that sends it: a message may have waited for the set-up, or
    // come from the driver this one replaced.
    CopyField(WideToCodePage(NormalizeNumber(SmscNumber()), CodePage::Ansi), record.SCA,
              sizeof record.SCA);
    char pdu[kSmsPduTextSize + 2] = {};
    int length = EncodeSubmitPdu(record, pdu);
    const int tpdu = SubmitTpduLength(pdu, length);
    pdu[length++] = 0x1A;

    char command[32];
    const int c = std::snprintf(command, sizeof command, "AT+CMGS=%d\r", tpdu);
    WritePort(command, static_cast<std::size_t>(c));
    char prompt[kReadChunk + 1] = {};
    const std::size_t n = ReadPort(prompt, kReadChunk);
    if (m_stop.IsSet()) {
        // Stopped while the modem may wait for the message text: ESC ends that input, so
        // whoever opens the port next finds the modem taking commands.
        WritePort("\x1b", 1);
        return 0;
    }
    if (n != 4 || std::memcmp(prompt, "\r\n> ", 4) != 0) {
        return 0;
    }
    return WritePort(pdu, static_cast<std::size_t>(length));
}

void CGsmModem::ListUnread()
{
    WritePort("AT+CMGL=0\r", 10);
}

void CGsmModem::DeleteMessage(unsigned index)
{
    char command[32];
    const int c = std::snprintf(command, sizeof command, "AT+CMGD=%u\r", index);
    WritePort(command, static_cast<std::size_t>(c));
}

bool CGsmModem::StartWorker()
{
    if (m_worker) {
        return false;
    }
    m_stop.ResetEvent();
    m_port.ResetCancel();
    auto worker = std::make_unique<Worker>();
    if (!worker->Start([this] { ModemWorker(); })) {
        return false;
    }
    m_worker = std::move(worker);
    return true;
}

void CGsmModem::RequestStop()
{
    m_stop.Set();
    m_port.Cancel();
}

void CGsmModem::JoinWorker()
{
    if (!m_worker) {
        return;
    }
    RequestStop();
    m_worker->Join();
    m_worker.reset();
}

void CGsmModem::StopWorker()
{
    JoinWorker();
    if (m_predecessor) { // the worker never came to take it over
        TakeOver(*m_predecessor);
        m_predecessor.reset();
    }
    ReportWaiting();
}

void CGsmModem::TakeOver(CGsmModem& old)
{
    old.JoinWorker();
    if (old.m_predecessor) {
        old.TakeOver(*old.m_predecessor);
        old.m_predecessor.reset();
    }
    const std::deque<OutgoingSms> waiting = old.TakeAll();
    qCDebug(lcSms) << "took over" << waiting.size() << "messages from" << old.m_portName;
    // Messages already accepted are never refused here; the queue is bounded all the same,
    // because QueueSms refuses new messages while it is full (the outbox bounds the rest).
    std::lock_guard lock(m_sendLock);
    m_sendQueue.insert(m_sendQueue.begin(), waiting.begin(), waiting.end());
}

std::deque<OutgoingSms> CGsmModem::TakeAll()
{
    std::deque<OutgoingSms> all;
    std::lock_guard lock(m_sendLock);
    all.swap(m_sendQueue);
    return all;
}

void CGsmModem::ReportWaiting()
{
    for (const OutgoingSms& s : TakeAll()) {
        EventSink(EventType::Error,
                  FormatText(LoadString(kIdsSmsNotSent),
                             {Wide(s.record.TPA, sizeof s.record.TPA), s.parts.join(QString())}));
    }
}

void CGsmModem::Pause(int ms)
{
    m_stop.Wait(ms); // a stop cuts every pause short
}

void CGsmModem::SetState(WorkerState& w, ModemState next)
{
    if (w.state != next) {
        qCDebug(lcSms) << "state" << StateName(w.state) << "->" << StateName(next);
    }
    w.state = next;
}

void CGsmModem::ModemWorker()
{
    if (m_predecessor) {
        TakeOver(*m_predecessor);
        m_predecessor.reset(); // closes its port before this driver opens one
    }
    WorkerState w;
    while (!m_stop.IsSet()) {
        Step(w);
        if (m_stop.Wait(m_timing.stopPollMs)) {
            break;
        }
    }
    if (w.inHand) { // not confirmed: it waits again, first in line
        std::lock_guard lock(m_sendLock);
        m_sendQueue.push_front(w.sending);
    }
}

bool CGsmModem::AwaitReply(WorkerState& w, int pauseMs, bool freshReply, ModemReply* r)
{
    Pause(pauseMs);
    if (m_stop.IsSet()) {
        return false;
    }
    if (freshReply) {
        w.reply->Clear();
    }
    *r = WaitReply(*w.reply);
    if (CheckLost()) {
        SetState(w, ModemState::Init);
        return false;
    }
    return !m_stop.IsSet(); // a read cut short by a stop is no answer to judge
}

void CGsmModem::Step(WorkerState& w)
{
    switch (w.state) {
    case ModemState::Init:
        return OnInit(w);
    case ModemState::Idle:
        return OnIdle(w);
    case ModemState::Send:
        return OnSend(w);
    case ModemState::SendWait:
        return OnSendWait(w);
    case ModemState::SendRetryPause:
        return OnRetryPause(w, m_timing.sendRetryPauseMs, ModemState::Send);
    case ModemState::List:
        return OnList(w);
    case ModemState::ListWait:
        return OnListWait(w);
    case ModemState::Delete:
        return OnDelete(w);
    case ModemState::DeleteWait:
        return OnDeleteWait(w);
    case ModemState::DeleteRetryPause:
        return OnRetryPause(w, m_timing.deleteRetryPauseMs, ModemState::Delete);
    }
}

void CGsmModem::OnInit(WorkerState& w)
{
    w.mark = GetTickCount64();
    SetState(w, InitializeModem() ? ModemState::Idle : ModemState::Init);
}

void CGsmModem::OnIdle(WorkerState& w)
{
    Pause(m_timing.idlePauseMs);
    if (m_stop.IsSet()) {
        return;
    }
    // Messages wait until the modem has told its SMSC number.
    const bool ready = !m_needInit;
    if (ready && w.inHand) {
        SetState(w, ModemState::Send); // a send cut short by a lost port goes on
    } else if (ready && TakeNext(w.sending)) {
        w.inHand = true;
        w.part = 0;
        SetState(w, ModemState::Send);
    } else if (GetTickCount64() - w.mark >= static_cast<std::uint64_t>(m_timing.listGapMs)) {
        SetState(w, ModemState::List);
    }
}

void CGsmModem::OnSend(WorkerState& w)
{
    const QString& text = w.sending.parts.at(w.part);
    SmsRecord& pdu = w.pdu;
    pdu = w.sending.record;
    QByteArray ud = WideToFileCodePage(text);
    if (ud.isNull()) {
        // A character the code page lacks would leave the message empty; send the rest.
        ud = WideToCodePage(text, CodePage::Ansi, '?');
    }
    CopyField(ud, pdu.UD, sizeof pdu.UD);
    if (w.sending.parts.size() > 1) {
        pdu.PartRef = static_cast<std::uint8_t>(pdu.Index);
        pdu.PartCount = static_cast<std::uint8_t>(w.sending.parts.size());
        pdu.PartNumber = static_cast<std::uint8_t>(w.part + 1);
    }
    SendPdu(pdu);
    w.reply->Clear(); // the answer is gathered as it arrives
    w.mark = GetTickCount64();
    ++m_sendAttempts;
    SetState(w, CheckLost() ? ModemState::Init : ModemState::SendWait);
}

void CGsmModem::OnSendWait(WorkerState& w)
{
    ModemReply r;
    if (!AwaitReply(w, m_timing.sendPollMs, false, &r)) {
        return;
    }
    // Judged after every read: the modem's "OK" or "ERROR" ends the wait at once, silence
    // only once the time-out has passed.
    const bool timedOut =
        GetTickCount64() - w.mark >= static_cast<std::uint64_t>(m_timing.sendWaitMs);
    if (r == ModemReply::None && !timedOut && w.reply->length < kReplyCapacity) {
        return;
    }
    const auto report = [&w](const QString& outcome) {
        const SmsRecord& s = w.sending.record;
        EventSink(EventType::Information, kToNumber + Wide(s.TPA, sizeof s.TPA) + kSendMessage +
                                              w.sending.parts.join(QString()) + outcome);
    };
    if (r == ModemReply::Ok && w.part + 1 < w.sending.parts.size()) {
        ++w.part; // the next part, with attempts of its own
        m_sendAttempts = 0;
        SetState(w, ModemState::Send);
        return;
    }
    if (r == ModemReply::Ok) {
        report(kSucceeded);
        Finish(w.sending.outboxId);
        w.inHand = false;
        m_sendAttempts = 0;
        m_failureStreak = 0;
        m_warned = false;
        SetState(w, ModemState::Init);
        return;
    }
    if (m_sendAttempts < kMaxSendAttempts) {
        SetState(w, ModemState::SendRetryPause);
        return;
    }
    report(kFailed);
    Finish(w.sending.outboxId);
    w.inHand = false;
    m_sendAttempts = 0;
    ++m_failureStreak;
    if (r == ModemReply::None && m_failureStreak >= kFailureStreakWarning && !m_warned) {
        EventSink(EventType::Information, kModem + kSendWarning);
    }
    SetState(w, ModemState::Init);
}

void CGsmModem::OnRetryPause(WorkerState& w, int pauseMs, ModemState next)
{
    Pause(pauseMs);
    SetState(w, next);
}

void CGsmModem::OnList(WorkerState& w)
{
    ListUnread();
    w.mark = GetTickCount64();
    // A listing may take several reads; its pieces are gathered until it ends.
    w.reply->Clear();
    SetState(w, CheckLost() ? ModemState::Init : ModemState::ListWait);
}

void CGsmModem::OnListWait(WorkerState& w)
{
    ModemReply r;
    if (!AwaitReply(w, m_timing.listPauseMs, false, &r)) {
        return;
    }
    const ReplyBuffer& reply = *w.reply;
    if (r == ModemReply::Error) {
        if (++m_readFailures >= kReadFailureWarning && !m_warned) {
            EventSink(EventType::Information, kModem + kReceiveWarning);
            m_warned = true;
        }
        SetState(w, ModemState::Init);
    } else if (r == ModemReply::Ok) {
        int listed = 0;
        w.recordCount = ParseList(reply.text, reply.length, w.records.get(), kMaxListing, &listed);
        if (listed > w.recordCount) {
            EventSink(EventType::Error,
                      FormatText(LoadString(kIdsModemListingTooLong),
                                 {QString::number(listed), QString::number(kMaxListing)}));
        }
        m_readFailures = 0;
        m_warned = false;
        for (int i = 0; i < w.recordCount; ++i) {
            const SmsRecord& got = w.records[i];
            EventSink(EventType::Information, kModem + kReceived + Wide(got.UD, sizeof got.UD));
        }
        w.deletePosition = 0;
        SetState(w, w.recordCount > 0 ? ModemState::Delete : ModemState::Init);
    } else if (reply.length >= kReplyCapacity) {
        EventSink(EventType::Error,
                  FormatText(LoadString(kIdsModemReplyTooLong), {QString::number(kReplyCapacity)}));
        SetState(w, ModemState::Init);
    } else if (GetTickCount64() - w.mark >= static_cast<std::uint64_t>(m_timing.listTimeoutMs)) {
        SetState(w, ModemState::Init);
    }
}

void CGsmModem::OnDelete(WorkerState& w)
{
    // A listed message without a readable storage index is reported, never deleted.
    while (w.deletePosition < w.recordCount && w.records[w.deletePosition].Index == kSmsNoIndex) {
        ++w.deletePosition;
    }
    if (w.deletePosition >= w.recordCount) {
        SetState(w, ModemState::Init);
        return;
    }
    DeleteMessage(w.records[w.deletePosition].Index);
    w.mark = GetTickCount64();
    SetState(w, CheckLost() ? ModemState::Init : ModemState::DeleteWait);
}

void CGsmModem::OnDeleteWait(WorkerState& w)
{
    ModemReply r;
    if (!AwaitReply(w, m_timing.deletePauseMs, true, &r)) {
        return;
    }
    if (r == ModemReply::Error) {
        EventSink(EventType::Information, kModem + kDeleteFailed);
        SetState(w, ModemState::DeleteRetryPause);
    } else if (r == ModemReply::Ok) {
        EventSink(EventType::Information, kModem + kDeleted);
        ++w.deletePosition;
        m_warned = false;
        SetState(w, ModemState::Delete);
    } else if (GetTickCount64() - w.mark >= static_cast<std::uint64_t>(m_timing.deleteGapMs)) {
        SetState(w, ModemState::Init);
    }
}

CModemSlot::~CModemSlot()
{
    Clear();
}

void CModemSlot::Replace(int comPort)
{
    Replace(SerialPortName(comPort));
}

void CModemSlot::Replace(const QString& portName)
{
    std::lock_guard replacing(m_replaceMutex);
    // Under the lock no fan-out sits in the old driver, and none finds the slot empty; the
    // new driver's worker joins the old one and takes over what waits in it.
    std::lock_guard lock(m_mutex);
    m_modem = std::make_unique<CGsmModem>(portName, 9600, 8, 0, 0, m_timing, std::move(m_modem),
                                          m_finished);
}

void CModemSlot::Clear()
{
    std::lock_guard replacing(m_replaceMutex);
    std::unique_ptr<CGsmModem> old;
    {
        std::lock_guard lock(m_mutex);
        old = std::move(m_modem);
    }
    // Destroyed here, outside the lock: no QueueSms is inside it any more.
    old.reset();
}

void CModemSlot::QueueSms(const QString& telephone, const QString& text, std::uint64_t outboxId,
                          bool resent)
{
    std::lock_guard lock(m_mutex);
    if (m_modem) {
        m_modem->QueueSms(telephone, text, outboxId, resent);
    }
}

bool CModemSlot::HasModem() const
{
    std::lock_guard lock(m_mutex);
    return m_modem != nullptr;
}
