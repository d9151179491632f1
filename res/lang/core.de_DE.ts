<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name></name>
    <message id="128">
        <source>Zunaro


Zunaro Files (*.znr)
.znr
Zunaro.Document
Zunaro Document</source>
        <translation>Zunaro


Zunaro-Dateien (*.znr)
.znr
Zunaro.Document
Zunaro-Dokument</translation>
    </message>
    <message id="20002">
        <source>Zunaro</source>
        <translation>Zunaro</translation>
    </message>
    <message id="57344">
        <source>Zunaro</source>
        <translation>Zunaro</translation>
    </message>
    <message id="10078">
        <source>English</source>
        <translation>Deutsch</translation>
    </message>
    <message id="104">
        <source>Alarm printer: 'Generic / Text Only' on 127.0.0.1:9100</source>
        <translation>Alarmdrucker: „Generic / Text Only“ auf 127.0.0.1:9100</translation>
    </message>
    <message id="5002">
        <source>SMS Count: %d</source>
        <translation>SMS-Zähler: %d</translation>
    </message>
    <message id="57345">
        <source>Ready</source>
        <translation>Bereit</translation>
    </message>
    <message id="108">
        <source>Failed to load '%s'</source>
        <translation>„%s“ konnte nicht geladen werden</translation>
    </message>
    <message id="109">
        <source>Load '%s' successfully!</source>
        <translation>„%s“ wurde erfolgreich geladen!</translation>
    </message>
    <message id="123">
        <source>Zunaro-En.pdf</source>
        <translation>Zunaro-En.pdf</translation>
    </message>
    <message id="10079">
        <source>Are you sure to quit Zunaro?</source>
        <translation>Möchten Sie Zunaro wirklich beenden?</translation>
    </message>
    <message id="126">
        <source>https://zunaro.example.org</source>
        <translation>https://zunaro.example.org</translation>
    </message>
    <message id="5004">
        <source>About</source>
        <translation>Über</translation>
    </message>
    <message id="20004">
        <source>Zunaro</source>
        <translation>Zunaro</translation>
    </message>
    <message id="20006">
        <source>Desktop alarm gateway: print to SMS, e-mail and voice.</source>
        <translation>Desktop-Alarm-Gateway: leitet Ausdrucke als SMS, E-Mail und Sprachausgabe weiter.</translation>
    </message>
    <message id="32771">
        <source>Setup 'Generic / Text Only' Printer Driver</source>
        <translation>Druckertreiber „Generic / Text Only“ einrichten</translation>
    </message>
    <message id="32778">
        <source>Create user`s telephone number or E-mail.</source>
        <translation>Telefonnummer oder E-Mail-Adresse eines Benutzers anlegen.</translation>
    </message>
    <message id="32803">
        <source>Quit the application; prompts to save documents
Exit Zunaro</source>
        <translation>Beendet die Anwendung; fordert zum Speichern der Dokumente auf
Zunaro beenden</translation>
    </message>
    <message id="32804">
        <source>E-Mail setting and testing</source>
        <translation>E-Mail einstellen und testen</translation>
    </message>
    <message id="32805">
        <source>Clear the event log display</source>
        <translation>Anzeige des Ereignisprotokolls leeren</translation>
    </message>
    <message id="32806">
        <source>Display only error messages in the event log</source>
        <translation>Im Ereignisprotokoll nur Fehlermeldungen anzeigen</translation>
    </message>
    <message id="32810">
        <source>Voice setting and testing</source>
        <translation>Sprachausgabe einstellen und testen</translation>
    </message>
    <message id="32811">
        <source>Save event log to file</source>
        <translation>Ereignisprotokoll in eine Datei speichern</translation>
    </message>
    <message id="32818">
        <source>GPRS Modem setting and testing</source>
        <translation>GPRS-Modem einstellen und testen</translation>
    </message>
    <message id="32825">
        <source>Open Zunaro.pdf File</source>
        <translation>Datei Zunaro.pdf öffnen</translation>
    </message>
    <message id="32814">
        <source>Export userlist to CSV file</source>
        <translation>Benutzerliste in eine CSV-Datei exportieren</translation>
    </message>
    <message id="32815">
        <source>Import userlist from CSV file</source>
        <translation>Benutzerliste aus einer CSV-Datei importieren</translation>
    </message>
    <message id="32816">
        <source>Copy telephone number</source>
        <translation>Telefonnummer kopieren</translation>
    </message>
    <message id="32817">
        <source>Copy E-mail</source>
        <translation>E-Mail-Adresse kopieren</translation>
    </message>
    <message id="32839">
        <source>New user</source>
        <translation>Neuer Benutzer</translation>
    </message>
    <message id="32840">
        <source>Delete user</source>
        <translation>Benutzer löschen</translation>
    </message>
    <message id="32841">
        <source>Show properties for selected object
Properties</source>
        <translation>Zeigt die Eigenschaften des ausgewählten Objekts an
Eigenschaften</translation>
    </message>
    <message id="114">
        <source>User</source>
        <translation>Benutzer</translation>
    </message>
    <message id="115">
        <source>Telephone</source>
        <translation>Telefonnummer</translation>
    </message>
    <message id="116">
        <source>E-Mail</source>
        <translation>E-Mail</translation>
    </message>
    <message id="10067">
        <source>CSV Files (*.csv)|*.csv|</source>
        <translation>CSV-Dateien (*.csv)|*.csv|</translation>
    </message>
    <message id="10068">
        <source>Export to Excel</source>
        <translation>Nach Excel exportieren</translation>
    </message>
    <message id="10069">
        <source>Import from Excel</source>
        <translation>Aus Excel importieren</translation>
    </message>
    <message id="61222">
        <source>Telephone number and E-mail address are empty</source>
        <translation>Telefonnummer und E-Mail-Adresse sind leer</translation>
    </message>
    <message id="61223">
        <source>Telephone number is exist.</source>
        <translation>Die Telefonnummer ist bereits vorhanden.</translation>
    </message>
    <message id="61224">
        <source>Telephone number is error.</source>
        <translation>Die Telefonnummer ist ungültig.</translation>
    </message>
    <message id="61226">
        <source>E-mail address is exist.</source>
        <translation>Die E-Mail-Adresse ist bereits vorhanden.</translation>
    </message>
    <message id="61227">
        <source>E-mail address is error.</source>
        <translation>Die E-Mail-Adresse ist ungültig.</translation>
    </message>
    <message id="112">
        <source>SMS Text is empty.</source>
        <translation>Der SMS-Text ist leer.</translation>
    </message>
    <message id="113">
        <source>Telephone number is wrong.</source>
        <translation>Die Telefonnummer ist falsch.</translation>
    </message>
    <message id="119">
        <source>Send '%s' to '%s' successfully!</source>
        <translation>„%s“ wurde erfolgreich an „%s“ gesendet!</translation>
    </message>
    <message id="120">
        <source>Send '%s' to '%s' unsuccessfully!</source>
        <translation>„%s“ konnte nicht an „%s“ gesendet werden!</translation>
    </message>
    <message id="131">
        <source>Voice[Volume:%d]</source>
        <translation>Sprachausgabe [Lautstärke: %d]</translation>
    </message>
    <message id="10005">
        <source>Event</source>
        <translation>Ereignis</translation>
    </message>
    <message id="10024">
        <source>Date</source>
        <translation>Datum</translation>
    </message>
    <message id="10025">
        <source>Time</source>
        <translation>Uhrzeit</translation>
    </message>
    <message id="61229">
        <source>'Generic / Text Only' Printer Driver is exist.</source>
        <translation>Der Druckertreiber „Generic / Text Only“ ist bereits vorhanden.</translation>
    </message>
    <message id="61230">
        <source>Failed to execute vbs.</source>
        <translation>vbs konnte nicht ausgeführt werden.</translation>
    </message>
    <message id="61231">
        <source>Failed to get environment variable.</source>
        <translation>Die Umgebungsvariable konnte nicht gelesen werden.</translation>
    </message>
    <message id="61232">
        <source>Failed to setup 'Generic / Text Only' Printer Driver.</source>
        <translation>Der Druckertreiber „Generic / Text Only“ konnte nicht eingerichtet werden.</translation>
    </message>
    <message id="61233">
        <source>Succeed to setup 'Generic / Text Only' Printer Driver.</source>
        <translation>Der Druckertreiber „Generic / Text Only“ wurde erfolgreich eingerichtet.</translation>
    </message>
    <message id="61700">
        <source>Adding printers needs membership in the group '%s' (for example: sudo usermod -aG %s $USER, then log in again).</source>
        <translation>Zum Hinzufügen von Druckern ist die Mitgliedschaft in der Gruppe „%s“ nötig (zum Beispiel: sudo usermod -aG %s $USER, danach neu anmelden).</translation>
    </message>
    <message id="61701">
        <source>lpadmin did not finish within %d seconds.</source>
        <translation>lpadmin wurde nicht innerhalb von %d Sekunden beendet.</translation>
    </message>
    <message id="61702">
        <source>lpadmin ended with exit status %d.</source>
        <translation>lpadmin wurde mit dem Exit-Status %d beendet.</translation>
    </message>
    <message id="61703">
        <source>lpadmin ended abnormally.</source>
        <translation>lpadmin wurde unerwartet beendet.</translation>
    </message>
    <message id="61704">
        <source>The program '%s' was not found.</source>
        <translation>Das Programm „%s“ wurde nicht gefunden.</translation>
    </message>
    <message id="61705">
        <source>Cannot write the logon-start entry '%s': %s</source>
        <translation>Der Autostart-Eintrag „%s“ kann nicht geschrieben werden: %s</translation>
    </message>
    <message id="61706">
        <source>Cannot remove the logon-start entry '%s': %s</source>
        <translation>Der Autostart-Eintrag „%s“ kann nicht entfernt werden: %s</translation>
    </message>
    <message id="61707">
        <source>The program path '%s' cannot stand in a desktop entry.</source>
        <translation>Der Programmpfad „%s“ kann nicht in einem Desktop-Eintrag stehen.</translation>
    </message>
    <message id="61800">
        <source>The outbox '%s' is damaged at byte %s: %s bytes were skipped, with any alarm message stored in them.</source>
        <translation>Der Postausgang „%s“ ist bei Byte %s beschädigt: %s Bytes wurden übersprungen, samt aller darin gespeicherten Alarmmeldungen.</translation>
    </message>
    <message id="61801">
        <source>Cannot open the outbox '%s': %s</source>
        <translation>Der Postausgang „%s“ kann nicht geöffnet werden: %s</translation>
    </message>
    <message id="61802">
        <source>Cannot write the outbox '%s': %s</source>
        <translation>Der Postausgang „%s“ kann nicht geschrieben werden: %s</translation>
    </message>
    <message id="61803">
        <source>The outbox is full (%s messages).</source>
        <translation>Der Postausgang ist voll (%s Nachrichten).</translation>
    </message>
    <message id="61804">
        <source>A message of %s bytes is too long for the outbox (at most %s).</source>
        <translation>Eine Nachricht mit %s Bytes ist zu lang für den Postausgang (höchstens %s).</translation>
    </message>
    <message id="61805">
        <source>Resending %d alarm messages left from the last run.</source>
        <translation>%d Alarmmeldungen aus dem letzten Lauf werden erneut gesendet.</translation>
    </message>
    <message id="61720">
        <source>Another Zunaro.exe is running!</source>
        <translation>Eine andere Instanz von Zunaro.exe läuft bereits!</translation>
    </message>
    <message id="61721">
        <source>Save changes to %s?</source>
        <translation>Änderungen an %s speichern?</translation>
    </message>
    <message id="61722">
        <source>About Zunaro</source>
        <translation>Über Zunaro</translation>
    </message>
    <message id="61723">
        <source>Open</source>
        <translation>Öffnen</translation>
    </message>
    <message id="61724">
        <source>Save As</source>
        <translation>Speichern unter</translation>
    </message>
    <message id="61234">
        <source>Failed to initialize Zunaro.</source>
        <translation>Zunaro konnte nicht initialisiert werden.</translation>
    </message>
    <message id="61235">
        <source>Succeed to initialize Zunaro.</source>
        <translation>Zunaro wurde erfolgreich initialisiert.</translation>
    </message>
    <message id="61300">
        <source>Print capture paused: %s. Retrying.</source>
        <translation>Druckempfang angehalten: %s. Es wird erneut versucht.</translation>
    </message>
    <message id="61301">
        <source>Print capture resumed.</source>
        <translation>Druckempfang fortgesetzt.</translation>
    </message>
    <message id="61310">
        <source>Failed to initialize voice engine.</source>
        <translation>Die Sprachausgabe konnte nicht initialisiert werden.</translation>
    </message>
    <message id="61311">
        <source>Succeed to initialize voice engine.</source>
        <translation>Die Sprachausgabe wurde erfolgreich initialisiert.</translation>
    </message>
    <message id="61312">
        <source>Speak '%s' unsuccessfully! The speech queue is full.</source>
        <translation>„%s“ konnte nicht gesprochen werden! Die Sprachwarteschlange ist voll.</translation>
    </message>
    <message id="61313">
        <source>Speak '%s' unsuccessfully! The speech worker stopped.</source>
        <translation>„%s“ konnte nicht gesprochen werden! Die Sprachausgabe wurde beendet.</translation>
    </message>
    <message id="61400">
        <source>SMS queue is full: '%s' to '%s' was refused.</source>
        <translation>Die SMS-Warteschlange ist voll: „%s“ an „%s“ wurde abgelehnt.</translation>
    </message>
    <message id="61401">
        <source>SMS to '%s' refused: the telephone number is not valid. Text: '%s'</source>
        <translation>SMS an „%s“ abgelehnt: Die Telefonnummer ist ungültig. Text: „%s“</translation>
    </message>
    <message id="61402">
        <source>Lost the serial port %s.</source>
        <translation>Die Verbindung zur seriellen Schnittstelle %s ist verloren gegangen.</translation>
    </message>
    <message id="61403">
        <source>The modem's reply was longer than %d characters and was discarded.</source>
        <translation>Die Antwort des Modems war länger als %d Zeichen und wurde verworfen.</translation>
    </message>
    <message id="61404">
        <source>The modem listed %d messages; only the first %d were read.</source>
        <translation>Das Modem hat %d Nachrichten aufgelistet; nur die ersten %d wurden gelesen.</translation>
    </message>
    <message id="61405">
        <source>SMS to '%s' not sent: the modem driver stopped first. Text: '%s'</source>
        <translation>SMS an „%s“ nicht gesendet: Der Modemtreiber wurde vorher beendet. Text: „%s“</translation>
    </message>
</context>
</TS>
