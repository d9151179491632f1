<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name></name>
    <message id="62200">
        <source>E-Mail</source>
        <translation>电子邮件</translation>
    </message>
    <message id="62201">
        <source>&amp;E-mail(HotMail):</source>
        <translation>电子邮件(HotMail)(&amp;E):</translation>
    </message>
    <message id="62202">
        <source>&amp;Password:</source>
        <translation>密码(&amp;P):</translation>
    </message>
    <message id="62203">
        <source>Test</source>
        <translation>测试</translation>
    </message>
    <message id="62204">
        <source>&amp;To:</source>
        <translation>收件人(&amp;T):</translation>
    </message>
    <message id="62205">
        <source>...</source>
        <translation>...</translation>
    </message>
    <message id="62206">
        <source>&amp;Send</source>
        <translation>发送(&amp;S)</translation>
    </message>
    <message id="62209">
        <source>Outgoing server</source>
        <translation>发送邮件服务器</translation>
    </message>
    <message id="62210">
        <source>Se&amp;rver:</source>
        <translation>服务器(&amp;R):</translation>
    </message>
    <message id="62211">
        <source>P&amp;ort:</source>
        <translation>端口(&amp;O):</translation>
    </message>
    <message id="62212">
        <source>Sec&amp;urity:</source>
        <translation>安全(&amp;U):</translation>
    </message>
    <message id="62213">
        <source>None</source>
        <translation>无</translation>
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
        <translation>验证服务器证书(&amp;V)</translation>
    </message>
    <message id="62217">
        <source>&amp;CA file:</source>
        <translation>CA 文件(&amp;C):</translation>
    </message>
    <message id="62218">
        <source>Sending the test mail to '%s'...</source>
        <translation>正在向 '%s' 发送测试邮件...</translation>
    </message>
    <message id="62219">
        <source>Show the recipient list</source>
        <translation>显示收件人列表</translation>
    </message>
    <message id="62220">
        <source>The test mail to '%s' was sent.</source>
        <translation>发往 '%s' 的测试邮件已发送。</translation>
    </message>
    <message id="62221">
        <source>The test mail to '%s' was not sent.</source>
        <translation>发往 '%s' 的测试邮件未能发送。</translation>
    </message>
</context>
</TS>
