<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name></name>
    <message id="62100">
        <source>GPRS Modem</source>
        <translation>GPRS 调制解调器</translation>
    </message>
    <message id="62101">
        <source>&amp;Port:</source>
        <translation>端口(&amp;P):</translation>
    </message>
    <message id="62102">
        <source>P&amp;hone:</source>
        <translation>电话(&amp;H):</translation>
    </message>
    <message id="62103">
        <source>&amp;Text:</source>
        <translation>内容(&amp;T):</translation>
    </message>
    <message id="62104">
        <source>&amp;Send</source>
        <translation>发送(&amp;S)</translation>
    </message>
    <message id="62105">
        <source>...</source>
        <translation>...</translation>
    </message>
    <message id="62106">
        <source>Open the recipient list</source>
        <translation>打开收件人列表</translation>
    </message>
    <message id="62107">
        <source>%s (%s)</source>
        <translation>%s (%s)</translation>
    </message>
    <message id="62108">
        <source>%s (none)</source>
        <translation>%s (无设备)</translation>
    </message>
    <message id="62109">
        <source>Test message to %s queued on %s. The event list shows whether it was sent.</source>
        <translation>发往 %s 的测试短信已在 %s 上排队。事件列表会显示是否发送成功。</translation>
    </message>
</context>
</TS>
