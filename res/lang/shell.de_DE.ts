<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name></name>
    <message id="62400">
        <source>Setting</source>
        <translation>Einstellungen</translation>
    </message>
    <message id="62401">
        <source>&amp;Language:</source>
        <translation>&amp;Sprache:</translation>
    </message>
    <message id="62402">
        <source>&amp;Default</source>
        <translation>S&amp;tandard</translation>
    </message>
    <message id="62403">
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message id="62404">
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message id="62405">
        <source>&amp;Yes</source>
        <translation>&amp;Ja</translation>
    </message>
    <message id="62406">
        <source>&amp;No</source>
        <translation>&amp;Nein</translation>
    </message>
    <message id="62410">
        <source>&amp;File</source>
        <translation>&amp;Datei</translation>
    </message>
    <message id="62411">
        <source>&amp;Edit</source>
        <translation>&amp;Bearbeiten</translation>
    </message>
    <message id="62412">
        <source>&amp;View</source>
        <translation>&amp;Ansicht</translation>
    </message>
    <message id="62413">
        <source>Alarm</source>
        <translation>Alarm</translation>
    </message>
    <message id="62414">
        <source>&amp;Help</source>
        <translation>&amp;Hilfe</translation>
    </message>
    <message id="62415">
        <source>Standard</source>
        <translation>Standard</translation>
    </message>
    <message id="62416">
        <source>Exit</source>
        <translation>Beenden</translation>
    </message>
    <message id="62420">
        <source>&amp;New&#x9;Ctrl+N</source>
        <translation>&amp;Neu&#x9;Ctrl+N</translation>
    </message>
    <message id="62421">
        <source>&amp;Open...&#x9;Ctrl+O</source>
        <translation>Ö&amp;ffnen...&#x9;Ctrl+O</translation>
    </message>
    <message id="62422">
        <source>&amp;Save&#x9;Ctrl+S</source>
        <translation>&amp;Speichern&#x9;Ctrl+S</translation>
    </message>
    <message id="62423">
        <source>Save &amp;As...</source>
        <translation>Speichern &amp;unter...</translation>
    </message>
    <message id="62424">
        <source>Recent File</source>
        <translation>Zuletzt geöffnete Datei</translation>
    </message>
    <message id="62425">
        <source>E&amp;xit</source>
        <translation>&amp;Beenden</translation>
    </message>
    <message id="62426">
        <source>&amp;Copy&#x9;Ctrl+C</source>
        <translation>&amp;Kopieren&#x9;Ctrl+C</translation>
    </message>
    <message id="62427">
        <source>&amp;Clear Messages</source>
        <translation>Meldungen &amp;löschen</translation>
    </message>
    <message id="62428">
        <source>Log &amp;Errors Only</source>
        <translation>Nur &amp;Fehler protokollieren</translation>
    </message>
    <message id="62429">
        <source>Save Log...</source>
        <translation>Protokoll speichern...</translation>
    </message>
    <message id="62430">
        <source>Language Setting...</source>
        <translation>Spracheinstellung...</translation>
    </message>
    <message id="62431">
        <source>&amp;Toolbar</source>
        <translation>&amp;Symbolleiste</translation>
    </message>
    <message id="62432">
        <source>&amp;Status Bar</source>
        <translation>S&amp;tatusleiste</translation>
    </message>
    <message id="62433">
        <source>Setup Printer Driver...</source>
        <translation>Druckertreiber einrichten...</translation>
    </message>
    <message id="62434">
        <source>User...</source>
        <translation>Benutzer...</translation>
    </message>
    <message id="62435">
        <source>GPRS Modem...</source>
        <translation>GPRS-Modem...</translation>
    </message>
    <message id="62436">
        <source>E-Mail...</source>
        <translation>E-Mail...</translation>
    </message>
    <message id="62437">
        <source>Voice...</source>
        <translation>Sprachausgabe...</translation>
    </message>
    <message id="62438">
        <source>Enable AutoRun </source>
        <translation>Autostart aktivieren </translation>
    </message>
    <message id="62439">
        <source>Disable AutoRun </source>
        <translation>Autostart deaktivieren </translation>
    </message>
    <message id="62440">
        <source>&amp;Help Contents</source>
        <translation>&amp;Hilfethemen</translation>
    </message>
    <message id="62441">
        <source>&amp;About Zunaro...</source>
        <translation>&amp;Info über Zunaro...</translation>
    </message>
</context>
</TS>
