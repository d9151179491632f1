#include "sms/GsmModem.h"

#include <cstring>
#include <string_view>

#include "eventlog/EventSink.h"
#include "platform/CodePage.h"
#include "platform/Logging.h"
#include "platform/StringTable.h"
#include "platform/Tick.h"

namespace {

constexpr unsigned kIdQueueFull = 61400;
constexpr unsigned kIdBadNumber = 61401;
constexpr unsigned kIdPortLost = 61402;
constexpr unsigned kIdReplyTooLong = 61403;
constexpr unsigned kIdListingTooLong = 61404;

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

} // namespace

struct CGsmModem::WorkerState
{
    ModemState state = ModemState::Init;
    std::uint64_t mark = 0;
    std::unique_ptr<SmsRecord[]> records = std::make_unique<SmsRecord[]>(kMaxListing);
    int recordCount = 0;
    int deletePosition = 0;
    bool inHand = false; // records[0] is a message being sent
    std::unique_ptr<ReplyBuffer> reply = std::make_unique<ReplyBuffer>();
};

void CGsmModem::ReplyBuffer::Clear()
{
    length = 0;
    std::memset(text, 0, sizeof text);
}

CGsmModem::CGsmModem(const QString& portName, unsigned baudRate, unsigned byteSize,
                     unsigned stopBits, unsigned parity, const ModemTiming& timing)
    : m_portName(portName), m_baudRate(baudRate), m_byteSize(byteSize), m_parity(parity),
      m_stopBits(stopBits), m_timing(timing),
      m_sendRing(std::make_unique<SmsRecord[]>(kSendRingSize))
{
    InitializeModem();
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
    return m_queued;
}

void CGsmModem::QueueSms(const QString& telephone, const QString& text)
{
    const QString smsc = SmscNumber();
    if (text.isEmpty() || smsc.isEmpty()) {
        return;
    }
    QString body = text.left(kSmsTextChars);
    if (body.size() < text.size() && body.back().isHighSurrogate()) {
        body.chop(1); // never half a character
    }
    const QString destination = NormalizeNumber(telephone);
    if (!IsValidSmsNumber(destination)) {
        EventSink(1, FormatText(LoadString(kIdBadNumber), {telephone, body}));
        return;
    }

    SmsRecord record{};
    CopyField(WideToCodePage(NormalizeNumber(smsc), CodePage::Ansi), record.SCA, sizeof record.SCA);
    CopyField(WideToCodePage(destination, CodePage::Ansi), record.TPA, sizeof record.TPA);
    QByteArray ud = WideToFileCodePage(body);
    if (ud.isNull()) {
        // A character the code page lacks would leave the message empty; send the rest.
        ud = WideToCodePage(body, CodePage::Ansi, '?');
    }
    CopyField(ud, record.UD, sizeof record.UD);
    record.PID = 0;
    record.DCS = kDcsUcs2;

    {
        std::lock_guard lock(m_sendLock);
        if (m_queued < kSendRingSize) {
            record.Index = m_nextIndex;
            m_sendRing[m_writeIndex] = record;
            m_writeIndex = (m_writeIndex + 1) % kSendRingSize;
            ++m_queued;
            if (++m_nextIndex == 0) {
                m_nextIndex = 1;
            }
            return;
        }
    }
    EventSink(1, FormatText(LoadString(kIdQueueFull), {body, telephone}));
}

