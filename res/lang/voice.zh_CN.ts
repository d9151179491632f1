<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name></name>
    <message id="62300">
        <source>&amp;Speak every alarm</source>
        <translation>朗读每条报警(&amp;S)</translation>
    </message>
    <message id="62301">
        <source>&amp;Text:</source>
        <translation>文本(&amp;T)：</translation>
    </message>
    <message id="62302">
        <source>S&amp;peech</source>
        <translation>朗读(&amp;P)</translation>
    </message>
    <message id="62303">
        <source>Speak the text once and keep it as the test text</source>
        <translation>朗读一次此文本并将其保存为测试文本</translation>
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
        <translation>将主音量提高 10</translation>
    </message>
    <message id="62307">
        <source>Lower the master volume by 10</source>
        <translation>将主音量降低 10</translation>
    </message>
    <message id="62308">
        <source>No sound card with a master volume was found: the volume cannot be changed.</source>
        <translation>未找到带主音量控制的声卡：无法更改音量。</translation>
    </message>
</context>
</TS>
