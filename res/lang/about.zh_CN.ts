<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name></name>
    <message id="62600">
        <source>Build: %s(Unicode)</source>
        <translation>构建日期：%s (Unicode)</translation>
    </message>
    <message id="62601">
        <source>The Zunaro developers</source>
        <translation>Zunaro 开发者</translation>
    </message>
    <message id="62602">
        <source>Open %s</source>
        <translation>打开 %s</translation>
    </message>
</context>
</TS>
