<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>MainWindow</name>
    <message>
        <source>ZV Security</source>
        <translation>瓦罗安全工具</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Failed to get the U disk password information, please unplug the disk and re-open the program.</source>
        <translation>获取U盘密码状态失败，请拔插U盘后重新运行程序。</translation>
    </message>
    <message>
        <source>The maximum number of password retries has been reached and the data has been cleared.Please reconfigure the password and use it.</source>
        <translation>密码重试次数已达上限且数据已清除，请重新配置密码后使用它。</translation>
    </message>
    <message>
        <source>The program is not on the secure disk and cannot run. Please use the correct way to run.</source>
        <translation>程序无法在非瓦罗安全盘上运行。请使用正确的方式运行程序。</translation>
    </message>
    <message>
        <source>The program has not found R27D_Q disk with public status, it will exit.</source>
        <translation>当前计算机未发现青岚加密U盘处于公共区，程序即将退出。</translation>
    </message>
    <message>
        <source>Failed to get the U disk information, please unplug the disk and re-open the program.</source>
        <translation>获取U盘信息失败，请拔插U盘后重新运行程序。</translation>
    </message>
    <message>
        <source>The disk service is not reachable: zvsecurity-dbus is not running or does not let you use it. Please start it, or ask your administrator to allow you to use it, and re-open the program.</source>
        <translation>无法连接磁盘服务：zvsecurity-dbus 未运行或不允许您使用。请启动该服务，或请管理员允许您使用，然后重新运行程序。</translation>
    </message>
    <message>
        <source>Minimise</source>
        <translation>最小化</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
</context>
<context>
    <name>disclaimer</name>
    <message>
        <source>Form</source>
        <translation>许可协议</translation>
    </message>
    <message>
        <source>disclaimer</source>
        <translation>许可协议</translation>
    </message>
    <message>
        <source>accept disclaimer</source>
        <translation>我已阅读并同意协议</translation>
    </message>
    <message>
        <source>cancel</source>
        <translation>退出</translation>
    </message>
    <message>
        <source>next</source>
        <translation>下一步</translation>
    </message>
    <message>
        <source>ZV Security</source>
        <translation>瓦罗安全工具</translation>
    </message>
    <message>
        <source>Please read the disclaimer and agree to change the agreement.</source>
        <translation>请阅读许可协议并同意协议。</translation>
    </message>
    <message>
        <source>ok</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Licence agreement</source>
        <translation>许可协议</translation>
    </message>
</context>
<context>
    <name>inputpassword</name>
    <message>
        <source>Form</source>
        <translation>登录</translation>
    </message>
    <message>
        <source>Please enter an 8-16 digit password</source>
        <translation>请输入密码</translation>
    </message>
    <message>
        <source>login</source>
        <translation>登录</translation>
    </message>
    <message>
        <source>Return</source>
        <translation>Return</translation>
    </message>
    <message>
        <source>password prompt</source>
        <translation>密码提示</translation>
    </message>
    <message>
        <source>reset the password</source>
        <translation>重置密码</translation>
    </message>
    <message>
        <source>ZV Security</source>
        <translation>瓦罗安全工具</translation>
    </message>
    <message>
        <source>input password is empty.</source>
        <translation>输入密码为空。</translation>
    </message>
    <message>
        <source>ok</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Password verification cannot be completed, please unplug the U disk and operate again.</source>
        <translation>密码验证无法完成，请拔插U盘后重新运行程序。</translation>
    </message>
    <message>
        <source>The password is wrong, please reenter it.</source>
        <translation>密码错误，请重新输入密码。</translation>
    </message>
    <message>
        <source>The password is wrong, please reenter it.Retry the remaining</source>
        <translation>密码错误，请重新输入密码。密码重试剩余</translation>
    </message>
    <message>
        <source>times.</source>
        <translation>次。</translation>
    </message>
    <message>
        <source>The maximum number of password retries has been reached and the data has been cleared.Please reconfigure the password and use it.</source>
        <translation>密码重试次数已达上限。为了保护你的数据，将进行格式化，所有数据将被清除。请重新配置新密码并格式化后使用。</translation>
    </message>
    <message>
        <source>User data will be formatted and all data will be erased and unrecoverable. Do you want to enter a new password and format it?</source>
        <translation>为了保护您的数据安全，在重置密码后将对您的U盘进行强制格式化，所有数据将被清除。您是否希望继续进行重置密码操作？</translation>
    </message>
    <message>
        <source>Failed to get password prompt message, please check the disk connection status.</source>
        <translation>获取密码提示信息失败，请拔插U盘后重新运行程序。</translation>
    </message>
    <message>
        <source>The disk service is not reachable: zvsecurity-dbus is not running or does not let you use it. Please start it, or ask your administrator to allow you to use it, and re-open the program.</source>
        <translation>无法连接磁盘服务：zvsecurity-dbus 未运行或不允许您使用。请启动该服务，或请管理员允许您使用，然后重新运行程序。</translation>
    </message>
    <message>
        <source>Password</source>
        <translation>密码</translation>
    </message>
