<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name></name>
    <message id="128">
        <source>Zunaro


Zunaro Files (*.znr)
.znr
Zunaro.Document
Zunaro Document</source>
        <translation>Zunaro


Zunaro 文件 (*.znr)
.znr
Zunaro.Document
Zunaro 文档</translation>
    </message>
    <message id="20002">
        <source>Zunaro</source>
        <translation>Zunaro</translation>
    </message>
    <message id="57344">
        <source>Zunaro</source>
        <translation>Zunaro</translation>
    </message>
    <message id="10078">
        <source>English</source>
        <translation>简体中文</translation>
    </message>
    <message id="104">
        <source>Alarm printer: 'Generic / Text Only' on 127.0.0.1:9100</source>
        <translation>报警打印机：“Generic / Text Only”，位于 127.0.0.1:9100</translation>
    </message>
    <message id="5002">
        <source>SMS Count: %d</source>
        <translation>短信计数：%d</translation>
    </message>
    <message id="57345">
        <source>Ready</source>
        <translation>就绪</translation>
    </message>
    <message id="108">
        <source>Failed to load '%s'</source>
        <translation>加载“%s”失败</translation>
    </message>
    <message id="109">
        <source>Load '%s' successfully!</source>
        <translation>已成功加载“%s”！</translation>
    </message>
    <message id="123">
        <source>Zunaro-En.pdf</source>
        <translation>Zunaro-En.pdf</translation>
    </message>
    <message id="10079">
        <source>Are you sure to quit Zunaro?</source>
        <translation>确定要退出 Zunaro 吗？</translation>
    </message>
    <message id="126">
        <source>https://zunaro.example.org</source>
        <translation>https://zunaro.example.org</translation>
    </message>
    <message id="5004">
        <source>About</source>
        <translation>关于</translation>
    </message>
    <message id="20004">
        <source>Zunaro</source>
        <translation>Zunaro</translation>
    </message>
    <message id="20006">
        <source>Desktop alarm gateway: print to SMS, e-mail and voice.</source>
        <translation>桌面报警网关：将打印内容转为短信、电子邮件和语音。</translation>
    </message>
    <message id="32771">
        <source>Setup 'Generic / Text Only' Printer Driver</source>
        <translation>安装“Generic / Text Only”打印机驱动程序</translation>
    </message>
    <message id="32778">
        <source>Create user`s telephone number or E-mail.</source>
        <translation>创建用户的电话号码或电子邮件地址。</translation>
    </message>
    <message id="32803">
        <source>Quit the application; prompts to save documents
Exit Zunaro</source>
        <translation>退出应用程序；提示保存文档
退出 Zunaro</translation>
    </message>
    <message id="32804">
        <source>E-Mail setting and testing</source>
        <translation>电子邮件设置与测试</translation>
    </message>
    <message id="32805">
        <source>Clear the event log display</source>
        <translation>清除事件日志显示</translation>
    </message>
    <message id="32806">
        <source>Display only error messages in the event log</source>
        <translation>在事件日志中仅显示错误消息</translation>
    </message>
    <message id="32810">
        <source>Voice setting and testing</source>
        <translation>语音设置与测试</translation>
    </message>
    <message id="32811">
        <source>Save event log to file</source>
        <translation>将事件日志保存到文件</translation>
    </message>
    <message id="32818">
        <source>GPRS Modem setting and testing</source>
        <translation>GPRS 调制解调器设置与测试</translation>
    </message>
    <message id="32825">
        <source>Open Zunaro.pdf File</source>
        <translation>打开 Zunaro.pdf 文件</translation>
    </message>
    <message id="32814">
        <source>Export userlist to CSV file</source>
        <translation>将用户列表导出到 CSV 文件</translation>
    </message>
    <message id="32815">
        <source>Import userlist from CSV file</source>
        <translation>从 CSV 文件导入用户列表</translation>
    </message>
    <message id="32816">
        <source>Copy telephone number</source>
        <translation>复制电话号码</translation>
    </message>
    <message id="32817">
        <source>Copy E-mail</source>
        <translation>复制电子邮件地址</translation>
    </message>
    <message id="32839">
        <source>New user</source>
        <translation>新建用户</translation>
    </message>
    <message id="32840">
        <source>Delete user</source>
        <translation>删除用户</translation>
    </message>
    <message id="32841">
        <source>Show properties for selected object
Properties</source>
        <translation>显示所选对象的属性
属性</translation>
    </message>
    <message id="114">
        <source>User</source>
        <translation>用户</translation>
    </message>
    <message id="115">
        <source>Telephone</source>
        <translation>电话号码</translation>
    </message>
    <message id="116">
        <source>E-Mail</source>
        <translation>电子邮件</translation>
    </message>
    <message id="10067">
        <source>CSV Files (*.csv)|*.csv|</source>
        <translation>CSV 文件 (*.csv)|*.csv|</translation>
    </message>
    <message id="10068">
        <source>Export to Excel</source>
        <translation>导出到 Excel</translation>
    </message>
    <message id="10069">
        <source>Import from Excel</source>
        <translation>从 Excel 导入</translation>
    </message>
    <message id="61222">
        <source>Telephone number and E-mail address are empty</source>
        <translation>电话号码和电子邮件地址均为空</translation>
    </message>
    <message id="61223">
        <source>Telephone number is exist.</source>
        <translation>电话号码已存在。</translation>
    </message>
    <message id="61224">
        <source>Telephone number is error.</source>
        <translation>电话号码无效。</translation>
    </message>
    <message id="61226">
        <source>E-mail address is exist.</source>
        <translation>电子邮件地址已存在。</translation>
    </message>
    <message id="61227">
        <source>E-mail address is error.</source>
        <translation>电子邮件地址无效。</translation>
    </message>
    <message id="112">
        <source>SMS Text is empty.</source>
        <translation>短信内容为空。</translation>
    </message>
    <message id="113">
        <source>Telephone number is wrong.</source>
        <translation>电话号码不正确。</translation>
    </message>
    <message id="119">
        <source>Send '%s' to '%s' successfully!</source>
        <translation>已成功将“%s”发送至“%s”！</translation>
    </message>
    <message id="120">
        <source>Send '%s' to '%s' unsuccessfully!</source>
        <translation>将“%s”发送至“%s”失败！</translation>
    </message>
    <message id="131">
        <source>Voice[Volume:%d]</source>
        <translation>语音 [音量：%d]</translation>
    </message>
    <message id="10005">
        <source>Event</source>
        <translation>事件</translation>
    </message>
    <message id="10024">
        <source>Date</source>
        <translation>日期</translation>
    </message>
    <message id="10025">
        <source>Time</source>
        <translation>时间</translation>
    </message>
    <message id="61229">
        <source>'Generic / Text Only' Printer Driver is exist.</source>
        <translation>“Generic / Text Only”打印机驱动程序已存在。</translation>
    </message>
    <message id="61230">
        <source>Failed to execute vbs.</source>
        <translation>无法执行 vbs。</translation>
    </message>
    <message id="61231">
        <source>Failed to get environment variable.</source>
        <translation>无法获取环境变量。</translation>
    </message>
    <message id="61232">
        <source>Failed to setup 'Generic / Text Only' Printer Driver.</source>
        <translation>安装“Generic / Text Only”打印机驱动程序失败。</translation>
    </message>
    <message id="61233">
        <source>Succeed to setup 'Generic / Text Only' Printer Driver.</source>
        <translation>已成功安装“Generic / Text Only”打印机驱动程序。</translation>
    </message>
    <message id="61700">
        <source>Adding printers needs membership in the group '%s' (for example: sudo usermod -aG %s $USER, then log in again).</source>
        <translation>添加打印机需要属于“%s”组（例如：sudo usermod -aG %s $USER，然后重新登录）。</translation>
    </message>
    <message id="61701">
        <source>lpadmin did not finish within %d seconds.</source>
        <translation>lpadmin 未在 %d 秒内完成。</translation>
    </message>
    <message id="61702">
        <source>lpadmin ended with exit status %d.</source>
        <translation>lpadmin 已结束，退出状态为 %d。</translation>
    </message>
    <message id="61703">
        <source>lpadmin ended abnormally.</source>
        <translation>lpadmin 异常结束。</translation>
    </message>
    <message id="61704">
        <source>The program '%s' was not found.</source>
        <translation>未找到程序“%s”。</translation>
    </message>
    <message id="61705">
        <source>Cannot write the logon-start entry '%s': %s</source>
        <translation>无法写入登录自启动项“%s”：%s</translation>
    </message>
    <message id="61706">
        <source>Cannot remove the logon-start entry '%s': %s</source>
        <translation>无法删除登录自启动项“%s”：%s</translation>
    </message>
    <message id="61707">
        <source>The program path '%s' cannot stand in a desktop entry.</source>
        <translation>程序路径“%s”不能用于桌面启动项。</translation>
    </message>
    <message id="61800">
        <source>The outbox '%s' is damaged at byte %s: %s bytes were skipped, with any alarm message stored in them.</source>
        <translation>发件箱“%s”在第 %s 字节处损坏：已跳过 %s 字节，连同其中存储的所有报警消息。</translation>
    </message>
    <message id="61801">
        <source>Cannot open the outbox '%s': %s</source>
        <translation>无法打开发件箱“%s”：%s</translation>
    </message>
    <message id="61802">
        <source>Cannot write the outbox '%s': %s</source>
        <translation>无法写入发件箱“%s”：%s</translation>
    </message>
    <message id="61803">
        <source>The outbox is full (%s messages).</source>
        <translation>发件箱已满（%s 条消息）。</translation>
    </message>
    <message id="61804">
        <source>A message of %s bytes is too long for the outbox (at most %s).</source>
        <translation>%s 字节的消息超出发件箱的长度上限（最多 %s 字节）。</translation>
    </message>
    <message id="61805">
        <source>Resending %d alarm messages left from the last run.</source>
        <translation>正在重新发送上次运行遗留的 %d 条报警消息。</translation>
    </message>
    <message id="61720">
        <source>Another Zunaro.exe is running!</source>
        <translation>另一个 Zunaro.exe 正在运行！</translation>
    </message>
    <message id="61721">
        <source>Save changes to %s?</source>
        <translation>是否保存对 %s 的更改？</translation>
    </message>
    <message id="61722">
        <source>About Zunaro</source>
        <translation>关于 Zunaro</translation>
    </message>
    <message id="61723">
        <source>Open</source>
        <translation>打开</translation>
    </message>
    <message id="61724">
        <source>Save As</source>
        <translation>另存为</translation>
    </message>
    <message id="61234">
        <source>Failed to initialize Zunaro.</source>
        <translation>Zunaro 初始化失败。</translation>
    </message>
    <message id="61235">
        <source>Succeed to initialize Zunaro.</source>
        <translation>Zunaro 初始化成功。</translation>
    </message>
    <message id="61300">
        <source>Print capture paused: %s. Retrying.</source>
        <translation>打印接收已暂停：%s。正在重试。</translation>
    </message>
    <message id="61301">
        <source>Print capture resumed.</source>
        <translation>打印接收已恢复。</translation>
    </message>
    <message id="61310">
        <source>Failed to initialize voice engine.</source>
        <translation>语音引擎初始化失败。</translation>
    </message>
    <message id="61311">
        <source>Succeed to initialize voice engine.</source>
        <translation>语音引擎初始化成功。</translation>
    </message>
    <message id="61312">
        <source>Speak '%s' unsuccessfully! The speech queue is full.</source>
        <translation>朗读“%s”失败！语音队列已满。</translation>
    </message>
    <message id="61313">
        <source>Speak '%s' unsuccessfully! The speech worker stopped.</source>
        <translation>朗读“%s”失败！语音工作线程已停止。</translation>
    </message>
    <message id="61400">
        <source>SMS queue is full: '%s' to '%s' was refused.</source>
        <translation>短信队列已满：已拒绝将“%s”发送至“%s”。</translation>
    </message>
    <message id="61401">
        <source>SMS to '%s' refused: the telephone number is not valid. Text: '%s'</source>
        <translation>发往“%s”的短信被拒绝：电话号码无效。内容：“%s”</translation>
    </message>
    <message id="61402">
        <source>Lost the serial port %s.</source>
        <translation>与串口 %s 的连接已丢失。</translation>
    </message>
    <message id="61403">
        <source>The modem's reply was longer than %d characters and was discarded.</source>
        <translation>调制解调器的应答超过 %d 个字符，已被丢弃。</translation>
    </message>
    <message id="61404">
        <source>The modem listed %d messages; only the first %d were read.</source>
        <translation>调制解调器列出了 %d 条短信，只读取了前 %d 条。</translation>
    </message>
    <message id="61405">
        <source>SMS to '%s' not sent: the modem driver stopped first. Text: '%s'</source>
        <translation>发往“%s”的短信未发送：调制解调器驱动程序已先停止。内容：“%s”</translation>
    </message>
</context>
</TS>
