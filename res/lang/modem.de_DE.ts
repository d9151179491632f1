<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name></name>
    <message id="62100">
        <source>GPRS Modem</source>
        <translation>GPRS-Modem</translation>
    </message>
    <message id="62101">
        <source>&amp;Port:</source>
        <translation>&amp;Anschluss:</translation>
    </message>
    <message id="62102">
        <source>P&amp;hone:</source>
        <translation>Tele&amp;fon:</translation>
    </message>
    <message id="62103">
        <source>&amp;Text:</source>
        <translation>&amp;Text:</translation>
    </message>
    <message id="62104">
        <source>&amp;Send</source>
        <translation>&amp;Senden</translation>
    </message>
    <message id="62105">
        <source>...</source>
        <translation>...</translation>
    </message>
    <message id="62106">
        <source>Open the recipient list</source>
        <translation>Empfängerliste öffnen</translation>
    </message>
    <message id="62107">
        <source>%s (%s)</source>
        <translation>%s (%s)</translation>
    </message>
    <message id="62108">
        <source>%s (none)</source>
        <translation>%s (kein Gerät)</translation>
    </message>
    <message id="62109">
        <source>Test message to %s queued on %s. The event list shows whether it was sent.</source>
        <translation>Testnachricht an %s über %s eingereiht. Die Ereignisliste zeigt, ob sie gesendet wurde.</translation>
    </message>
</context>
</TS>