</context>
<context>
    <name>setpassword</name>
    <message>
        <source>Form</source>
        <translation>配置新密码</translation>
    </message>
    <message>
        <source>Enter a new password of 8-16 bits</source>
        <translation>输入8-16位数字和字母组成的新密码</translation>
    </message>
    <message>
        <source>Enter an 8-16-bit confirmation password</source>
        <translation>输入确认密码</translation>
    </message>
    <message>
        <source>Enter a password prompt</source>
        <translation>输入密码提示信息</translation>
    </message>
    <message>
        <source>*</source>
        <translation>*</translation>
    </message>
    <message>
        <source>Is required </source>
        <translation>必填项</translation>
    </message>
    <message>
        <source>cancel</source>
        <translation>上一步</translation>
    </message>
    <message>
        <source>ok</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Return</source>
        <translation>Return</translation>
    </message>
    <message>
        <source>Please do not pull out the USB driver 
</source>
        <translation>      请勿拔出U盘。</translation>
    </message>
    <message>
        <source>The USB driver is in the process of resetting</source>
        <translation>      正在配置新密码并格式化...</translation>
    </message>
    <message>
        <source>ZV Security</source>
        <translation>瓦罗安全工具</translation>
    </message>
    <message>
        <source>Invalid password. Passwords must contain  letters and numbers, and must be between 8 and 16 bits.</source>
        <translation>密码无效，密码必须由8-16位数字和字母组成。</translation>
    </message>
    <message>
        <source>The password is too long for the disk: it keeps at most %1 bytes, and a character outside A-Z, a-z and 0-9 takes two to four of them. Please choose a shorter password.</source>
        <translation>密码对U盘来说太长：U盘最多保存%1个字节，字母A-Z、a-z和数字0-9以外的字符每个占两到四个字节。请选择较短的密码。</translation>
    </message>
    <message>
        <source>The password is not the same twice.</source>
        <translation>两次输入密码必须相同。</translation>
    </message>
    <message>
        <source>The password prompt contains the password.</source>
        <translation>密码提示信息不能包含密码。</translation>
    </message>
    <message>
        <source>set password failed, Please unplug the USB and reset the password.</source>
        <translation>设置密码失败，请拔插U盘后重新运行程序。</translation>
    </message>
    <message>
        <source>format partition failed, Please unplug the USB and reset the password.</source>
        <translation>格式化失败，请拔插U盘后重新运行程序。</translation>
    </message>
    <message>
        <source>program is ready, welcome to use.</source>
        <translation>准备就绪，欢迎使用。</translation>
    </message>
    <message>
        <source>The disk service is not reachable: zvsecurity-dbus is not running or does not let you use it. Please start it, or ask your administrator to allow you to use it, and re-open the program.</source>
        <translation>无法连接磁盘服务：zvsecurity-dbus 未运行或不允许您使用。请启动该服务，或请管理员允许您使用，然后重新运行程序。</translation>
    </message>
    <message>
        <source>Progress of the set-up</source>
        <translation>设置进度</translation>
    </message>
    <message>
        <source>Writing the prompt...</source>
        <translation>      正在写入密码提示...</translation>
    </message>
    <message>
        <source>Setting the password...</source>
        <translation>      正在设置密码...</translation>
    </message>
    <message>
        <source>Unlocking the disk...</source>
        <translation>      正在解锁U盘...</translation>
    </message>
    <message>
        <source>Waiting for the disk (%1 of %2)...</source>
        <translation>      正在等待U盘（%1/%2）...</translation>
    </message>
    <message>
        <source>Formatting the disk...</source>
        <translation>      正在格式化U盘...</translation>
    </message>
    <message>
        <source>Unlocking once more...</source>
        <translation>      正在再次解锁U盘...</translation>
    </message>
</context>
<context>
    <name>messagedialog</name>
    <message>
        <source>messagedialog</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>btn1</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>btn0</source>
        <translation>确定</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Ok</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>The program cannot use its lock file %1 (%2). Please ask the administrator to remove the file, then start the program again.</source>
        <translation>程序无法使用锁文件 %1（%2）。请联系管理员删除该文件，然后重新运行程序。</translation>
    </message>
</context>
</TS>
