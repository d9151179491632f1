<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name></name>
    <message id="62400">
        <source>Setting</source>
        <translation>设置</translation>
    </message>
    <message id="62401">
        <source>&amp;Language:</source>
        <translation>语言(&amp;L):</translation>
    </message>
    <message id="62402">
        <source>&amp;Default</source>
        <translation>默认(&amp;D)</translation>
    </message>
    <message id="62403">
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message id="62404">
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message id="62405">
        <source>&amp;Yes</source>
        <translation>是(&amp;Y)</translation>
    </message>
    <message id="62406">
        <source>&amp;No</source>
        <translation>否(&amp;N)</translation>
    </message>
    <message id="62410">
        <source>&amp;File</source>
        <translation>文件(&amp;F)</translation>
    </message>
    <message id="62411">
        <source>&amp;Edit</source>
        <translation>编辑(&amp;E)</translation>
    </message>
    <message id="62412">
        <source>&amp;View</source>
        <translation>查看(&amp;V)</translation>
    </message>
    <message id="62413">
        <source>Alarm</source>
        <translation>报警</translation>
    </message>
    <message id="62414">
        <source>&amp;Help</source>
        <translation>帮助(&amp;H)</translation>
    </message>
    <message id="62415">
        <source>Standard</source>
        <translation>标准</translation>
    </message>
    <message id="62416">
        <source>Exit</source>
        <translation>退出</translation>
    </message>
    <message id="62420">
        <source>&amp;New&#x9;Ctrl+N</source>
        <translation>新建(&amp;N)&#x9;Ctrl+N</translation>
    </message>
    <message id="62421">
        <source>&amp;Open...&#x9;Ctrl+O</source>
        <translation>打开(&amp;O)...&#x9;Ctrl+O</translation>
    </message>
    <message id="62422">
        <source>&amp;Save&#x9;Ctrl+S</source>
        <translation>保存(&amp;S)&#x9;Ctrl+S</translation>
    </message>
    <message id="62423">
        <source>Save &amp;As...</source>
        <translation>另存为(&amp;A)...</translation>
    </message>
    <message id="62424">
        <source>Recent File</source>
        <translation>最近的文件</translation>
    </message>
    <message id="62425">
        <source>E&amp;xit</source>
        <translation>退出(&amp;X)</translation>
    </message>
    <message id="62426">
        <source>&amp;Copy&#x9;Ctrl+C</source>
        <translation>复制(&amp;C)&#x9;Ctrl+C</translation>
    </message>
    <message id="62427">
        <source>&amp;Clear Messages</source>
        <translation>清除消息(&amp;C)</translation>
    </message>
    <message id="62428">
        <source>Log &amp;Errors Only</source>
        <translation>仅记录错误(&amp;E)</translation>
    </message>
    <message id="62429">
        <source>Save Log...</source>
        <translation>保存日志...</translation>
    </message>
    <message id="62430">
        <source>Language Setting...</source>
        <translation>语言设置...</translation>
    </message>
    <message id="62431">
        <source>&amp;Toolbar</source>
        <translation>工具栏(&amp;T)</translation>
    </message>
    <message id="62432">
        <source>&amp;Status Bar</source>
        <translation>状态栏(&amp;S)</translation>
    </message>
    <message id="62433">
        <source>Setup Printer Driver...</source>
        <translation>安装打印机驱动程序...</translation>
    </message>
    <message id="62434">
        <source>User...</source>
        <translation>用户...</translation>
    </message>
    <message id="62435">
        <source>GPRS Modem...</source>
        <translation>GPRS 调制解调器...</translation>
    </message>
    <message id="62436">
        <source>E-Mail...</source>
        <translation>电子邮件...</translation>
    </message>
    <message id="62437">
        <source>Voice...</source>
        <translation>语音...</translation>
    </message>
    <message id="62438">
        <source>Enable AutoRun </source>
        <translation>启用开机自动运行 </translation>
    </message>
    <message id="62439">
        <source>Disable AutoRun </source>
        <translation>禁用开机自动运行 </translation>
    </message>
    <message id="62440">
        <source>&amp;Help Contents</source>
        <translation>帮助主题(&amp;H)</translation>
    </message>
    <message id="62441">
        <source>&amp;About Zunaro...</source>
        <translation>关于 Zunaro(&amp;A)...</translation>
    </message>
</context>
</TS>
