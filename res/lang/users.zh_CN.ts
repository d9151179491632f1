<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name></name>
    <message id="62000">
        <source>User List</source>
        <translation>用户列表</translation>
    </message>
    <message id="62001">
        <source>User</source>
        <translation>用户</translation>
    </message>
    <message id="62002">
        <source>ID</source>
        <translation>序号</translation>
    </message>
    <message id="62003">
        <source>&amp;Name:</source>
        <translation>姓名(&amp;N):</translation>
    </message>
    <message id="62004">
        <source>&amp;Telephone:</source>
        <translation>电话(&amp;T):</translation>
    </message>
    <message id="62005">
        <source>&amp;E-Mail:</source>
        <translation>电子邮件(&amp;E):</translation>
    </message>
    <message id="62008">
        <source>&amp;New...</source>
        <translation>新建(&amp;N)...</translation>
    </message>
    <message id="62009">
        <source>&amp;Delete</source>
        <translation>删除(&amp;D)</translation>
    </message>
    <message id="62010">
        <source>&amp;Properties...</source>
        <translation>属性(&amp;P)...</translation>
    </message>
    <message id="62011">
        <source>E&amp;xport to CSV</source>
        <translation>导出到 CSV(&amp;X)</translation>
    </message>
    <message id="62012">
        <source>&amp;Import from CSV</source>
        <translation>从 CSV 导入(&amp;I)</translation>
    </message>
    <message id="62013">
        <source>Copy &amp;Telephone</source>
        <translation>复制电话号码(&amp;T)</translation>
    </message>
    <message id="62014">
        <source>Copy &amp;E-Mail</source>
        <translation>复制电子邮件(&amp;E)</translation>
    </message>
    <message id="62015">
        <source>Cannot export the user list to '%s'.</source>
        <translation>无法将用户列表导出到“%s”。</translation>
    </message>
    <message id="62016">
        <source>Cannot import '%s': the file cannot be read, is not a CSV file, or its first line is not ID,Name,Telephone,Mail.</source>
        <translation>无法导入“%s”：文件无法读取、不是 CSV 文件，或其第一行不是 ID,Name,Telephone,Mail。</translation>
    </message>
</context>
</TS>
