<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name></name>
    <message id="62300">
        <source>&amp;Speak every alarm</source>
        <translation>&amp;Jeden Alarm ansagen</translation>
    </message>
    <message id="62301">
        <source>&amp;Text:</source>
        <translation>&amp;Text:</translation>
    </message>
    <message id="62302">
        <source>S&amp;peech</source>
        <translation>S&amp;prechen</translation>
    </message>
    <message id="62303">
        <source>Speak the text once and keep it as the test text</source>
        <translation>Den Text einmal sprechen und als Testtext behalten</translation>
    </message>
    <message id="62304">
        <source>V+</source>
        <translation>V+</translation>
    </message>
    <message id="62305">
        <source>V-</source>
        <translation>V-</translation>
    </message>
    <message id="62306">
        <source>Raise the master volume by 10</source>
        <translation>Die Gesamtlautstärke um 10 erhöhen</translation>
    </message>
    <message id="62307">
        <source>Lower the master volume by 10</source>
        <translation>Die Gesamtlautstärke um 10 verringern</translation>
    </message>
    <message id="62308">
        <source>No sound card with a master volume was found: the volume cannot be changed.</source>
        <translation>Keine Soundkarte mit Gesamtlautstärke gefunden: Die Lautstärke lässt sich nicht ändern.</translation>
    </message>
</context>
</TS>
