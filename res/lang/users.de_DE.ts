<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name></name>
    <message id="62000">
        <source>User List</source>
        <translation>Benutzerliste</translation>
    </message>
    <message id="62001">
        <source>User</source>
        <translation>Benutzer</translation>
    </message>
    <message id="62002">
        <source>ID</source>
        <translation>Nr.</translation>
    </message>
    <message id="62003">
        <source>&amp;Name:</source>
        <translation>&amp;Name:</translation>
    </message>
    <message id="62004">
        <source>&amp;Telephone:</source>
        <translation>&amp;Telefon:</translation>
    </message>
    <message id="62005">
        <source>&amp;E-Mail:</source>
        <translation>&amp;E-Mail:</translation>
    </message>
    <message id="62008">
        <source>&amp;New...</source>
        <translation>&amp;Neu...</translation>
    </message>
    <message id="62009">
        <source>&amp;Delete</source>
        <translation>&amp;Löschen</translation>
    </message>
    <message id="62010">
        <source>&amp;Properties...</source>
        <translation>&amp;Eigenschaften...</translation>
    </message>
    <message id="62011">
        <source>E&amp;xport to CSV</source>
        <translation>Als CSV e&amp;xportieren</translation>
    </message>
    <message id="62012">
        <source>&amp;Import from CSV</source>
        <translation>Aus CSV &amp;importieren</translation>
    </message>
    <message id="62013">
        <source>Copy &amp;Telephone</source>
        <translation>&amp;Telefonnummer kopieren</translation>
    </message>
    <message id="62014">
        <source>Copy &amp;E-Mail</source>
        <translation>E-&amp;Mail-Adresse kopieren</translation>
    </message>
    <message id="62015">
        <source>Cannot export the user list to '%s'.</source>
        <translation>Die Benutzerliste kann nicht nach '%s' exportiert werden.</translation>
    </message>
    <message id="62016">
        <source>Cannot import '%s': the file cannot be read, is not a CSV file, or its first line is not ID,Name,Telephone,Mail.</source>
        <translation>'%s' kann nicht importiert werden: Die Datei ist nicht lesbar, keine CSV-Datei, oder ihre erste Zeile lautet nicht ID,Name,Telephone,Mail.</translation>
    </message>
</context>
</TS>
