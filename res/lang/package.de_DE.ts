<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name></name>
    <message id="62700">
        <source>Usage: %s [options] [file.znr]</source>
        <translation>Aufruf: %s [Optionen] [file.znr]</translation>
    </message>
    <message id="62701">
        <source>Zunaro alarm gateway: every print job received on TCP port 9100 becomes an alarm, sent by SMS, e-mail and speech.</source>
        <translation>Zunaro-Alarm-Gateway: Jeder auf TCP-Port 9100 empfangene Druckauftrag wird zu einem Alarm, der per SMS, E-Mail und Sprache versendet wird.</translation>
    </message>
    <message id="62702">
        <source>Options:</source>
        <translation>Optionen:</translation>
    </message>
    <message id="62703">
        <source>Arguments:</source>
        <translation>Argumente:</translation>
    </message>
    <message id="62704">
        <source>Show this help and exit.</source>
        <translation>Diese Hilfe anzeigen und beenden.</translation>
    </message>
    <message id="62705">
        <source>Show the version and exit.</source>
        <translation>Die Version anzeigen und beenden.</translation>
    </message>
    <message id="62706">
        <source>Run without windows; every event line goes to standard output. SIGTERM or Ctrl+C ends it in order.</source>
        <translation>Ohne Fenster ausführen; jede Ereigniszeile geht auf die Standardausgabe. SIGTERM oder Strg+C beendet das Programm geordnet.</translation>
    </message>
    <message id="62707">
        <source>The settings file to open (default: the most recent one).</source>
        <translation>Die zu öffnende Einstellungsdatei (Standard: die zuletzt verwendete).</translation>
    </message>
    <message id="62708">
        <source>Unknown option '%s'. Try '%s --help'.</source>
        <translation>Unbekannte Option '%s'. Versuchen Sie '%s --help'.</translation>
    </message>
</context>
</TS>
