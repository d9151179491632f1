<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name></name>
    <message id="62600">
        <source>Build: %s(Unicode)</source>
        <translation>Erstellt: %s (Unicode)</translation>
    </message>
    <message id="62601">
        <source>The Zunaro developers</source>
        <translation>Die Zunaro-Entwickler</translation>
    </message>
    <message id="62602">
        <source>Open %s</source>
        <translation>%s öffnen</translation>
    </message>
</context>
</TS>
