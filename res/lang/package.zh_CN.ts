<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name></name>
    <message id="62700">
        <source>Usage: %s [options] [file.znr]</source>
        <translation>用法：%s [选项] [file.znr]</translation>
    </message>
    <message id="62701">
        <source>Zunaro alarm gateway: every print job received on TCP port 9100 becomes an alarm, sent by SMS, e-mail and speech.</source>
        <translation>Zunaro 报警网关：在 TCP 端口 9100 上收到的每个打印作业都会成为一条报警，通过短信、电子邮件和语音发送。</translation>
    </message>
    <message id="62702">
        <source>Options:</source>
        <translation>选项：</translation>
    </message>
    <message id="62703">
        <source>Arguments:</source>
        <translation>参数：</translation>
    </message>
    <message id="62704">
        <source>Show this help and exit.</source>
        <translation>显示此帮助并退出。</translation>
    </message>
    <message id="62705">
        <source>Show the version and exit.</source>
        <translation>显示版本并退出。</translation>
    </message>
    <message id="62706">
        <source>Run without windows; every event line goes to standard output. SIGTERM or Ctrl+C ends it in order.</source>
        <translation>不带窗口运行；每条事件行都输出到标准输出。SIGTERM 或 Ctrl+C 会使其有序结束。</translation>
    </message>
    <message id="62707">
        <source>The settings file to open (default: the most recent one).</source>
        <translation>要打开的设置文件（默认：最近使用的文件）。</translation>
    </message>
    <message id="62708">
        <source>Unknown option '%s'. Try '%s --help'.</source>
        <translation>未知选项“%s”。请尝试“%s --help”。</translation>
    </message>
</context>
</TS>
