<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name></name>
    <message id="62200">
        <source>E-Mail</source>
        <translation>E-Mail</translation>
    </message>
    <message id="62201">
        <source>&amp;E-mail(HotMail):</source>
        <translation>&amp;E-Mail (HotMail):</translation>
    </message>
    <message id="62202">
        <source>&amp;Password:</source>
        <translation>&amp;Passwort:</translation>
    </message>
    <message id="62203">
        <source>Test</source>
        <translation>Test</translation>
    </message>
    <message id="62204">
        <source>&amp;To:</source>
        <translation>&amp;An:</translation>
    </message>
    <message id="62205">
        <source>...</source>
        <translation>...</translation>
    </message>
    <message id="62206">
        <source>&amp;Send</source>
        <translation>&amp;Senden</translation>
    </message>
    <message id="62209">
        <source>Outgoing server</source>
        <translation>Postausgangsserver</translation>
    </message>
    <message id="62210">
        <source>Se&amp;rver:</source>
        <translation>Se&amp;rver:</translation>
    </message>
    <message id="62211">
        <source>P&amp;ort:</source>
        <translation>P&amp;ort:</translation>
    </message>
    <message id="62212">
        <source>Sec&amp;urity:</source>
        <translation>Sicherhei&amp;t:</translation>
    </message>
    <message id="62213">
        <source>None</source>
        <translation>Keine</translation>
    </message>
    <message id="62214">
        <source>STARTTLS</source>
        <translation>STARTTLS</translation>
    </message>
    <message id="62215">
        <source>TLS</source>
        <translation>TLS</translation>
    </message>
    <message id="62216">
        <source>&amp;Verify the server's certificate</source>
        <translation>Zertifikat des Servers prü&amp;fen</translation>
    </message>
    <message id="62217">
        <source>&amp;CA file:</source>
        <translation>&amp;CA-Datei:</translation>
    </message>
    <message id="62218">
        <source>Sending the test mail to '%s'...</source>
        <translation>Die Testmail an '%s' wird gesendet...</translation>
    </message>
    <message id="62219">
        <source>Show the recipient list</source>
        <translation>Empfängerliste anzeigen</translation>
    </message>
    <message id="62220">
        <source>The test mail to '%s' was sent.</source>
        <translation>Die Testmail an '%s' wurde gesendet.</translation>
    </message>
    <message id="62221">
        <source>The test mail to '%s' was not sent.</source>
        <translation>Die Testmail an '%s' wurde nicht gesendet.</translation>
    </message>
</context>
</TS>