bool CGsmModem::TakeNext(SmsRecord& record)
{
    std::lock_guard lock(m_sendLock);
    if (m_queued == 0) {
        return false;
    }
    record = m_sendRing[m_readIndex];
    m_readIndex = (m_readIndex + 1) % kSendRingSize;
    --m_queued;
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
    EventSink(0, kOpenPort + m_portName);
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
    EventSink(1, FormatText(LoadString(kIdPortLost), {m_portName}));
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
    const auto exchange = [&](std::string_view command) -> std::size_t {
        WritePort(command.data(), command.size());
        std::memset(buf, 0, sizeof buf);
        return ReadPort(buf, kReadChunk);
    };
    std::size_t n = exchange("AT\r");
    if (CheckLost() || !Contains(buf, n, "OK")) {
        return false;
    }
    exchange("ATE0\r");
    exchange("AT+CMGF=0\r");
    n = exchange("AT+CSCA?\r");
    if (CheckLost()) {
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
    EventSink(0, kConnected);
    m_needInit = false;
    return true;
}

std::size_t CGsmModem::SendPdu(const SmsRecord& record)
{
    char pdu[kSmsPduTextSize + 2] = {};
    int length = EncodeSubmitPdu(record, pdu);
    const int tpdu = SubmitTpduLength(pdu, length);
    pdu[length++] = 0x1A;

    char command[32];
    const int c = std::snprintf(command, sizeof command, "AT+CMGS=%d\r", tpdu);
    WritePort(command, static_cast<std::size_t>(c));
    char prompt[kReadChunk + 1] = {};
    const std::size_t n = ReadPort(prompt, kReadChunk);
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
    m_exited.ResetEvent();
    auto worker = std::make_unique<Worker>();
    if (!worker->Start([this] { ModemWorker(); })) {
        return false;
    }
    m_worker = std::move(worker);
    return true;
}

void CGsmModem::StopWorker()
{
    if (!m_worker) {
        return;
    }
    m_stop.Set();
    m_exited.Wait();
    bool joined = false;
    for (int i = 0; i < m_timing.joinPolls && !joined; ++i) {
        joined = m_worker->Join(m_timing.joinPollMs);
    }
    if (!joined) {
        m_worker->Detach(); // it has left its loop and touches nothing of ours any more
    }
    m_worker.reset();
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
    WorkerState w;
    for (;;) {
        Step(w);
        if (m_stop.Wait(m_timing.stopPollMs)) {
            break;
        }
    }
    m_exited.Set();
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
    return true;
}

void CGsmModem::Step(WorkerState& w)
{
    ReplyBuffer& reply = *w.reply;
    SmsRecord& sending = w.records[0];
    const auto since = [&w] { return GetTickCount64() - w.mark; };
    const auto report = [](const SmsRecord& r, const QString& outcome) {
        EventSink(0, kToNumber + Wide(r.TPA, sizeof r.TPA) + kSendMessage +
                         Wide(r.UD, sizeof r.UD) + outcome);
    };

    switch (w.state) {
    case ModemState::Init:
        w.mark = GetTickCount64();
        SetState(w, InitializeModem() ? ModemState::Idle : ModemState::Init);
        return;

    case ModemState::Idle:
        Pause(m_timing.idlePauseMs);
        if (m_stop.IsSet()) {
            return;
        }
        if (w.inHand) {
            SetState(w, ModemState::Send); // a send cut short by a lost port goes on
        } else if (TakeNext(sending)) {
            w.inHand = true;
            SetState(w, ModemState::Send);
        } else if (since() >= static_cast<std::uint64_t>(m_timing.listGapMs)) {
            SetState(w, ModemState::List);
        }
        return;

    case ModemState::Send:
        SendPdu(sending);
        w.mark = GetTickCount64();
        ++m_sendAttempts;
        SetState(w, CheckLost() ? ModemState::Init : ModemState::SendWait);
        return;

    case ModemState::SendWait: {
        ModemReply r;
        if (!AwaitReply(w, m_timing.sendWaitMs, true, &r)) {
            return;
        }
        if (r == ModemReply::Ok) {
            report(sending, kSucceeded);
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
        report(sending, kFailed);
        w.inHand = false;
        m_sendAttempts = 0;
        ++m_failureStreak;
        if (r == ModemReply::None && m_failureStreak >= kFailureStreakWarning && !m_warned) {
            EventSink(0, kModem + kSendWarning);
        }
        SetState(w, ModemState::Init);
        return;
    }

    case ModemState::SendRetryPause:
        Pause(m_timing.sendRetryPauseMs);
        SetState(w, ModemState::Send);
        return;

    case ModemState::List:
        ListUnread();
        w.mark = GetTickCount64();
        // A listing may take several reads; its pieces are gathered until it ends.
        reply.Clear();
        SetState(w, CheckLost() ? ModemState::Init : ModemState::ListWait);
        return;

    case ModemState::ListWait: {
        ModemReply r;
        if (!AwaitReply(w, m_timing.listPauseMs, false, &r)) {
            return;
        }
        if (r == ModemReply::Error) {
            if (++m_readFailures >= kReadFailureWarning && !m_warned) {
                EventSink(0, kModem + kReceiveWarning);
                m_warned = true;
            }
            SetState(w, ModemState::Init);
            return;
        }
        if (r == ModemReply::Ok) {
            int listed = 0;
            w.recordCount =
                ParseList(reply.text, reply.length, w.records.get(), kMaxListing, &listed);
            if (listed > w.recordCount) {
                EventSink(1, FormatText(LoadString(kIdListingTooLong),
                                        {QString::number(listed), QString::number(kMaxListing)}));
            }
            m_readFailures = 0;
            m_warned = false;
            for (int i = 0; i < w.recordCount; ++i) {
                const SmsRecord& got = w.records[i];
                EventSink(0, kModem + kReceived + Wide(got.UD, sizeof got.UD));
            }
            w.deletePosition = 0;
            SetState(w, w.recordCount > 0 ? ModemState::Delete : ModemState::Init);
            return;
        }
        if (reply.length >= kReplyCapacity) {
            EventSink(1,
                      FormatText(LoadString(kIdReplyTooLong), {QString::number(kReplyCapacity)}));
            SetState(w, ModemState::Init);
            return;
        }
        if (since() >= static_cast<std::uint64_t>(m_timing.listTimeoutMs)) {
            SetState(w, ModemState::Init);
        }
        return;
    }

    case ModemState::Delete:
        // A listed message without a readable storage index is reported, never deleted.
        while (w.deletePosition < w.recordCount &&
               w.records[w.deletePosition].Index == kSmsNoIndex) {
            ++w.deletePosition;
        }
        if (w.deletePosition >= w.recordCount) {
            SetState(w, ModemState::Init);
            return;
        }
        DeleteMessage(w.records[w.deletePosition].Index);
        w.mark = GetTickCount64();
        SetState(w, CheckLost() ? ModemState::Init : ModemState::DeleteWait);
        return;

    case ModemState::DeleteWait: {
        ModemReply r;
        if (!AwaitReply(w, m_timing.deletePauseMs, true, &r)) {
            return;
        }
        if (r == ModemReply::Error) {
            EventSink(0, kModem + kDeleteFailed);
            SetState(w, ModemState::DeleteRetryPause);
        } else if (r == ModemReply::Ok) {
            EventSink(0, kModem + kDeleted);
            ++w.deletePosition;
            m_warned = false;
            SetState(w, ModemState::Delete);
        } else if (since() >= static_cast<std::uint64_t>(m_timing.deleteGapMs)) {
            SetState(w, ModemState::Init);
        }
        return;
    }

    case ModemState::DeleteRetryPause:
        Pause(m_timing.deleteRetryPauseMs);
        SetState(w, ModemState::Delete);
        return;
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
    Release(); // the old driver lets go of the port before the new one opens it
    auto modem = std::make_unique<CGsmModem>(portName, 9600, 8, 0, 0, m_timing);
    std::lock_guard lock(m_mutex);
    m_modem = std::move(modem);
}

void CModemSlot::Clear()
{
    std::lock_guard replacing(m_replaceMutex);
    Release();
}

void CModemSlot::Release()
{
    std::unique_ptr<CGsmModem> old;
    {
        std::lock_guard lock(m_mutex);
        old = std::move(m_modem);
    }
    // Destroyed here, outside the lock: no QueueSms is inside it any more.
    old.reset();
}

void CModemSlot::QueueSms(const QString& telephone, const QString& text)
{
    std::lock_guard lock(m_mutex);
    if (m_modem) {
        m_modem->QueueSms(telephone, text);
    }
}

bool CModemSlot::HasModem() const
{
    std::lock_guard lock(m_mutex);
    return m_modem != nullptr;
}
